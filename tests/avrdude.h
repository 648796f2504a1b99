#ifndef AVRDUDE_H
#define AVRDUDE_H

// avrdude, an independent STK500 client, run against a simulated module: the module is switched
// into upload mode as the worker switches it, then avrdude talks to the bootloader through the
// module's data port. Header-only; link Qt5::Network and Qt5::Test.

#include "simprocess.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>

const int ModuleIoMs = 5000; // the AT connection and each AT reply

// avrdude's programmer and part for a board; -D: no chip erase, as the upload worker sends none.
inline QStringList avrdudePart(const QString &board)
{
    return board == QLatin1String("UNO") ? QStringList{"-c", "arduino", "-p", "atmega328p"}
                                         : QStringList{"-c", "wiring", "-p", "atmega2560", "-D"};
}

// Sends one AT command; the reply, once two bytes or more have come, or what came in time.
inline QByteArray atExchange(QTcpSocket &socket, const QByteArray &command)
{
    socket.write(command);
    QByteArray reply;
    while (reply.size() < 2 && socket.waitForReadyRead(ModuleIoMs))
        reply += socket.readAll();
    return reply;
}

// Runs avrdude with one memory operation (its -U argument) against module 0 of `sim`, which has
// `board` behind it; it must end well and report the flash verified.
inline void avrdudeThroughModule(SimProcess &sim, const QString &board, const QString &operation,
                                 int timeoutMs)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    QVERIFY2(!program.isEmpty(), "avrdude is not installed (scripts/install-deps installs it)");
    // The bootloaders wait only about a second for their first command: avrdude starts right
    // after the reset, while the AT connection is still held.
    QTcpSocket at;
    at.connectToHost(sim.ip(), sim.atPort());
    QVERIFY(at.waitForConnected(ModuleIoMs));
    QCOMPARE(atExchange(at, "AT+U2W=CLIENT\r\n"), QByteArray("OK\r\n"));
    QCOMPARE(atExchange(at, board == QLatin1String("UNO") ? "AT+MCUUPDATE=UNO" : "AT+MCUUPDATE=MEGA"),
             QByteArray("OK\r\n"));
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    const QString port = QStringLiteral("net:%1:%2").arg(sim.ip().toString()).arg(sim.dataPort());
    run.start(program, avrdudePart(board) + QStringList{"-P", port, "-U", operation});
    QVERIFY(run.waitForFinished(timeoutMs));
    const QByteArray log = run.readAll();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, log.constData());
    QVERIFY2(log.contains("bytes of flash verified"), log.constData());
}

#endif // AVRDUDE_H
