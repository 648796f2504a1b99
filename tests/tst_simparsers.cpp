// The simulator's parsers and small parts, tested directly: HEX reader, AT commands, options,
// announcement payload, delay line and control channel answers.
#include "announcement.h"
#include "atcommand.h"
#include "controlserver.h"
#include "delayline.h"
#include "hexfile.h"
#include "module.h"
#include "protocolbytes.h"
#include "simoptions.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(sim::AtCommand::Kind)

namespace {

// One record as a line of the file.
QByteArray record(int type, int address, const QByteArray &data)
{
    return hexRecord(type, address, data) + "\r\n";
}

const QByteArray Eof = ":00000001FF\r\n";

} // namespace

class tst_SimParsers : public QObject
{
    Q_OBJECT

private slots:
    void hexImage_data();
    void hexImage();
    void hexError_data();
    void hexError();
    void hexFileMissing();
    void splitAtCommands_data();
    void splitAtCommands();
    void parseAtCommand_data();
    void parseAtCommand();
    void options_data();
    void options();
    void optionErrors_data();
    void optionErrors();
    void moduleNaming_data();
    void moduleNaming();
    void announcement_data();
    void announcement();
    void delayLineKeepsOrder_data();
    void delayLineKeepsOrder();
    void controlAnswers_data();
    void controlAnswers();
};

void tst_SimParsers::hexImage_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("maxSize");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("one record") << record(0, 0, "\x01\x02\x03") + Eof << 1024 << QByteArray("\x01\x02\x03");
    QTest::newRow("gap filled with 0xFF")
        << record(0, 0, "\x01") + record(0, 3, "\x04") + Eof << 1024 << QByteArray("\x01\xFF\xFF\x04");
    QTest::newRow("records out of order")
        << record(0, 2, "\x03") + record(0, 0, "\x01\x02") + Eof << 1024 << QByteArray("\x01\x02\x03");
    QTest::newRow("extended linear address")
        << record(4, 0, QByteArray("\x00\x01", 2)) + record(0, 1, "\xAA") + Eof << 0x20000
        << QByteArray(0x10001, char(0xFF)) + "\xAA";
    QTest::newRow("extended segment address")
        << record(2, 0, QByteArray("\x10\x00", 2)) + record(0, 0, "\xBB") + Eof << 0x20000
        << QByteArray(0x10000, char(0xFF)) + "\xBB";
    QTest::newRow("start addresses ignored")
        << record(3, 0, QByteArray(4, '\0')) + record(5, 0, QByteArray(4, '\0')) + record(0, 0, "\x42") + Eof << 16
        << QByteArray("\x42");
    QTest::newRow("lower case and LF only") << QByteArray(":0100000055aa\n:00000001ff\n") << 16 << QByteArray("\x55");
    QTest::newRow("blank lines and blanks") << "\n  " + record(0, 0, "\x07") + "\n\n" + Eof + "\n" << 16
                                           << QByteArray("\x07");
    QTest::newRow("last byte of flash") << record(0, 15, "\x99") + Eof << 16 << QByteArray(15, char(0xFF)) + "\x99";
    QTest::newRow("empty image") << Eof << 16 << QByteArray();
}

void tst_SimParsers::hexImage()
{
    QFETCH(QByteArray, text);
    QFETCH(int, maxSize);
    QFETCH(QByteArray, expected);
    const sim::HexImage image = sim::parseIntelHex(text, maxSize);
    QCOMPARE(image.error, QString());
    QCOMPARE(image.bytes.toHex(), expected.toHex());
}

void tst_SimParsers::hexError_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");

    QTest::newRow("no colon") << QByteArray("0100000055AA\n") + Eof << "line 1: a record must start with ':'";
    QTest::newRow("odd digit count") << QByteArray(":0100000055A\n") + Eof << "line 1: invalid hexadecimal digits";
    QTest::newRow("not a hex digit") << QByteArray(":01000000G5AA\n") + Eof << "line 1: invalid hexadecimal digits";
    QTest::newRow("too short") << QByteArray(":0000\n") << "line 1: record too short";
    QTest::newRow("count larger than data")
        << QByteArray(":0500000055A6\n") + Eof << "line 1: byte count 5 does not match the record length";
    QTest::newRow("bad checksum") << QByteArray(":0100000055AB\n") + Eof << "line 1: checksum mismatch";
    QTest::newRow("unknown type") << record(7, 0, "") + Eof << "line 1: unknown record type 7";
    QTest::newRow("address record of one byte")
        << record(4, 0, "\x01") + Eof << "line 1: an address record needs two bytes";
    QTest::newRow("data after end") << Eof + record(0, 0, "\x01") << "line 2: data after the end-of-file record";
    QTest::newRow("no end record") << record(0, 0, "\x01") << "line 2: no end-of-file record";
    QTest::newRow("beyond flash") << record(0, 15, "\x01\x02") + Eof
                                  << "line 1: data at 0x10 lies beyond the flash size of 16 bytes";
    QTest::newRow("beyond flash through address record")
        << record(4, 0, QByteArray("\xFF\xFF", 2)) + record(0, 0xFFFF, "\x01") + Eof
        << "line 2: data at 0xffffffff lies beyond the flash size of 16 bytes";
    QTest::newRow("empty text") << QByteArray() << "line 1: no end-of-file record";
}

void tst_SimParsers::hexError()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const sim::HexImage image = sim::parseIntelHex(text, 16);
    QCOMPARE(image.error, error);
    QCOMPARE(image.bytes, QByteArray());
}

void tst_SimParsers::hexFileMissing()
{
    const sim::HexImage image = sim::readIntelHexFile(QStringLiteral("/nonexistent/app.hex"), 16);
    QVERIFY2(image.error.startsWith(QStringLiteral("cannot read /nonexistent/app.hex")), qPrintable(image.error));
}

void tst_SimParsers::splitAtCommands_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QList<QByteArray>>("commands");

    QTest::newRow("CR LF line") << QByteArray("AT+U2W=CLIENT\r\n") << QList<QByteArray>{"AT+U2W=CLIENT"};
    QTest::newRow("no line end") << QByteArray("AT+MCUUPDATE=UNO") << QList<QByteArray>{"AT+MCUUPDATE=UNO"};
    QTest::newRow("line then bare command")
        << QByteArray("AT+U2W=CLIENT\r\nAT+MCUUPDATE=MEGA") << QList<QByteArray>{"AT+U2W=CLIENT", "AT+MCUUPDATE=MEGA"};
    QTest::newRow("LF only") << QByteArray("A\nB\n") << QList<QByteArray>{"A", "B"};
    QTest::newRow("empty lines dropped") << QByteArray("\r\n\n\r\n") << QList<QByteArray>{};
    QTest::newRow("nothing") << QByteArray() << QList<QByteArray>{};
    QTest::newRow("name with blanks") << QByteArray("AT+HOSTNAME=my board")
                                      << QList<QByteArray>{"AT+HOSTNAME=my board"};
}

void tst_SimParsers::splitAtCommands()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QList<QByteArray>, commands);
    QCOMPARE(sim::splitAtCommands(chunk), commands);
}

void tst_SimParsers::parseAtCommand_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<sim::AtCommand::Kind>("kind");
    QTest::addColumn<QByteArray>("argument");

    using K = sim::AtCommand::Kind;
    QTest::newRow("client") << QByteArray("AT+U2W=CLIENT") << K::U2wClient << QByteArray();
    QTest::newRow("client with CR LF") << QByteArray("AT+U2W=CLIENT\r\n") << K::U2wClient << QByteArray();
    QTest::newRow("update MEGA") << QByteArray("AT+MCUUPDATE=MEGA") << K::McuUpdate << QByteArray("MEGA");
    QTest::newRow("update UNO") << QByteArray("AT+MCUUPDATE=UNO") << K::McuUpdate << QByteArray("UNO");
    QTest::newRow("update unknown target") << QByteArray("AT+MCUUPDATE=MEGA2560") << K::Invalid << QByteArray();
    QTest::newRow("update without target") << QByteArray("AT+MCUUPDATE=") << K::Invalid << QByteArray();
    QTest::newRow("lower case") << QByteArray("at+u2w=client") << K::Invalid << QByteArray();
    QTest::newRow("client with trailing text") << QByteArray("AT+U2W=CLIENTX") << K::Invalid << QByteArray();
    QTest::newRow("host name") << QByteArray("AT+HOSTNAME=bench-3") << K::Hostname << QByteArray("bench-3");
    QTest::newRow("host name, Latin-1") << QByteArray("AT+HOSTNAME=caf\xE9") << K::Hostname << QByteArray("caf\xE9");
    QTest::newRow("host name of 32 bytes") << "AT+HOSTNAME=" + QByteArray(32, 'n') << K::Hostname << QByteArray(32, 'n');
    QTest::newRow("host name of 33 bytes") << "AT+HOSTNAME=" + QByteArray(33, 'n') << K::Invalid << QByteArray();
    QTest::newRow("empty host name") << QByteArray("AT+HOSTNAME=") << K::Invalid << QByteArray();
    QTest::newRow("host name with a control byte") << QByteArray("AT+HOSTNAME=a\tb") << K::Invalid << QByteArray();
    QTest::newRow("host name with a NUL") << QByteArray("AT+HOSTNAME=a\0b", 15) << K::Invalid << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x1B\x01\x00") << K::Invalid << QByteArray();
}

void tst_SimParsers::parseAtCommand()
{
    QFETCH(QByteArray, command);
    QFETCH(sim::AtCommand::Kind, kind);
    QFETCH(QByteArray, argument);
    const sim::AtCommand parsed = sim::parseAtCommand(command);
    QCOMPARE(parsed.kind, kind);
    QCOMPARE(parsed.argument, argument);
}

void tst_SimParsers::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");

    QTest::newRow("defaults: address") << QStringList() << "ip" << "127.0.0.2";
    QTest::newRow("defaults: board") << QStringList() << "board" << "MEGA2560";
    QTest::newRow("defaults: ports") << QStringList() << "ports" << "8000/8001";
    QTest::newRow("defaults: target") << QStringList() << "target" << "127.0.0.1:3333";
    QTest::newRow("defaults: faults off") << QStringList() << "faults" << "answer answer full 1 0 0 0 0 -1";
    QTest::newRow("address") << QStringList{"--ip", "127.0.0.9"} << "ip" << "127.0.0.9";
    QTest::newRow("inline value") << QStringList{"--ip=127.0.0.7"} << "ip" << "127.0.0.7";
    QTest::newRow("board none") << QStringList{"--board", "none"} << "board" << "none";
    QTest::newRow("board zureD0") << QStringList{"--board", "zureD0"} << "board" << "zureD0";
    QTest::newRow("ports") << QStringList{"--data-port", "0", "--at-port", "65535"} << "ports" << "0/65535";
    QTest::newRow("target") << QStringList{"--target", "127.0.0.1:45000"} << "target" << "127.0.0.1:45000";
    QTest::newRow("count and name") << QStringList{"--count", "250", "--name", "x"} << "count" << "250 x";
    QTest::newRow("announce never") << QStringList{"--announce-ms", "0"} << "announce" << "0";
    QTest::newRow("baud and quiet") << QStringList{"--baud", "57600", "--quiet-ms", "5"} << "baud" << "57600 5";
    QTest::newRow("files") << QStringList{"--app", "a.hex", "--flash-out", "f.bin"} << "files" << "a.hex f.bin";
    QTest::newRow("control port") << QStringList{"--control-port", "0"} << "control" << "0";
    QTest::newRow("defaults: real receiver") << QStringList() << "uart" << "real";
    QTest::newRow("forgiving receiver") << QStringList{"--forgiving-uart", "--baud", "9600"} << "uart"
                                        << "forgiving";
    QTest::newRow("connection faults") << QStringList{"--refuse", "at", "--ignore", "data"} << "faults"
                                       << "refuse ignore full 1 0 0 0 0 -1";
    QTest::newRow("reply faults")
        << QStringList{"--at-reply", "one", "--split-replies", "3", "--extra-byte", "2", "--drop-after-pages", "4",
                       "--drops", "1", "--delay-ms", "50", "--flip-address", "0x1234"}
        << "faults" << "answer answer one 3 2 4 1 50 4660";
    QTest::newRow("silent AT") << QStringList{"--at-reply", "none"} << "faults" << "answer answer none 1 0 0 0 0 -1";
    QTest::newRow("defaults: wired line") << QStringList() << "line" << "100 reset first";
    QTest::newRow("relisten at once") << QStringList{"--relisten-ms", "0"} << "line" << "0 reset first";
    QTest::newRow("relisten at most a minute, answer first")
        << QStringList{"--relisten-ms", "60000", "--answer-before-reset"} << "line" << "60000 answer first";
    QTest::newRow("help") << QStringList{"--board", "UNO", "--help", "--bogus"} << "help" << "yes";
}

void tst_SimParsers::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, field);
    QFETCH(QString, value);
    sim::SimOptions o;
    QString error;
    bool help = false;
    QVERIFY2(sim::parseSimOptions(arguments, &o, &error, &help), qPrintable(error));
    const auto connection = [](sim::Faults::Connection c) {
        return c == sim::Faults::Connection::Answer ? "answer" : c == sim::Faults::Connection::Refuse ? "refuse" : "ignore";
    };
    const auto atReply = [](sim::Faults::AtReply r) {
        return r == sim::Faults::AtReply::Full ? "full" : r == sim::Faults::AtReply::OneByte ? "one" : "none";
    };
    QString actual;
    if (field == QLatin1String("ip"))
        actual = o.ip.toString();
    else if (field == QLatin1String("board"))
        actual = o.board;
    else if (field == QLatin1String("ports"))
        actual = QStringLiteral("%1/%2").arg(o.dataPort).arg(o.atPort);
    else if (field == QLatin1String("target"))
        actual = QStringLiteral("%1:%2").arg(o.targetHost.toString()).arg(o.targetPort);
    else if (field == QLatin1String("count"))
        actual = QStringLiteral("%1 %2").arg(o.count).arg(o.name);
    else if (field == QLatin1String("announce"))
        actual = QString::number(o.announceMs);
    else if (field == QLatin1String("baud"))
        actual = QStringLiteral("%1 %2").arg(o.baud).arg(o.quietMs);
    else if (field == QLatin1String("files"))
        actual = o.appPath + QLatin1Char(' ') + o.flashOutPath;
    else if (field == QLatin1String("control"))
        actual = QString::number(o.controlPort);
    else if (field == QLatin1String("uart"))
        actual = o.forgivingUart ? QStringLiteral("forgiving") : QStringLiteral("real");
    else if (field == QLatin1String("line"))
        actual = QStringLiteral("%1 %2").arg(o.relistenMs).arg(o.answerBeforeReset ? "answer first" : "reset first");
    else if (field == QLatin1String("help"))
        actual = help ? QStringLiteral("yes") : QStringLiteral("no");
    else if (field == QLatin1String("faults"))
        actual = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                     .arg(QLatin1String(connection(o.faults.atConnection)),
                          QLatin1String(connection(o.faults.dataConnection)), QLatin1String(atReply(o.faults.atReply)))
                     .arg(o.faults.splitReplies)
                     .arg(o.faults.extraByteReply)
                     .arg(o.faults.dropAfterPages)
                     .arg(o.faults.drops)
                     .arg(o.faults.delayMs)
                     .arg(o.faults.flipAddress);
    QCOMPARE(actual, value);
}

void tst_SimParsers::optionErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("unknown option") << QStringList{"--bogus"} << "unknown option --bogus (see --help)";
    QTest::newRow("missing value") << QStringList{"--ip"} << "--ip needs a value: an IPv4 address";
    QTest::newRow("IPv6 address") << QStringList{"--ip", "::1"} << "--ip ::1: expected an IPv4 address";
    QTest::newRow("unknown board") << QStringList{"--board", "uno"}
                                   << "--board uno: expected one of UNO, MEGA2560, zariV3, zureD0, none";
    QTest::newRow("port too large") << QStringList{"--data-port", "65536"}
                                    << "--data-port 65536: expected a port number 0..65535";
    QTest::newRow("port not a number") << QStringList{"--at-port", "abc"}
                                       << "--at-port abc: expected a port number 0..65535";
    QTest::newRow("negative interval") << QStringList{"--announce-ms", "-1"}
                                       << "--announce-ms -1: expected milliseconds 0..3600000";
    QTest::newRow("target without port") << QStringList{"--target", "127.0.0.1"}
                                         << "--target 127.0.0.1: expected HOST:PORT with an IPv4 host";
    QTest::newRow("target port 0") << QStringList{"--target", "127.0.0.1:0"}
                                   << "--target 127.0.0.1:0: expected HOST:PORT with an IPv4 host";
    QTest::newRow("baud too low") << QStringList{"--baud", "100"} << "--baud 100: expected a baud rate 300..2000000";
    QTest::newRow("count zero") << QStringList{"--count", "0"} << "--count 0: expected a count 1..4096";
    QTest::newRow("count past the last address") << QStringList{"--ip", "255.255.255.254", "--count", "3"}
                                                 << "--count 3 runs past the last IPv4 address";
    QTest::newRow("bad connection fault") << QStringList{"--refuse", "both"} << "--refuse both: expected at or data";
    QTest::newRow("bad AT reply fault") << QStringList{"--at-reply", "two"}
                                        << "--at-reply two: expected full, one or none";
    QTest::newRow("split zero") << QStringList{"--split-replies", "0"}
                                << "--split-replies 0: expected a piece count 1..64";
    QTest::newRow("app without board") << QStringList{"--board", "none", "--app", "a.hex"}
                                       << "--app needs a board; --board none has none";
    QTest::newRow("flip beyond UNO flash") << QStringList{"--board", "UNO", "--flip-address", "0x8000"}
                                           << "--flip-address lies beyond the board's 32768 bytes of flash";
    QTest::newRow("empty name") << QStringList{"--name", ""} << "--name : expected a non-empty name";
    QTest::newRow("switch with a value") << QStringList{"--forgiving-uart=yes"} << "--forgiving-uart takes no value";
    QTest::newRow("negative relisten") << QStringList{"--relisten-ms", "-1"}
                                       << "--relisten-ms -1: expected milliseconds 0..60000";
    QTest::newRow("relisten over a minute") << QStringList{"--relisten-ms", "60001"}
                                            << "--relisten-ms 60001: expected milliseconds 0..60000";
    QTest::newRow("answer first with a value") << QStringList{"--answer-before-reset=1"}
                                               << "--answer-before-reset takes no value";
}

void tst_SimParsers::optionErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    sim::SimOptions o;
    QString actual;
    bool help = false;
    QVERIFY(!sim::parseSimOptions(arguments, &o, &actual, &help));
    QCOMPARE(actual, error);
}

void tst_SimParsers::moduleNaming_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("flashOut");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");

    QTest::newRow("single module") << 1 << "out/flash.bin" << 0 << "127.0.0.2" << "bench" << "out/flash.bin";
    QTest::newRow("first of many") << 3 << "out/flash.bin" << 0 << "127.0.0.2" << "bench-1"
                                   << "out/flash-127.0.0.2.bin";
    QTest::newRow("third of many") << 3 << "flash.bin" << 2 << "127.0.0.4" << "bench-3" << "flash-127.0.0.4.bin";
    QTest::newRow("no extension") << 2 << "/tmp/flash" << 1 << "127.0.0.3" << "bench-2" << "/tmp/flash-127.0.0.3";
    QTest::newRow("dot in a directory") << 2 << "/tmp/a.b/flash" << 1 << "127.0.0.3" << "bench-2"
                                        << "/tmp/a.b/flash-127.0.0.3";
    QTest::newRow("hidden file") << 2 << ".flash" << 0 << "127.0.0.2" << "bench-1" << ".flash-127.0.0.2";
    QTest::newRow("crossing an octet") << 300 << "" << 254 << "127.0.1.0" << "bench-255" << "";
}

void tst_SimParsers::moduleNaming()
{
    QFETCH(int, count);
    QFETCH(QString, flashOut);
    QFETCH(int, index);
    QFETCH(QString, address);
    QFETCH(QString, name);
    QFETCH(QString, file);
    sim::SimOptions o;
    o.count = count;
    o.name = QStringLiteral("bench");
    o.flashOutPath = flashOut;
    QCOMPARE(sim::moduleAddress(o, index).toString(), address);
    QCOMPARE(sim::moduleName(o, index), name);
    QCOMPARE(sim::moduleFlashOutPath(o, index), file);
}

void tst_SimParsers::announcement_data()
{
    QTest::addColumn<QString>("hostname");

    QTest::newRow("plain") << "bench-1";
    QTest::newRow("quotes and backslash") << "a\"b\\c";
    QTest::newRow("Latin-1") << QString::fromLatin1("caf\xE9");
}

void tst_SimParsers::announcement()
{
    QFETCH(QString, hostname);
    const QByteArray datagram = sim::announcementDatagram(QStringLiteral("127.0.0.5"), 8001, 8000, hostname);
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(datagram, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.size(), 4);
    QCOMPARE(object.value(QStringLiteral("host ip")).toString(), QStringLiteral("127.0.0.5"));
    QCOMPARE(object.value(QStringLiteral("atcomd port")).toInt(), 8001);
    QCOMPARE(object.value(QStringLiteral("data port")).toInt(), 8000);
    QCOMPARE(object.value(QStringLiteral("hostname")).toString(), hostname);
    QVERIFY(!datagram.contains('\0'));
}

void tst_SimParsers::delayLineKeepsOrder_data()
{
    QTest::addColumn<QList<int>>("delays");

    QTest::newRow("no delay") << QList<int>{0, 0, 0};
    QTest::newRow("equal delays") << QList<int>{30, 30, 30};
    QTest::newRow("later chunk with shorter delay") << QList<int>{80, 10, 0};
    QTest::newRow("growing delays") << QList<int>{0, 20, 40};
}

void tst_SimParsers::delayLineKeepsOrder()
{
    QFETCH(QList<int>, delays);
    sim::DelayLine line;
    QList<QByteArray> received;
    QList<qint64> times;
    QElapsedTimer clock;
    connect(&line, &sim::DelayLine::delivered, this, [&](const QByteArray &bytes) {
        received.append(bytes);
        times.append(clock.elapsed());
    });
    clock.start();
    for (int i = 0; i < delays.size(); ++i)
        line.push(QByteArray::number(i), delays.at(i));
    QTRY_COMPARE(received.size(), delays.size());
    for (int i = 0; i < delays.size(); ++i) {
        QCOMPARE(received.at(i), QByteArray::number(i));
        QVERIFY2(times.at(i) >= delays.at(i), qPrintable(QStringLiteral("chunk %1 came after %2 ms").arg(i).arg(times.at(i))));
    }
}

void tst_SimParsers::controlAnswers_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("pages") << QByteArray("pages 1") << QByteArray("0\n");
    QTest::newRow("pages with CR") << QByteArray("pages 0\r") << QByteArray("0\n");
    QTest::newRow("no data client") << QByteArray("client 1") << QByteArray("0\n");
    QTest::newRow("flash without board") << QByteArray("flash 0") << QByteArray("error: module 0 has no board\n");
    QTest::newRow("no such module") << QByteArray("pages 2") << QByteArray("error: no module 2\n");
    QTest::newRow("negative module") << QByteArray("pages -1") << QByteArray("error: no module -1\n");
    QTest::newRow("unknown command") << QByteArray("erase 0") << QByteArray("error: unknown command erase\n");
    QTest::newRow("no argument") << QByteArray("flash")
                                 << QByteArray("error: expected \"flash I\", \"pages I\" or \"client I\"\n");
    QTest::newRow("empty line") << QByteArray("") << QByteArray("error: expected \"flash I\", \"pages I\" or \"client I\"\n");
}

void tst_SimParsers::controlAnswers()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);
    sim::Module::Config config;
    config.board = QStringLiteral("none");
    sim::Module first(config);
    sim::Module second(config);
    const sim::ControlServer control({&first, &second});
    QCOMPARE(control.answer(line), answer);
}

QTEST_GUILESS_MAIN(tst_SimParsers)
#include "tst_simparsers.moc"
