#include "stderrcapture.h"
#include "uploadpeer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QtTest>

#include <cstdio>

#include <sys/stat.h>

using namespace upload;

using Kind = UploadOutcome::Kind;

Q_DECLARE_METATYPE(UploadOutcome)
Q_DECLARE_METATYPE(upload::Protocol)
Q_DECLARE_METATYPE(ReplyPattern)

namespace {

Protocol protocolOf(const QString &board)
{
    return findBoard(board)->protocol;
}

QMutex traceMutex;
QStringList collected;

void collectTrace(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        return;
    QMutexLocker lock(&traceMutex);
    collected << message;
}

} // namespace

// The run frame of the upload worker: dispatch, image, connections, mode switch, reports.
class tst_Thread : public ScratchDirTestCase
{
    Q_OBJECT

private slots:
    void unknownBoard_data();
    void unknownBoard();
    void imageRefused_data();
    void imageRefused();
    void connectFailures_data();
    void connectFailures();
    void slowHandshake_data();
    void slowHandshake();
    void outputBeforeUpload_data();
    void outputBeforeUpload();
    void findBootloader_data();
    void findBootloader();
    void modeSwitch_data();
    void modeSwitch();
    void atReplyInPieces();
    void moduleLostAfterPartialWrite();
    void connectionsClosed_data();
    void connectionsClosed();
    void imagePath();
    void twoWorkersAtOnce();
    void traceLines_data();
    void traceLines();
    void outcomeText_data();
    void outcomeText();
    void replyPattern_data();
    void replyPattern();
};

void tst_Thread::unknownBoard_data()
{
    QTest::addColumn<QString>("board");
    QTest::newRow("uno in lower case") << "uno";
    QTest::newRow("Mega2560") << "Mega2560";
    QTest::newRow("ZARIV3") << "ZARIV3";
    QTest::newRow("zured0") << "zured0";
    QTest::newRow("trailing blank") << "UNO ";
    QTest::newRow("empty") << "";
}

void tst_Thread::unknownBoard()
{
    QFETCH(QString, board);
    QVERIFY(writeFile("update.bin", testImage(300)));
    ScriptedModule module(Protocol::Stk500v2);
    QVERIFY(module.listen());

    UploadOutcome outcome;
    QCOMPARE(reportLines(uploadTo(module, board, &outcome)), QStringList());
    QCOMPARE(outcome.kind, Kind::UnknownBoard);
    QCOMPARE(module.dataConnections(), 0);
    QCOMPARE(module.atConnections(), 0);
}

void tst_Thread::imageRefused_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<int>("size"); // -1: no file; -2: a directory in its place; -3: a FIFO
    QTest::addColumn<Kind>("kind");

    QTest::newRow("missing, UNO") << "UNO" << -1 << Kind::ImageMissing;
    QTest::newRow("missing, MEGA2560") << "MEGA2560" << -1 << Kind::ImageMissing;
    QTest::newRow("a directory") << "MEGA2560" << -2 << Kind::ImageMissing;
    QTest::newRow("a FIFO without a writer") << "UNO" << -3 << Kind::ImageMissing;
    QTest::newRow("empty, UNO") << "UNO" << 0 << Kind::ImageEmpty;
    QTest::newRow("empty, zureD0") << "zureD0" << 0 << Kind::ImageEmpty;
    QTest::newRow("one byte past a UNO's application area") << "UNO" << 32257 << Kind::ImageTooLarge;
    QTest::newRow("one byte past a zariV3's, a MEGA2560's") << "zariV3" << 253953 << Kind::ImageTooLarge;
}

// Refused before any connection, with one line on standard error, where the window's user sees it.
void tst_Thread::imageRefused()
{
    QFETCH(QString, board);
    QFETCH(int, size);
    QFETCH(Kind, kind);

    if (size >= 0)
        QVERIFY(writeFile("update.bin", testImage(size)));
    if (size == -2)
        QVERIFY(QDir().mkdir("update.bin"));
    if (size == -3)
        QCOMPARE(mkfifo("update.bin", 0600), 0);
    ScriptedModule module(protocolOf(board));
    QVERIFY(module.listen());

    UploadOutcome outcome;
    StderrCapture err;
    const QList<Report> reports = uploadTo(module, board, &outcome);
    QCOMPARE(reportLines(reports), QStringList{reportLine("127.0.0.1", 1, 0.0f)});
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(err.text().count('\n'), 1);
    QCOMPARE(module.dataConnections(), 0);
    QCOMPARE(module.atConnections(), 0);
}

void tst_Thread::connectFailures_data()
{
    QTest::addColumn<QString>("dataPort"); // "live": the module's, "refused": nothing listens
    QTest::addColumn<QString>("atPort");
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("atConnections");

    const QStringList unreachable = {reportLine("127.0.0.1", 0, 1.0f)};
    QTest::newRow("data port refused; AT port not tried")
        << "refused" << "live" << unreachable << Kind::DataPortUnreachable << 0;
    QTest::newRow("data port text abc is port 0") << "abc" << "live" << unreachable
                                                  << Kind::DataPortUnreachable << 0;
    QTest::newRow("AT port refused") << "live" << "refused" << unreachable
                                     << Kind::AtPortUnreachable << 0;
}

void tst_Thread::connectFailures()
{
    QFETCH(QString, dataPort);
    QFETCH(QString, atPort);
    QFETCH(QStringList, reports);
    QFETCH(Kind, kind);
    QFETCH(int, atConnections);

    QVERIFY(writeFile("update.bin", testImage(100)));
    ScriptedModule module(Protocol::Stk500v2);
    QVERIFY(module.listen());
    const auto port = [](const QString &text, quint16 live) {
        if (text == "live")
            return QString::number(live);
        if (text == "refused")
            return QString::number(refusedPort());
        return text;
    };

    Thread worker(port(atPort, module.atPort()), port(dataPort, module.dataPort()), "127.0.0.1",
                  "MEGA2560");
    worker.setTimeouts(fastTimeouts());
    QCOMPARE(reportLines(runWorker(worker)), reports);
    QCOMPARE(worker.outcome().kind, kind);
    QCOMPARE(module.atConnections(), atConnections);
}

// The connect wait is the whole connect time however the handshake is carried out, and still
// ends at once when the worker is asked to stop.
void tst_Thread::slowHandshake_data()
{
    QTest::addColumn<int>("holdMs");   // the data port's handshakes wait this long; -1: for ever
    QTest::addColumn<int>("stopAfterMs"); // -1: no stop request
    QTest::addColumn<Kind>("kind");

    QTest::newRow("a handshake of about a second") << 300 << -1 << Kind::Success;
    QTest::newRow("stopped while the handshake waits") << -1 << 200 << Kind::DataPortUnreachable;
}

void tst_Thread::slowHandshake()
{
    QFETCH(int, holdMs);
    QFETCH(int, stopAfterMs);
    QFETCH(Kind, kind);

    QVERIFY(writeFile("update.bin", testImage(100)));
    ScriptedModule module(Protocol::Stk500v2);
    QVERIFY(module.listen());
    module.holdDataHandshakes(holdMs);
    Thread worker(QString::number(module.atPort()), QString::number(module.dataPort()), "127.0.0.1",
                  "MEGA2560");
    worker.setTimeouts(fastTimeouts());
    if (stopAfterMs >= 0)
        QTimer::singleShot(stopAfterMs, &worker, [&worker] { worker.requestInterruption(); });
    QElapsedTimer clock;
    clock.start();
    runWorker(worker);
    QCOMPARE(worker.outcome().kind, kind);
    if (stopAfterMs < 0)
        QVERIFY2(clock.elapsed() >= holdMs, "the handshake was not held");
    else
        QVERIFY(clock.elapsed() < fastTimeouts().connect);
}

// What a board's program printed before the upload reset it is no answer to the first command.
void tst_Thread::outputBeforeUpload_data()
{
    QTest::addColumn<QString>("board");
    QTest::newRow("UNO") << "UNO";
    QTest::newRow("MEGA2560") << "MEGA2560";
}

void tst_Thread::outputBeforeUpload()
{
    QFETCH(QString, board);
    const QByteArray image = testImage(300);
    QVERIFY(writeFile("update.bin", image));
    ScriptedModule module(protocolOf(board));
    QVERIFY(module.listen());
    module.setDataGreeting(QByteArray("temperature 21.5\r\n").repeated(20));
    UploadOutcome outcome;
    uploadTo(module, board, &outcome);
    QCOMPARE(outcome.text(), QStringLiteral("upload complete"));
    QCOMPARE(module.flash().left(image.size()), image);
}

// After the mode switch the bootloader is found through what the application still prints, and
// the chip is the chosen board's before a page goes out; a board of the other protocol is named.
void tst_Thread::findBootloader_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<Protocol>("peer");
    QTest::addColumn<QByteArray>("signature"); // hexadecimal; empty: the peer's own chip
    QTest::addColumn<QByteArray>("faultMatch"); // empty: no fault
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<ScriptedModule::Fault>("fault");
    QTest::addColumn<QByteArray>("resetNoise");
    QTest::addColumn<int>("tries"); // greetings sent; -1: as many as the wait allows
    QTest::addColumn<QString>("outcome");

    using F = ScriptedModule::Fault;
    const Protocol v1 = Protocol::Stk500v1;
    const Protocol v2 = Protocol::Stk500v2;
    const QByteArray sync = QByteArray::fromHex("3020");
    const QByteArray signOn = QByteArray::fromHex("01");
    const QByteArray printing = QByteArray("temperature 21.5\r\n").repeated(40);
    const QString done = "upload complete";
    const QString unoNotMega = "the board answers as an ATmega328P (UNO), not an ATmega2560 (MEGA2560)";
    const QString megaNotUno = "the board answers as an ATmega2560 (MEGA2560), not an ATmega328P (UNO)";

    QTest::newRow("UNO: output after the reset") << "UNO" << v1 << QByteArray() << QByteArray() << 0 << F::Silent
                                                 << printing << 1 << done;
    QTest::newRow("MEGA2560: output after the reset") << "MEGA2560" << v2 << QByteArray() << QByteArray() << 0
                                                      << F::Silent << printing << 1 << done;
    // An answer to a later try is confirmed by one more.
    QTest::newRow("UNO: the application answers the first sync, then the bootloader")
        << "UNO" << v1 << QByteArray() << sync << 0 << F::Application << QByteArray() << 3 << done;
    QTest::newRow("MEGA2560: the application answers the first sign-on, then the bootloader")
        << "MEGA2560" << v2 << QByteArray() << signOn << 0 << F::Application << QByteArray() << 3 << done;
    QTest::newRow("UNO: noise like half a sync reply, then the answer")
        << "UNO" << v1 << QByteArray() << sync << 0 << F::MissingByte << QByteArray() << 3 << done;
    // A slow line or a board behind its time answers the first sync only once the second is on
    // its way: the second's answer is dropped, or (its bytes overran Optiboot's receiver) the
    // bootloader has left and a new reset finds it, each try then waiting longer.
    QTest::newRow("UNO: the first sync answered late, with the second")
        << "UNO" << v1 << QByteArray() << sync << 0 << F::Late << QByteArray() << 3 << done;
    QTest::newRow("UNO: the first sync answered late, the second lost in an overrun")
        << "UNO" << v1 << QByteArray() << sync << 0 << F::Overrun << QByteArray() << 4 << done;
    QTest::newRow("UNO: lost in an overrun, then silent") // after the new reset, one try the whole wait
        << "UNO" << v1 << QByteArray() << sync << -1 << F::Overrun << QByteArray() << 4
        << "bootloader did not answer get sync";
    QTest::newRow("UNO: no bootloader") << "UNO" << v1 << QByteArray() << sync << -1 << F::Silent << printing << -1
                                        << "bootloader did not answer get sync";
    QTest::newRow("MEGA2560: no bootloader, an application that prints")
        << "MEGA2560" << v2 << QByteArray() << signOn << -1 << F::Application << QByteArray() << -1
        << "bootloader answered sign-on wrongly (expected 1b 01 00 0b 0e 01 00 (10 bytes), got 74 69 63 6b 0d 0a "
           "74 69 63 6b 0d 0a 74 69 63 6b 0d)";
    QTest::newRow("UNO chosen, a MEGA2560 answers") << "UNO" << v2 << QByteArray() << QByteArray() << 0 << F::Silent
                                                    << printing << 1 << megaNotUno;
    QTest::newRow("MEGA2560 chosen, an UNO answers") << "MEGA2560" << v1 << QByteArray() << QByteArray() << 0
                                                     << F::Silent << printing << 1 << unoNotMega;
    QTest::newRow("MEGA2560 chosen, STK500v2 with an ATmega328P")
        << "MEGA2560" << v2 << QByteArray("1e950f") << QByteArray() << 0 << F::Silent << QByteArray() << 1
        << unoNotMega;
    QTest::newRow("UNO chosen, STK500v1 with an ATmega2560") << "UNO" << v1 << QByteArray("1e9801") << QByteArray()
                                                             << 0 << F::Silent << QByteArray() << 1 << megaNotUno;
    QTest::newRow("zariV3 chosen, a chip no board type has")
        << "zariV3" << v2 << QByteArray("1e9514") << QByteArray() << 0 << F::Silent << QByteArray() << 1
        << "the board answers as an unknown chip (signature 1e9514), not an ATmega2560 (zariV3)";
}

void tst_Thread::findBootloader()
{
    QFETCH(QString, board);
    QFETCH(Protocol, peer);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, faultMatch);
    QFETCH(int, occurrence);
    QFETCH(ScriptedModule::Fault, fault);
    QFETCH(QByteArray, resetNoise);
    QFETCH(int, tries);
    QFETCH(QString, outcome);

    const QByteArray image = testImage(300);
    QVERIFY(writeFile("update.bin", image));
    ScriptedModule module(peer);
    QVERIFY(module.listen());
    if (!signature.isEmpty())
        module.setSignature(QByteArray::fromHex(signature));
    if (!faultMatch.isEmpty())
        module.addFault(faultMatch, occurrence, fault);
    module.setResetNoise(resetNoise);

    QElapsedTimer clock;
    clock.start();
    UploadOutcome result;
    {
        StderrCapture err;
        uploadTo(module, board, &result);
    }
    QCOMPARE(result.text(), outcome);
    QVERIFY2(clock.elapsed() < fastTimeouts().noBootloaderLimit(), qPrintable(QString::number(clock.elapsed())));

    const bool v1 = peer == Protocol::Stk500v1;
    const QList<QByteArray> requests = module.requests();
    if (tries >= 0) {
        // Behind STK500v1 two more syncs follow the one that found the bootloader.
        const QByteArray greeting = QByteArray::fromHex(v1 ? "3020" : "1b0100010e0114");
        const bool startedUp = result.succeeded() || result.kind == UploadOutcome::Kind::ChipMismatch;
        QCOMPARE(int(requests.count(greeting)) - (v1 && startedUp ? 2 : 0), tries);
    }
    if (result.succeeded()) {
        QCOMPARE(module.flash().left(image.size()), image);
        return;
    }
    QCOMPARE(module.flash(), QByteArray(module.flash().size(), char(0xFF)));
    // A board that answered leaves programming mode, so its application starts again; without an
    // answer both protocols were tried.
    if (result.kind == UploadOutcome::Kind::ChipMismatch)
        QCOMPARE(requests.last().mid(v1 ? 0 : 5, v1 ? 2 : 3), QByteArray::fromHex(v1 ? "5120" : "110101"));
    else if (fault == ScriptedModule::Fault::Overrun) // lost after answering: its own protocol again, the other not
        QVERIFY(module.atReceived().count("AT+MCUUPDATE=UNO") == 2 && !module.atReceived().contains("AT+MCUUPDATE=MEGA"));
    else
        QVERIFY(module.atReceived().contains("AT+MCUUPDATE=MEGA") && module.atReceived().contains("AT+MCUUPDATE=UNO"));
}

void tst_Thread::modeSwitch_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("atReceived");
    QTest::addColumn<QString>("outcome");

    const QByteArray client = "AT+U2W=CLIENT\r\n";
    QTest::newRow("one byte to the first command") << "UNO" << QByteArray("K") << QByteArray("OK")
                                                   << client
                                                   << "module refused the upload mode at AT command 1";
    QTest::newRow("silence to the first command") << "MEGA2560" << QByteArray() << QByteArray("OK")
                                                  << client
                                                  << "module refused the upload mode at AT command 1";
    QTest::newRow("one byte to the second command, UNO")
        << "UNO" << QByteArray("OK") << QByteArray("K") << client + "AT+MCUUPDATE=UNO"
        << "module refused the upload mode at AT command 2";
    QTest::newRow("silence to the second command, MEGA2560")
        << "MEGA2560" << QByteArray("OK") << QByteArray() << client + "AT+MCUUPDATE=MEGA"
        << "module refused the upload mode at AT command 2";
}

void tst_Thread::modeSwitch()
{
    QFETCH(QString, board);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, atReceived);
    QFETCH(QString, outcome);

    QVERIFY(writeFile("update.bin", testImage(300)));
    ScriptedModule module(protocolOf(board));
    QVERIFY(module.listen());
    module.setAtReplies(first, second);

    UploadOutcome result;
    QCOMPARE(reportLines(uploadTo(module, board, &result)),
             (QStringList{reportLine("127.0.0.1", 0, 1.0f), reportLine("127.0.0.1", 1, 0.0f)}));
    QCOMPARE(result.text(), outcome);
    QCOMPARE(module.atReceived(), atReceived);
    QCOMPARE(module.dataReceived(), QByteArray());
}

// A reply that comes in two TCP pieces is collected within the wait.
void tst_Thread::atReplyInPieces()
{
    QVERIFY(writeFile("update.bin", testImage(300)));
    ScriptedModule module(Protocol::Stk500v1);
    QVERIFY(module.listen());
    module.setAtReplyGap(50);
    UploadOutcome outcome;
    uploadTo(module, "UNO", &outcome);
    QCOMPARE(outcome.text(), QStringLiteral("upload complete"));
}

// A board that took pages before its module vanished for good is not untouched.
void tst_Thread::moduleLostAfterPartialWrite()
{
    QVERIFY(writeFile("update.bin", testImage(600)));
    ScriptedModule module(Protocol::Stk500v1);
    QVERIFY(module.listen());
    module.addFault(QByteArray::fromHex("64"), 1, ScriptedModule::Fault::Vanish);
    Thread worker(QString::number(module.atPort()), QString::number(module.dataPort()), "127.0.0.1", "UNO");
    worker.setTimeouts(fastTimeouts());
    worker.setRetries(1);
    runWorker(worker);
    QCOMPARE(worker.retriesMade(), 1);
    QCOMPARE(worker.outcome().text(), QStringLiteral("module data port unreachable after a partial write"));
}

// Every run lets go of its connections, whichever way it ends.
void tst_Thread::connectionsClosed_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QByteArray>("secondAtReply");
    QTest::addColumn<QByteArray>("silentRequest");

    QTest::newRow("complete, UNO") << "UNO" << QByteArray("OK") << QByteArray();
    QTest::newRow("complete, MEGA2560") << "MEGA2560" << QByteArray("OK") << QByteArray();
    QTest::newRow("an error text still passes the mode switch")
        << "MEGA2560" << QByteArray("ERROR") << QByteArray();
    QTest::newRow("mode switch refused") << "UNO" << QByteArray("K") << QByteArray();
    QTest::newRow("silent sign-on") << "zariV3" << QByteArray("OK") << QByteArray::fromHex("01");
}

void tst_Thread::connectionsClosed()
{
    QFETCH(QString, board);
    QFETCH(QByteArray, secondAtReply);
    QFETCH(QByteArray, silentRequest);

    QVERIFY(writeFile("update.bin", testImage(500)));
    ScriptedModule module(protocolOf(board));
    QVERIFY(module.listen());
    module.setAtReplies("OK\r\n", secondAtReply);
    if (!silentRequest.isEmpty())
        module.addFault(silentRequest, -1, ScriptedModule::Fault::Silent);

    UploadOutcome outcome;
    const QList<Report> reports = uploadTo(module, board, &outcome);
    QVERIFY(!reports.isEmpty());
    QCOMPARE(reports.last().kind, 1);
    QCOMPARE(module.dataConnections(), 1);
    QCOMPARE(module.atConnections(), 1);
    QTRY_COMPARE(module.closedConnections(), 2);
}

void tst_Thread::imagePath()
{
    const QByteArray image = testImage(333);
    QVERIFY(writeFile("other.bin", image));
    QVERIFY(writeFile("update.bin", testImage(10)));
    ScriptedModule module(Protocol::Stk500v1);
    QVERIFY(module.listen());
    UploadOutcome outcome;
    uploadTo(module, "UNO", &outcome, false, "other.bin");
    QCOMPARE(outcome.kind, Kind::Success);
    QCOMPARE(module.flash().left(image.size()), image);
}

void tst_Thread::twoWorkersAtOnce()
{
    const QByteArray imageA = testImage(20000, 3);
    const QByteArray imageB = testImage(30000, 4);
    QVERIFY(writeFile("a.bin", imageA));
    QVERIFY(writeFile("b.bin", imageB));
    ScriptedModule moduleA(Protocol::Stk500v1, QHostAddress("127.0.0.2"));
    ScriptedModule moduleB(Protocol::Stk500v2, QHostAddress("127.0.0.3"));
    QVERIFY(moduleA.listen());
    QVERIFY(moduleB.listen());

    Thread workerA(QString::number(moduleA.atPort()), QString::number(moduleA.dataPort()),
                   "127.0.0.2", "UNO");
    Thread workerB(QString::number(moduleB.atPort()), QString::number(moduleB.dataPort()),
                   "127.0.0.3", "zureD0");
    workerA.setImagePath("a.bin");
    workerB.setImagePath("b.bin");
    // Once both are sending, a.bin is rewritten in place with another, shorter image and b.bin
    // is replaced by one: each worker goes on sending the image it started with.
    QObject receiver;
    QSet<QString> sending;
    for (Thread *worker : {&workerA, &workerB}) {
        connect(worker, &Thread::updateover, &receiver, [&sending](const QString &ip) {
            if (sending.contains(ip))
                return;
            sending << ip;
            if (sending.size() == 2) {
                QVERIFY(writeFile("a.bin", testImage(1000, 5)));
                QVERIFY(writeFile("c.bin", testImage(40000, 6)));
                QCOMPARE(std::rename("c.bin", "b.bin"), 0);
            }
        });
    }
    const QList<QList<Report>> reports = runWorkers({&workerA, &workerB});
    QCOMPARE(readFile("b.bin"), testImage(40000, 6));

    QCOMPARE(workerA.outcome().kind, Kind::Success);
    QCOMPARE(workerB.outcome().kind, Kind::Success);
    QCOMPARE(moduleA.flash().left(imageA.size()), imageA);
    QCOMPARE(moduleB.flash().left(imageB.size()), imageB);
    QCOMPARE(reports.at(0).size(), (20000 + 127) / 128 + 1);
    QCOMPARE(reports.at(1).size(), (30000 + 255) / 256 + 1);
    for (int i = 0; i < 2; ++i) {
        const QString ip = i == 0 ? "127.0.0.2" : "127.0.0.3";
        float last = 0.0f;
        for (const Report &r : reports.at(i)) {
            QCOMPARE(r.ip, ip);
            QVERIFY(r.value >= last);
            last = r.value;
        }
        QCOMPARE(reportLine(ip, reports.at(i).last().kind, last), reportLine(ip, 1, 1.0f));
    }
}

void tst_Thread::traceLines_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("UNO") << "UNO"
                         << QStringList{"TotalBytes = 10 \n",
                                        "protocol = 0",
                                        "read client reply = \"OK\\r\\n\"",
                                        "read hello reply 1= \"1410\" len= 2",
                                        "read send_A reply = 152 \"140410\"",
                                        "read send_B reply 1= \"1410\" len= 2",
                                        "read send_u reply = \"141e950f10\"",
                                        "send v data = \"56a003fc\" 6",
                                        "send header lenght = 2 \"1410\"",
                                        "send data lenght = 2 \"1410\"",
                                        "read send_q reply = \"1410\""};
    // Answers are shown up to their first zero byte: here the high byte of the body size.
    QTest::newRow("MEGA2560") << "MEGA2560"
                              << QStringList{"TotalBytes = 10 \n",
                                             "protocol = 1",
                                             "dropped before \"sign-on\" = 0",
                                             "read send_sign_on reply = \"1b01\" 17",
                                             "read send stk500 multi = \"1b07\" 13",
                                             "read send_mtk_header_ reply = \"1b0a\"",
                                             "read send_hw_ reply = \"1b0b\""};
}

// The debug log carries the trace lines a developer reads while watching an upload.
void tst_Thread::traceLines()
{
    QFETCH(QString, board);
    QFETCH(QStringList, lines);

    QVERIFY(writeFile("update.bin", testImage(10)));
    ScriptedModule module(protocolOf(board));
    QVERIFY(module.listen());
    collected.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectTrace);
    UploadOutcome outcome;
    uploadTo(module, board, &outcome);
    qInstallMessageHandler(previous);

    QCOMPARE(outcome.kind, Kind::Success);
    QVERIFY(collected.contains(QStringLiteral("current_ip = \"127.0.0.1\" \"%1\" \"%2\"")
                                    .arg(module.dataPort())
                                    .arg(module.atPort())));
    for (const QString &line : lines)
        QVERIFY2(collected.contains(line), qPrintable(line));
}

void tst_Thread::outcomeText_data()
{
    QTest::addColumn<UploadOutcome>("outcome");
    QTest::addColumn<QString>("text");

    QTest::newRow("not run") << UploadOutcome() << "upload not run";
    QTest::newRow("page") << UploadOutcome::pageNotAcknowledged(12, "load address")
                          << "page 12 not acknowledged (load address)";
    QTest::newRow("mismatch above 128 KiB") << UploadOutcome::verifyMismatch(0x22345)
                                            << "verify: flash differs from the image at 0x22345";
    QTest::newRow("silent") << UploadOutcome::bootloaderSilent("sign-on")
                            << "bootloader did not answer sign-on";
}

void tst_Thread::outcomeText()
{
    QFETCH(UploadOutcome, outcome);
    QFETCH(QString, text);
    QCOMPARE(outcome.text(), text);
}

// What a reply must be, field by field, and the diagnostic that names what came instead.
void tst_Thread::replyPattern_data()
{
    QTest::addColumn<ReplyPattern>("pattern");
    QTest::addColumn<QByteArray>("reply"); // hexadecimal
    QTest::addColumn<QString>("mismatch"); // empty: the reply matches

    const ReplyPattern sync = ReplyPattern::stk500v1(2);
    const ReplyPattern status = ReplyPattern::stk500v2(6, 0x10, 2);
    const ReplyPattern value = ReplyPattern::stk500v2(2, 0x03, 3);
    const QString statusWrong = "expected 1b 06 00 02 0e 10 00 01, got ";

    QTest::newRow("v1 STK_NOSYNC") << sync << QByteArray("1515") << "expected 14 10, got 15 15";
    QTest::newRow("v1 any value between") << ReplyPattern::stk500v1(3) << QByteArray("14ff10") << "";
    QTest::newRow("v1 not closed by STK_OK")
        << ReplyPattern::stk500v1(3) << QByteArray("140414") << "expected 14 xx 10, got 14 04 14";
    QTest::newRow("v1 nothing") << sync << QByteArray() << "expected 14 10, got nothing";
    QTest::newRow("v2 right") << status << QByteArray("1b0600020e100001") << "";
    QTest::newRow("v2 MESSAGE_START") << status << QByteArray("1c0600020e100006") << statusWrong + "1c 06 00 02 0e 10 00 06";
    QTest::newRow("v2 sequence") << status << QByteArray("1b0700020e100000") << statusWrong + "1b 07 00 02 0e 10 00 00";
    QTest::newRow("v2 size") << status << QByteArray("1b0600030e10000002")
                             << statusWrong + "1b 06 00 03 0e 10 00 00 02";
    QTest::newRow("v2 TOKEN") << status << QByteArray("1b0600020f100000") << statusWrong + "1b 06 00 02 0f 10 00 00";
    QTest::newRow("v2 command") << status << QByteArray("1b0600020e110000") << statusWrong + "1b 06 00 02 0e 11 00 00";
    QTest::newRow("v2 status") << status << QByteArray("1b0600020e10c0c1") << statusWrong + "1b 06 00 02 0e 10 c0 c1";
    QTest::newRow("v2 value answer") << value << QByteArray("1b0200030e03000215") << "";
    QTest::newRow("v2 checksum") << value << QByteArray("1b0200030e03000216")
                                 << "expected 1b 02 00 03 0e 03 00 xx xx, got 1b 02 00 03 0e 03 00 02 16";
    QTest::newRow("v2 second status")
        << ReplyPattern::stk500v2(7, 0x1D, 7, {6}) << QByteArray("1b0700070e1d000000001ec0d6")
        << "expected 1b 07 00 07 0e 1d 00 xx xx xx xx 00 xx, got 1b 07 00 07 0e 1d 00 00 00 00 1e c0 d6";
}

void tst_Thread::replyPattern()
{
    QFETCH(ReplyPattern, pattern);
    QFETCH(QByteArray, reply);
    QFETCH(QString, mismatch);
    const QByteArray bytes = QByteArray::fromHex(reply);
    QCOMPARE(pattern.matches(bytes), mismatch.isEmpty());
    if (!mismatch.isEmpty())
        QCOMPARE(pattern.mismatch(bytes), mismatch);
}

QTEST_GUILESS_MAIN(tst_Thread)
#include "tst_thread.moc"
