#include "discoveryprotocol.h"

#include <QTest>

using discovery::DiscoveryProtocol;
using discovery::ToolPort;

namespace {

// The port objects each client form reads for module A (bench-uno, ports 8000 and 8001).
const char PortA[] = R"({"address":"127.0.0.2","label":"bench-uno at 127.0.0.2","properties":{"atport":"8001",)"
                     R"("dataport":"8000","hostname":"bench-uno"},"protocol":"network",)"
                     R"("protocolLabel":"Quarnel Wi-Fi modules"})";
const char LegacyPortA[] = R"({"address":"127.0.0.2","boardName":"","label":"bench-uno at 127.0.0.2",)"
                           R"("prefs":{"auth_upload":"no","port":"8000:8001","ssh_upload":"no"},)"
                           R"("protocol":"network","protocolLabel":"Quarnel Wi-Fi modules"})";

QString add(const char *port)
{
    return QStringLiteral(R"({"eventType":"add","port":%1})").arg(QLatin1String(port));
}

QString reply(const char *eventType)
{
    return QStringLiteral(R"({"eventType":"%1","message":"OK"})").arg(QLatin1String(eventType));
}

QString error(const char *eventType, const char *message)
{
    return QStringLiteral(R"({"error":true,"eventType":"%1","message":"%2"})")
        .arg(QLatin1String(eventType), QLatin1String(message));
}

const QString Hello = QStringLiteral(R"({"eventType":"hello","message":"OK","protocolVersion":1})");
const QString RemoveA = QStringLiteral(R"({"eventType":"remove","port":{"address":"127.0.0.2","protocol":"network"}})");

} // namespace

// The port protocol of the sketch build tools as exchanges: each row a script of what the client
// writes ("C: ..."), modules heard ("H: ip name data at [board board name]") or gone ("G: ip"), the moment events may
// start after START_SYNC ("E: start events"), and every line the protocol writes, with the
// listener's starts and stops in angle brackets.
class tst_DiscoveryProtocol : public QObject
{
    Q_OBJECT

private slots:
    void exchanges_data();
    void exchanges();
};

void tst_DiscoveryProtocol::exchanges_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<bool>("listenerFails");

    QTest::newRow("version 1 sync: add, rename, remove")
        << QStringList{"C: HELLO 1 \"arduino-cli arduino-cli/1.5.1\"", "C: START_SYNC", "H: 127.0.0.2 bench-uno 8000 8001",
                       "E: start events", "E: start events", "H: 127.0.0.2 bench-uno 8000 8001", "H: 127.0.0.2 bench-7 8000 8001", "G: 127.0.0.2",
                       "G: 127.0.0.2", "C: STOP", "C: QUIT", "C: LIST"}
        << QStringList{Hello, "<listen>", reply("start_sync"), add(PortA),
                       add(R"({"address":"127.0.0.2","label":"bench-7 at 127.0.0.2","properties":{"atport":"8001",)"
                           R"("dataport":"8000","hostname":"bench-7"},"protocol":"network",)"
                           R"("protocolLabel":"Quarnel Wi-Fi modules"})"),
                       RemoveA, "<stop>", reply("stop"), reply("quit")}
        << false;
    // arduino-cli upload -p ADDR with its 1 s default: process start, HELLO and START_SYNC take
    // part of it, and a module announcing every 2 s is not heard in the rest. A module this
    // machine heard lately answers the discovery's probe at once ("H:" before the events start),
    // so it is in the first burst.
    QTest::newRow("arduino-cli's one second: a module heard elsewhere in the first burst")
        << QStringList{"C: HELLO 1 \"arduino-cli arduino-cli/1.5.1\"", "C: START_SYNC", "H: 127.0.0.2 bench-uno 8000 8001",
                       "E: start events", "C: STOP"}
        << QStringList{Hello, "<listen>", reply("start_sync"), add(PortA), "<stop>", reply("stop")}
        << false;
    QTest::newRow("version 1 sync: the board becomes known")
        << QStringList{"C: HELLO 1 \"x\"", "C: START_SYNC", "E: start events", "H: 127.0.0.2 bench-uno 8000 8001",
                       "H: 127.0.0.2 bench-uno 8000 8001 uno Arduino UNO via Wi-Fi"}
        << QStringList{Hello, "<listen>", reply("start_sync"), add(PortA),
                       add(R"({"address":"127.0.0.2","label":"bench-uno at 127.0.0.2","properties":{"atport":"8001",)"
                           R"("board":"uno","dataport":"8000","hostname":"bench-uno"},"protocol":"network",)"
                           R"("protocolLabel":"Quarnel Wi-Fi modules"})")}
        << false;
    QTest::newRow("IDE 1.8: the board's name")
        << QStringList{"C: START_SYNC", "E: start events", "H: 127.0.0.4 m 8000 8001 mega2560 Arduino Mega 2560 via Wi-Fi"}
        << QStringList{"<listen>", reply("start_sync"),
                       add(R"({"address":"127.0.0.4","boardName":"Arduino Mega 2560 via Wi-Fi","label":"m at 127.0.0.4",)"
                           R"("prefs":{"auth_upload":"no","port":"8000:8001","ssh_upload":"no"},)"
                           R"("protocol":"network","protocolLabel":"Quarnel Wi-Fi modules"})")}
        << false;
    QTest::newRow("version 1 start and list")
        << QStringList{"C: HELLO 1 \"x\"", "C: START", "C: LIST", "H: 127.0.0.2 bench-uno 8000 8001", "C: LIST",
                       "C: STOP", "C: START", "C: LIST", "C: QUIT"}
        << QStringList{Hello, "<listen>", reply("start"), R"({"eventType":"list","ports":[]})",
                       QStringLiteral(R"({"eventType":"list","ports":[%1]})").arg(PortA), "<stop>", reply("stop"),
                       "<listen>", reply("start"), R"({"eventType":"list","ports":[]})", "<stop>", reply("quit")}
        << false;
    QTest::newRow("IDE 1.8: START_SYNC without HELLO")
        << QStringList{"H: 127.0.0.2 bench-uno 8000 8001", "C: START_SYNC", "H: 127.0.0.3 quiet  ", "G: 127.0.0.3",
                       "E: start events", "H: 127.0.0.2 bench-uno 8000 8001", "H: 127.0.0.3 quiet  ", "G: 127.0.0.2",
                       "C: STOP"}
        << QStringList{"<listen>", reply("start_sync"), add(LegacyPortA),
                       add(R"({"address":"127.0.0.3","boardName":"","label":"quiet at 127.0.0.3",)"
                           R"("prefs":{"auth_upload":"no","port":":","ssh_upload":"no"},)"
                           R"("protocol":"network","protocolLabel":"Quarnel Wi-Fi modules"})"),
                       RemoveA, "<stop>", reply("stop")}
        << false;
    QTest::newRow("before HELLO")
        << QStringList{"C: START", "C: LIST", "C: START_SYNC now", "C: HELLO 1 \"x\"", "C: FOO", "C: start"}
        << QStringList{error("command_error", "First command must be HELLO"),
                       error("command_error", "First command must be HELLO"),
                       error("command_error", "First command must be HELLO"), Hello,
                       error("command_error", "Unknown command FOO"), "<listen>", reply("start")}
        << false;
    QTest::newRow("HELLO forms")
        << QStringList{"C: HELLO one \"x\"", "C: HELLO 1 x", "C: HELLO 0 \"x\"", "C: HELLO 2 \"arduino-cli 1.9\"",
                       "C: HELLO 1 \"x\""}
        << QStringList{error("hello", "Invalid HELLO command"), error("hello", "Invalid HELLO command"),
                       error("hello", "Unsupported protocol version 0"), Hello, error("hello", "HELLO already called")}
        << false;
    QTest::newRow("commands out of state")
        << QStringList{"C: HELLO 1 \"x\"", "C: STOP", "C: LIST", "C: START", "C: START", "C: START_SYNC", "C: STOP",
                       "C: START_SYNC", "C: LIST", "C: START", "C: START_SYNC", "C: LIST extra"}
        << QStringList{Hello, error("stop", "Discovery already STOPped"), error("list", "Discovery not STARTed"),
                       "<listen>", reply("start"), error("start", "Discovery already STARTed"),
                       error("start_sync", "Discovery already STARTed, cannot START_SYNC"), "<stop>", reply("stop"),
                       "<listen>", reply("start_sync"),
                       error("list", "Discovery already START_SYNCed, LIST not allowed"),
                       error("start", "Discovery already START_SYNCed, cannot START"),
                       error("start_sync", "Discovery already START_SYNCed"),
                       error("command_error", "Unknown command LIST extra")}
        << false;
    QTest::newRow("port 3333 not bound")
        << QStringList{"C: START_SYNC", "C: HELLO 1 \"x\"", "C: START", "C: LIST", "C: QUIT"}
        << QStringList{"<listen failed>", error("start_sync", "Cannot start sync: address in use"),
                       error("hello", "HELLO already called"), "<listen failed>",
                       error("start", "Cannot start: address in use"), error("list", "Discovery not STARTed"),
                       reply("quit")}
        << true;
}

void tst_DiscoveryProtocol::exchanges()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, written);
    QFETCH(bool, listenerFails);

    QStringList out;
    DiscoveryProtocol protocol({[&](QString *why) {
                                    out << (listenerFails ? "<listen failed>" : "<listen>");
                                    *why = QStringLiteral("address in use");
                                    return !listenerFails;
                                },
                                [&] { out << "<stop>"; }});
    for (const QString &step : script) {
        const QString what = step.mid(3);
        QList<QByteArray> lines;
        if (step.startsWith("C: ")) {
            lines = protocol.command(what.toUtf8());
        } else if (step.startsWith("E: ")) {
            lines = protocol.startEvents();
        } else if (step.startsWith("H: ")) {
            const QStringList v = what.split(' ');
            lines = protocol.portHeard(ToolPort{v.at(0), v.at(1), v.at(2), v.at(3), v.value(4), v.mid(5).join(' ')});
        } else {
            lines = protocol.portsGone({what});
        }
        for (const QByteArray &line : lines)
            out << QString::fromUtf8(line);
    }
    QCOMPARE(out, written);
    QCOMPARE(protocol.quitting(), script.contains("C: QUIT"));
}

QTEST_GUILESS_MAIN(tst_DiscoveryProtocol)
#include "tst_discoveryprotocol.moc"
