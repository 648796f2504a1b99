#ifndef SIMPROCESS_H
#define SIMPROCESS_H

// SimProcess: runs build/bin/quarnel-sim (the module and board simulator) for a test.
//
//     SimProcess sim;
//     QVERIFY2(sim.start({"--ip", "127.0.0.9", "--board", "UNO"}), qPrintable(sim.errorText()));
//     // sim.ip(), sim.dataPort(), sim.atPort(): where the (first) module listens
//     ... run the tool or a client against the module ...
//     const QByteArray flash = sim.flash();   // module 0's whole flash, read over the control channel
//     QVERIFY(sim.stop());                    // SIGTERM and wait; the destructor does the same
//
// start() adds "--data-port 0 --at-port 0 --control-port 0" (an announce-only module: data port
// 8000) unless the arguments name those options, so parallel tests never fight over ports; pass "--announce-ms 0" when nothing should
// reach the real discovery port. With "--count N" module i sits at ip() + i, on the same ports.
// For the flash file (--flash-out FILE, written whenever a data connection closes), wait with
// waitForFile(FILE, size). Header-only: include it in any test and link Qt5::Network.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpSocket>
#include <QThread>

class SimProcess
{
public:
    static const int DefaultStartMs = 15000; // the boards load and start their bootloaders first
    static const int DefaultStopMs = 10000;
    static const int DefaultIoMs = 10000;

    SimProcess() = default;
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    ~SimProcess() { stop(); }

    static QString program() { return QStringLiteral(QUARNEL_BIN_DIR "/quarnel-sim"); }

    // Starts the simulator and waits for its ready line. False (see errorText()) if it exits or
    // stays silent; a failed start leaves nothing running.
    bool start(QStringList arguments, int timeoutMs = DefaultStartMs)
    {
        stop();
        // An announce-only module (--board none) serves no data port, so it gets no free one;
        // it announces a fixed number, since a port 0 would make its announcements ignored.
        const int board = arguments.indexOf(QStringLiteral("--board"));
        const bool announceOnly = board >= 0 && arguments.value(board + 1) == QLatin1String("none");
        for (const char *option : {"--data-port", "--at-port", "--control-port"}) {
            if (!arguments.contains(QLatin1String(option)))
                arguments << QLatin1String(option)
                          << (announceOnly && !qstrcmp(option, "--data-port") ? QStringLiteral("8000") : QStringLiteral("0"));
        }
        failure.clear();
        process.setProgram(program());
        process.setArguments(arguments);
        process.start();
        if (!process.waitForStarted(timeoutMs))
            return startFailed(QStringLiteral("cannot start %1: %2").arg(program(), process.errorString()));
        QElapsedTimer clock;
        clock.start();
        QByteArray out;
        while (!out.contains('\n')) {
            const int left = int(timeoutMs - clock.elapsed());
            if (left <= 0)
                return startFailed(QStringLiteral("no ready line within %1 ms").arg(timeoutMs));
            if (!process.waitForReadyRead(left) && process.state() != QProcess::Running)
                return startFailed(QStringLiteral("exited with code %1 before it was ready").arg(process.exitCode()));
            out += process.readAllStandardOutput();
        }
        readyText = QString::fromUtf8(out.left(out.indexOf('\n')));
        static const QRegularExpression pattern(QStringLiteral(
            "^quarnel-sim ready: ip=(\\S+) count=(\\d+) board=(\\S+) data-port=(\\d+) at-port=(\\d+) control-port=(\\d+)$"));
        const QRegularExpressionMatch m = pattern.match(readyText);
        if (!m.hasMatch())
            return startFailed(QStringLiteral("unexpected ready line: %1").arg(readyText));
        address = QHostAddress(m.captured(1));
        moduleCount = m.captured(2).toInt();
        data = quint16(m.captured(4).toUInt());
        at = quint16(m.captured(5).toUInt());
        control = quint16(m.captured(6).toUInt());
        return true;
    }

    // SIGTERM, then waits; true if the simulator ended by itself with exit code 0.
    bool stop(int timeoutMs = DefaultStopMs)
    {
        if (process.state() == QProcess::NotRunning)
            return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        process.terminate();
        if (process.waitForFinished(timeoutMs))
            return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        process.kill();
        process.waitForFinished(timeoutMs);
        failure = QStringLiteral("did not stop within %1 ms of SIGTERM").arg(timeoutMs);
        return false;
    }

    bool isRunning() const { return process.state() == QProcess::Running; }
    QHostAddress ip(int module = 0) const { return QHostAddress(address.toIPv4Address() + quint32(module)); }
    int count() const { return moduleCount; }
    quint16 dataPort() const { return data; }
    quint16 atPort() const { return at; }
    quint16 controlPort() const { return control; }
    QString readyLine() const { return readyText; }
    QProcess &qprocess() { return process; }

    // Why the last start or control request failed, with what the simulator wrote to stderr.
    QString errorText()
    {
        return failure + QStringLiteral("\nstderr: ") + QString::fromLocal8Bit(process.readAllStandardError());
    }

    // The whole flash of module i, over the control channel; empty (see errorText()) on failure.
    QByteArray flash(int module = 0, int timeoutMs = DefaultIoMs)
    {
        QByteArray header;
        QByteArray body;
        if (!request(QStringLiteral("flash %1").arg(module), timeoutMs, &header, &body))
            return QByteArray();
        return body;
    }

    // Flash pages written by module i's board since the start; -1 on failure.
    int pagesWritten(int module = 0, int timeoutMs = DefaultIoMs)
    {
        QByteArray header;
        return request(QStringLiteral("pages %1").arg(module), timeoutMs, &header, nullptr) ? header.toInt() : -1;
    }

    // Whether module i's data port serves a client now; false also on failure.
    bool hasDataClient(int module = 0, int timeoutMs = DefaultIoMs)
    {
        QByteArray header;
        return request(QStringLiteral("client %1").arg(module), timeoutMs, &header, nullptr) && header == "1";
    }

    // Waits until the file exists with the given size (the simulator replaces it atomically) and
    // returns its contents; empty after the time-out.
    static QByteArray waitForFile(const QString &path, qint64 size, int timeoutMs = DefaultIoMs)
    {
        QElapsedTimer clock;
        clock.start();
        do {
            QFile file(path);
            if (file.size() == size && file.open(QIODevice::ReadOnly))
                return file.readAll();
            QThread::msleep(20); // a file gives no signal; poll it
        } while (clock.elapsed() < timeoutMs);
        return QByteArray();
    }

private:
    bool startFailed(const QString &reason)
    {
        failure = reason;
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(DefaultStopMs);
        }
        return false;
    }

    // Sends one control line; *header receives the first answer line, *body the bytes it counts.
    bool request(const QString &line, int timeoutMs, QByteArray *header, QByteArray *body)
    {
        if (control == 0) {
            failure = QStringLiteral("the simulator has no control channel");
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(address, control);
        if (!socket.waitForConnected(timeoutMs)) {
            failure = QStringLiteral("control channel: %1").arg(socket.errorString());
            return false;
        }
        socket.write(line.toLatin1() + '\n');
        QElapsedTimer clock;
        clock.start();
        QByteArray received;
        while (clock.elapsed() < timeoutMs) {
            const int lineFeed = received.indexOf('\n');
            if (lineFeed >= 0) {
                *header = received.left(lineFeed);
                if (header->startsWith("error")) {
                    failure = QString::fromUtf8(*header);
                    return false;
                }
                if (!body)
                    return true;
                const int size = header->toInt();
                if (received.size() - lineFeed - 1 >= size) {
                    *body = received.mid(lineFeed + 1, size);
                    return true;
                }
            }
            if (!socket.waitForReadyRead(int(qMax<qint64>(1, timeoutMs - clock.elapsed()))))
                break;
            received += socket.readAll();
        }
        failure = QStringLiteral("control channel: no complete answer to \"%1\"").arg(line);
        return false;
    }

    QProcess process;
    QString failure;
    QString readyText;
    QHostAddress address;
    int moduleCount = 0;
    quint16 data = 0;
    quint16 at = 0;
    quint16 control = 0;
};

#endif // SIMPROCESS_H
