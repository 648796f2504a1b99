#include "protocolbytes.h"
#include "uploadpeer.h"

#include "stderrcapture.h"

#include <QDir>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

using namespace upload;

namespace {

// Values the scripted bootloaders report; the uploader must not care which.
const QByteArray SignOnName = QByteArrayLiteral("AVRISP_2");
const QByteArray Atmega328pSignature = QByteArray::fromHex("1e950f");
const QByteArray Atmega2560Signature = QByteArray::fromHex("1e9801");
const int FlashSize = 256 * 1024;
const int SplitDelay = 5; // ms between the pieces of a split reply
const int ManyPieces = 64;
const int FillerWait = 200; // ms; a connection to a full listen queue is not answered in this
const char StkNoSync = 0x15;
const QByteArray ApplicationOutput = QByteArrayLiteral("tick\r\n");

// The bytes cut into n pieces of about equal size (fewer if there are fewer bytes).
QList<QByteArray> cut(const QByteArray &bytes, int n)
{
    n = qMax(1, qMin(n, int(bytes.size())));
    QList<QByteArray> pieces;
    for (int k = 0; k < n; ++k)
        pieces << bytes.mid(k * bytes.size() / n, (k + 1) * bytes.size() / n - k * bytes.size() / n);
    return pieces;
}

quint8 byteAt(const QByteArray &bytes, int i)
{
    return quint8(bytes.at(i));
}

} // namespace

ScriptedModule::ScriptedModule(Protocol protocol, const QHostAddress &address)
    : protocol(protocol), host(address), memory(FlashSize, char(0xFF)),
      chipSignature(protocol == Protocol::Stk500v1 ? Atmega328pSignature : Atmega2560Signature)
{
    connect(&dataServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = dataServer.nextPendingConnection()) {
            ++dataAccepted;
            socket->setParent(this);
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket->write(greeting);
            dataSocket = socket;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { dataReady(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++closed; });
        }
    });
    connect(&atServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = atServer.nextPendingConnection()) {
            ++atAccepted;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { atReady(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++closed; });
        }
    });
}

bool ScriptedModule::listen()
{
    return dataServer.listen(host, 0) && atServer.listen(host, 0);
}

void ScriptedModule::stopListening()
{
    dataServer.close();
    atServer.close();
}

void ScriptedModule::stopListeningAt()
{
    atServer.close();
}

int ScriptedModule::dataConnections()
{
    dataServer.waitForNewConnection(0);
    return dataAccepted;
}

int ScriptedModule::atConnections()
{
    atServer.waitForNewConnection(0);
    return atAccepted;
}

void ScriptedModule::addFault(const QByteArray &match, int occurrence, Fault fault)
{
    rules.append({match, occurrence, fault, 0});
}

void ScriptedModule::setAtReplies(const QByteArray &first, const QByteArray &second)
{
    atReplies[0] = first;
    atReplies[1] = second;
}

void ScriptedModule::setFlippedFlashByte(qint64 at)
{
    flipped = at;
}

void ScriptedModule::holdDataHandshakes(int ms)
{
    dataServer.pauseAccepting();
    for (;;) {
        auto filler = std::make_unique<QTcpSocket>();
        filler->connectToHost(host, dataPort());
        if (!filler->waitForConnected(FillerWait))
            break;
        queueFillers.push_back(std::move(filler));
    }
    if (ms >= 0) {
        QTimer::singleShot(ms, this, [this] {
            queueFillers.clear();
            dataServer.resumeAccepting();
        });
    }
}

// Commands come one after another, the mode-switch commands without a line end; each mode switch
// resets the board, whose bootloader forgets what it had of a request.
void ScriptedModule::atReady(QTcpSocket *socket)
{
    const QByteArray bytes = socket->readAll();
    atBytes.append(bytes);
    atPending.append(bytes);
    static const QByteArray client = QByteArrayLiteral("AT+U2W=CLIENT\r\n");
    static const QList<QByteArray> updates = {QByteArrayLiteral("AT+MCUUPDATE=MEGA"),
                                              QByteArrayLiteral("AT+MCUUPDATE=UNO")};
    for (;;) {
        int reply = -1;
        if (atPending.startsWith(client)) {
            atPending.remove(0, client.size());
            reply = 0;
        }
        for (const QByteArray &update : updates) {
            if (reply < 0 && atPending == update) {
                atPending.clear();
                reply = 1;
                pending.clear();
                gone = false;
                if (dataSocket)
                    dataSocket->write(resetNoise);
            }
        }
        if (reply < 0)
            return;
        const QByteArray answer = atReplies[reply];
        if (atGap <= 0) {
            socket->write(answer);
            continue;
        }
        socket->write(answer.left(1));
        QTimer::singleShot(atGap, socket, [socket, rest = answer.mid(1)] { socket->write(rest); });
    }
}

qint64 ScriptedModule::nextRequestLength() const
{
    if (pending.isEmpty())
        return -1;
    if (protocol == Protocol::Stk500v2) {
        if (byteAt(pending, 0) != 0x1B)
            return pending.size(); // garbage: taken as one request, never answered
        return pending.size() < 4 ? -1 : ((byteAt(pending, 2) << 8) | byteAt(pending, 3)) + 6;
    }
    switch (byteAt(pending, 0)) {
    case 0x30: case 0x50: case 0x51: case 0x75:
        return 2;
    case 0x41:
        return 3;
    case 0x42:
        return 22;
    case 0x45:
        return pending.size() < 2 ? -1 : 2 + byteAt(pending, 1);
    case 0x55:
        return 4;
    case 0x56:
        return 6;
    case 0x64:
        return pending.size() < 3 ? -1 : 5 + ((byteAt(pending, 1) << 8) | byteAt(pending, 2));
    case 0x74:
        return 5;
    default:
        return pending.size();
    }
}

void ScriptedModule::dataReady(QTcpSocket *socket)
{
    const QByteArray bytes = socket->readAll();
    dataBytes.append(bytes);
    pending.append(bytes);
    for (qint64 length = nextRequestLength(); length > 0 && pending.size() >= length;
         length = nextRequestLength()) {
        const QByteArray request = pending.left(int(length));
        pending.remove(0, int(length));
        requestLog.append(request);
        if (!held.isEmpty() && heldBy == Fault::Overrun) {
            gone = true;
            sendPieces(socket, {held});
            held.clear();
        }
        if (gone)
            continue;
        const bool v2 = protocol == Protocol::Stk500v2;
        const QByteArray key = v2 ? request.mid(5, request.size() - 6) : request;
        int pieces = 1;
        QByteArray reply = applyFault(v2 ? answerV2(request) : answerV1(request), key, &pieces);
        if (pieces == 0)
            continue;
        if (!held.isEmpty() && heldBy == Fault::Late) {
            sendPieces(socket, QList<QByteArray>{held} + cut(reply, pieces));
            held.clear();
            continue;
        }
        if (!held.isEmpty()) {
            reply.prepend(held);
            held.clear();
            if (heldBy == Fault::JoinedInThree) {
                sendPieces(socket, {reply.left(1), reply.mid(1, reply.size() - 2), reply.right(1)});
                continue;
            }
        }
        sendPieces(socket, cut(reply, pieces));
    }
}

QByteArray ScriptedModule::applyFault(QByteArray reply, const QByteArray &key, int *pieces)
{
    for (Rule &rule : rules) {
        if (!key.startsWith(rule.match))
            continue;
        const int seen = rule.seen++;
        if (rule.occurrence != -1 && rule.occurrence != seen)
            continue;
        switch (rule.fault) {
        case Fault::Silent:
            return {};
        case Fault::Vanish:
            stopListening();
            return {};
        case Fault::ExtraByte:
            return reply.append(char(0x10));
        case Fault::MissingByte:
            return reply.left(reply.size() - 1);
        case Fault::LastByteFlipped:
            reply[reply.size() - 1] = char(~reply.at(reply.size() - 1));
            return reply;
        case Fault::Flood:
            return reply.append(QByteArray(4 << 20, char(0x1B)));
        case Fault::FailedStatus:
            reply[reply.size() - 1] = char(reply.at(reply.size() - 1) ^ reply.at(6) ^ char(0xC0));
            reply[6] = char(0xC0);
            return reply;
        case Fault::NoSync:
            return QByteArray(reply.size(), StkNoSync);
        case Fault::Application:
            return ApplicationOutput.repeated(reply.size()).left(reply.size());
        case Fault::WrongSequence:
            return stk500v2Frame(quint8(byteAt(reply, 1) - 1), reply.mid(5, reply.size() - 6));
        case Fault::Split:
            *pieces = 3;
            return reply;
        case Fault::Pieces:
            *pieces = ManyPieces;
            return reply;
        case Fault::Overrun:
        case Fault::Late:
        case Fault::Joined:
        case Fault::JoinedInThree:
            held = reply;
            heldBy = rule.fault;
            *pieces = 0;
            return {};
        }
    }
    return reply;
}

void ScriptedModule::sendPieces(QTcpSocket *socket, const QList<QByteArray> &pieces)
{
    if (!line.isValid())
        line.start();
    QPointer<QTcpSocket> target(socket);
    const qint64 now = line.elapsed();
    // Pieces still waiting: these follow the last of them.
    qint64 due = lineBusyUntil > now ? lineBusyUntil + SplitDelay : now;
    for (const QByteArray &piece : pieces) {
        if (piece.isEmpty())
            continue;
        if (due == now) {
            socket->write(piece);
        } else {
            lineBusyUntil = due;
            QTimer::singleShot(int(due - now), Qt::PreciseTimer, this, [target, piece] {
                if (target)
                    target->write(piece);
            });
        }
        due += SplitDelay;
    }
}

void ScriptedModule::writeFlash(const QByteArray &data)
{
    for (int i = 0; i < data.size() && cursor + i < memory.size(); ++i) {
        const qint64 at = cursor + i;
        memory[int(at)] = at == flipped ? char(~data.at(i)) : data.at(i);
    }
}

QByteArray ScriptedModule::answerV1(const QByteArray &request)
{
    const QByteArray inSync(1, char(0x14));
    const QByteArray ok(1, char(0x10));
    switch (byteAt(request, 0)) {
    case 0x41:
        return inSync + char(byteAt(request, 1) == 0x80 ? 0x02 : 0x04) + ok;
    case 0x56:
        return inSync + char(0xFF) + ok;
    case 0x75:
        return inSync + chipSignature + ok;
    case 0x55:
        cursor = qint64(2) * ((byteAt(request, 2) << 8) | byteAt(request, 1));
        return inSync + ok;
    case 0x64:
        writeFlash(request.mid(4, request.size() - 5));
        return inSync + ok;
    case 0x74: {
        const int n = (byteAt(request, 1) << 8) | byteAt(request, 2);
        return inSync + memory.mid(int(cursor), n) + ok;
    }
    case 0x30: case 0x42: case 0x45: case 0x50: case 0x51:
        return inSync + ok;
    default:
        return {};
    }
}

QByteArray ScriptedModule::answerV2(const QByteArray &frame)
{
    if (frame.size() < 7)
        return {};
    const quint8 sequence = byteAt(frame, 1);
    const QByteArray body = frame.mid(5, frame.size() - 6);
    const char command = body.at(0);
    const QByteArray ok(1, char(0x00));
    switch (byteAt(body, 0)) {
    case 0x01:
        return stk500v2Frame(sequence, command + ok + char(SignOnName.size()) + SignOnName);
    case 0x03:
        return stk500v2Frame(sequence, command + ok + char(0x02));
    case 0x10: case 0x11:
        return stk500v2Frame(sequence, command + ok);
    case 0x1D:
        return stk500v2Frame(sequence, command + ok + QByteArray(3, '\0')
                                     + chipSignature.at(byteAt(body, 6) % 3) + ok);
    case 0x06:
        cursor = 2 * qint64((byteAt(body, 2) << 16) | (byteAt(body, 3) << 8) | byteAt(body, 4));
        return stk500v2Frame(sequence, command + ok);
    case 0x13: {
        const int n = (byteAt(body, 1) << 8) | byteAt(body, 2);
        writeFlash(body.mid(10, n));
        cursor += n;
        return stk500v2Frame(sequence, command + ok);
    }
    case 0x14: {
        const int n = (byteAt(body, 1) << 8) | byteAt(body, 2);
        const QByteArray data = memory.mid(int(cursor), n);
        cursor += n;
        return stk500v2Frame(sequence, command + ok + data + ok);
    }
    default:
        return {};
    }
}

void ScratchDirTestCase::init()
{
    previousDir = QDir::currentPath();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(QDir::setCurrent(dir->path()));
}

void ScratchDirTestCase::cleanup()
{
    QDir::setCurrent(previousDir);
    dir.reset();
}

void hideUploadTrace()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

QList<QList<Report>> runWorkers(const QList<Thread *> &workers, int timeoutMs)
{
    QList<QList<Report>> reports;
    QObject receiver;
    QEventLoop loop;
    int running = workers.size();
    for (int i = 0; i < workers.size(); ++i) {
        reports.append(QList<Report>());
        QObject::connect(workers.at(i), &Thread::updateover, &receiver,
                         [&reports, i](QString ip, int kind, float value) {
                             reports[i].append({ip, kind, value});
                         },
                         Qt::QueuedConnection);
        // Queued after the worker's last report, so every report is in when the loop ends.
        QObject::connect(workers.at(i), &QThread::finished, &receiver, [&running, &loop] {
            if (--running == 0)
                loop.quit();
        }, Qt::QueuedConnection);
    }
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    for (Thread *worker : workers)
        worker->start();
    loop.exec();
    for (Thread *worker : workers) {
        if (!worker->isFinished()) {
            qWarning("worker still running after %d ms", timeoutMs);
            worker->wait();
        }
    }
    return reports;
}

QList<Report> runWorker(Thread &worker, int timeoutMs)
{
    return runWorkers({&worker}, timeoutMs).first();
}

UploadTimeouts fastTimeouts()
{
    UploadTimeouts t;
    t.reply = 250;
    t.leaveProgramming = 250;
    t.bootloaderWait = 400;
    t.syncAttempt = 100;
    t.quiet = 20;
    return t;
}

quint16 refusedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

QByteArray testImage(int size, int seed)
{
    QByteArray image(size, '\0');
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        image[i] = char(state >> 24);
    }
    return image;
}

QString reportLine(const QString &ip, int kind, float value)
{
    return QStringLiteral("%1 %2 %3").arg(ip).arg(kind).arg(double(value), 0, 'g', 9);
}

QStringList reportLines(const QList<Report> &reports)
{
    QStringList lines;
    for (const Report &r : reports)
        lines << reportLine(r.ip, r.kind, r.value);
    return lines;
}

QList<QPair<qint64, qint64>> pageFractions(qint64 size, int pageSize)
{
    QList<QPair<qint64, qint64>> fractions;
    for (qint64 done = 0; done < size;) {
        done = qMin<qint64>(done + pageSize, size);
        fractions << qMakePair(done, size);
    }
    if (size % pageSize == 0)
        fractions << qMakePair(size, size);
    return fractions;
}

QStringList expectedLines(const QString &ip, const QList<QPair<qint64, qint64>> &fractions,
                          float verdict)
{
    QStringList lines;
    for (const auto &f : fractions)
        lines << reportLine(ip, 2, float(double(f.first) / double(f.second)));
    lines << reportLine(ip, 1, verdict);
    return lines;
}

QList<Report> uploadTo(const ScriptedModule &module, const QString &board, UploadOutcome *outcome,
                       bool verify, const QString &imagePath)
{
    Thread worker(QString::number(module.atPort()), QString::number(module.dataPort()),
                  module.address().toString(), board);
    worker.setTimeouts(fastTimeouts());
    worker.setVerify(verify);
    if (!imagePath.isEmpty())
        worker.setImagePath(imagePath);
    const QList<Report> reports = runWorker(worker);
    *outcome = worker.outcome();
    return reports;
}

void addFaultColumns()
{
    QTest::addColumn<QByteArray>("match");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<ScriptedModule::Fault>("fault");
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("requests");
}

void addVerifyColumns()
{
    QTest::addColumn<QByteArray>("match");
    QTest::addColumn<ScriptedModule::Fault>("fault");
    QTest::addColumn<qint64>("flipped");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<float>("verdict");
}

void checkFaultRow(ScriptedModule::Protocol protocol, const QString &board, int wholeUpload)
{
    QFETCH(QByteArray, match);
    QFETCH(int, occurrence);
    QFETCH(ScriptedModule::Fault, fault);
    QFETCH(QStringList, reports);
    QFETCH(QString, outcome);
    QFETCH(int, requests);

    QVERIFY(writeFile("update.bin", testImage(FaultImageSize)));
    ScriptedModule module(protocol);
    QVERIFY(module.listen());
    module.addFault(match, occurrence, fault);

    UploadOutcome result;
    QList<Report> got;
    QByteArray diagnostics;
    {
        StderrCapture err;
        got = uploadTo(module, board, &result);
        diagnostics = err.text();
    }
    QCOMPARE(reportLines(got), reports);
    QCOMPARE(result.text(), outcome);
    if (requests != AnyCount)
        QCOMPARE(module.requests().size(), requests < 0 ? wholeUpload : requests);
    // A wrong reply is named on standard error too, where the window's user sees it.
    if (!result.reply.isEmpty())
        QVERIFY2(diagnostics.contains(result.reply.toUtf8() + '\n'), diagnostics.constData());
    // A whole image with leaving programming mode unanswered is complete, with a warning.
    const QByteArray leave = QByteArray::fromHex(protocol == ScriptedModule::Protocol::Stk500v1 ? "51" : "11");
    QCOMPARE(diagnostics.contains("warning: no answer to leave programming mode within 0.25 s; every page was "
                                  "acknowledged; reset the board if its program does not start\n"),
             match == leave);
}

void checkVerifyRow(ScriptedModule::Protocol protocol, const QString &board, int size, int pageSize,
                    QList<QByteArray> *requests)
{
    QFETCH(QByteArray, match);
    QFETCH(ScriptedModule::Fault, fault);
    QFETCH(qint64, flipped);
    QFETCH(QString, outcome);
    QFETCH(float, verdict);

    QVERIFY(writeFile("update.bin", testImage(size)));
    ScriptedModule module(protocol);
    QVERIFY(module.listen());
    if (!match.isEmpty())
        module.addFault(match, -1, fault);
    module.setFlippedFlashByte(flipped);

    UploadOutcome result;
    const QList<Report> reports = uploadTo(module, board, &result, true);
    QCOMPARE(result.text(), outcome);
    QCOMPARE(reportLines(reports),
             expectedLines(module.address().toString(), pageFractions(size, pageSize), verdict));
    *requests = module.requests();
}
