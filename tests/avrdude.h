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

// When avrdude comes in: right after the reset (quick, as the bootloader waits only about a
// second), or first, holding the data port while the board's application prints, with the reset
// after it, as a user's upload into a printing board goes; avrdude drains the line until it is
// quiet, then synchronises.
enum class AvrdudeOrder { AfterReset, BeforeReset };

// Runs avrdude with one memory operation (its -U argument) against module 0 of `sim`, which has
// `board` behind it; it must end well and report the flash verified.
inline void avrdudeThroughModule(SimProcess &sim, const QString &board, const QString &operation,
                                 int timeoutMs, AvrdudeOrder order = AvrdudeOrder::AfterReset)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    QVERIFY2(!program.isEmpty(), "avrdude is not installed (scripts/install-deps installs it)");
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    const QString port = QStringLiteral("net:%1:%2").arg(sim.ip().toString()).arg(sim.dataPort());
    const auto startAvrdude = [&] { run.start(program, avrdudePart(board) + QStringList{"-P", port, "-U", operation}); };
    if (order == AvrdudeOrder::BeforeReset) {
        startAvrdude();
        QTRY_VERIFY_WITH_TIMEOUT(sim.hasDataClient(), ModuleIoMs);
    }
    // The AT connection is held until avrdude is done, as the worker holds it.
    QTcpSocket at;
    at.connectToHost(sim.ip(), sim.atPort());
    QVERIFY(at.waitForConnected(ModuleIoMs));
    QCOMPARE(atExchange(at, "AT+U2W=CLIENT\r\n"), QByteArray("OK\r\n"));
    QCOMPARE(atExchange(at, board == QLatin1String("UNO") ? "AT+MCUUPDATE=UNO" : "AT+MCUUPDATE=MEGA"),
             QByteArray("OK\r\n"));
    if (order == AvrdudeOrder::AfterReset)
        startAvrdude();
    QVERIFY(run.waitForFinished(timeoutMs));
    const QByteArray log = run.readAll();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, log.constData());
    QVERIFY2(log.contains("bytes of flash verified"), log.constData());
}

#endif // AVRDUDE_H
