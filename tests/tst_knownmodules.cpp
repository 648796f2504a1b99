// Modules added by address: the list's checks and its file, merging with announcements, and the
// probe that tells whether they are there.
#include "knownmodules.h"
#include "knownprobe.h"
#include "presence.h"
#include "recentmodules.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using discovery::KnownModule;
using discovery::KnownModuleProbe;
using discovery::KnownModules;
using discovery::RecentModules;

namespace {

KnownModule module(const QString &ip, quint16 dataPort = 8000, quint16 atPort = 8001, const QString &name = QString())
{
    return KnownModule{ip, dataPort, atPort, name};
}

QStringList ipsOf(const QVector<KnownModule> &modules)
{
    QStringList ips;
    for (const KnownModule &m : modules)
        ips << m.ip;
    return ips;
}

} // namespace

Q_DECLARE_METATYPE(KnownModule)

class tst_KnownModules : public QObject
{
    Q_OBJECT

private slots:
    void enteredTexts_data();
    void enteredTexts();
    void keptInItsFile();
    void damagedFile_data();
    void damagedFile();
    void changedInPlace();
    void recentlyHeard();
    void unwritableFile();
    void announcementUpdates_data();
    void announcementUpdates();
    void presenceFollowsTheProbe();
    void oneProbePerModule();

private:
    QTemporaryDir dir;
};

void tst_KnownModules::enteredTexts_data()
{
    QTest::addColumn<QStringList>("texts"); // ip, data port, AT-command port, name
    QTest::addColumn<QString>("taken");     // "ip data at name", or the start of the problem
    QTest::newRow("plain") << QStringList{"192.168.1.20", "9000", "9001", "bench-7"} << "192.168.1.20 9000 9001 bench-7";
    QTest::newRow("usual ports when none given") << QStringList{"10.0.0.5", "", "", ""} << "10.0.0.5 8000 8001 ";
    QTest::newRow("leading zeros and blanks") << QStringList{" 010.000.0.05 ", "80", "81", ""} << "10.0.0.5 80 81 ";
    QTest::newRow("host name") << QStringList{"module.local", "", "", ""} << "\"module.local\" is not a module's IPv4";
    QTest::newRow("multicast") << QStringList{"224.0.0.1", "", "", ""} << "\"224.0.0.1\" is not a module's IPv4";
    QTest::newRow("port above 65535") << QStringList{"10.0.0.5", "", "65536", ""} << "AT-command port \"65536\" is not";
    QTest::newRow("port with a letter") << QStringList{"10.0.0.5", "80a", "", ""} << "data port \"80a\" is not";
    QTest::newRow("line end in the name") << QStringList{"10.0.0.5", "", "", "a\nAT+X"} << "the name holds a control";
    QTest::newRow("name too long") << QStringList{"10.0.0.5", "", "", QString(256, 'n')} << "the name is longer than 255";
}

void tst_KnownModules::enteredTexts()
{
    QFETCH(QStringList, texts);
    QFETCH(QString, taken);
    QString problem;
    const std::optional<KnownModule> m = discovery::knownModuleFromTexts(texts[0], texts[1], texts[2], texts[3], &problem);
    if (m)
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(m->ip).arg(m->dataPort).arg(m->atPort).arg(m->name), taken);
    else
        QVERIFY2(problem.startsWith(taken), qPrintable(problem));
}

// What one program adds, replaces and removes, another finds at its start, ordered by address.
void tst_KnownModules::keptInItsFile()
{
    const QString path = dir.filePath("kept/modules.ini");
    KnownModules list(path);
    QVERIFY(list.load().isEmpty()); // no file yet
    QString error;
    QVERIFY(list.add(module("10.0.0.10", 8000, 8001, QStringLiteral("caf\u00e9 [2]")), &error));
    QVERIFY(list.add(module("10.0.0.9"), &error));
    QVERIFY(list.add(module("10.0.0.200"), &error));
    QVERIFY(list.add(module("10.0.0.9", 9000, 9001, "replaced"), &error));
    QVERIFY(list.remove("10.0.0.200", &error));
    QVERIFY(!list.remove("10.0.0.200", &error));
    QCOMPARE(error, QStringLiteral("10.0.0.200 is not a module added by address"));

    KnownModules other(path);
    QCOMPARE(other.load(), QStringList());
    QCOMPARE(other.modules(), (QVector<KnownModule>{module("10.0.0.9", 9000, 9001, "replaced"),
                                                   module("10.0.0.10", 8000, 8001, QStringLiteral("caf\u00e9 [2]"))}));
}

void tst_KnownModules::damagedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("problems"); // each the end of one line

    const QByteArray good = "[10.0.0.7]\ndataPort=8000\natPort=8001\nname=ok\n";
    QTest::newRow("bad port and bad address")
        << good + "[10.0.0.8]\ndataPort=eighty\n[my-module]\natPort=8001\n" << QStringList{"10.0.0.7"}
        << QStringList{"[10.0.0.8] left out: data port \"eighty\" is not a port number (1..65535)",
                       "[my-module] left out: \"my-module\" is not a module's IPv4 address (four numbers 0..255, as 192.168.1.20)"};
    QTest::newRow("cut short in a value, binary bytes")
        << "\x01\x02\xff\n" + good + "[10.0.0.9]\nname=\"unterminated\n" << QStringList{"10.0.0.7"}
        << QStringList{"line 1 is in no [address] section; ignored", "[10.0.0.9] left out: line 7: a quote is never closed"};
    QTest::newRow("a quote never closed costs its entry alone")
        << good + "[10.0.0.9]\nname=\"unterminated\n[10.0.0.10]\nname=\"fine, \\\"quoted\\\"\"\n[10.0.0.11]\natPort=81\n"
        << QStringList{"10.0.0.7", "10.0.0.10", "10.0.0.11"}
        << QStringList{"[10.0.0.9] left out: line 6: a quote is never closed"};
    QTest::newRow("one address twice") << good + "[010.0.0.7]\natPort=1\n" << QStringList{"10.0.0.7"}
                                       << QStringList{"[010.0.0.7] left out: listed twice"};
}

// A file damaged by hand or by a crash costs its bad entries, not the start; and it can still be
// written.
void tst_KnownModules::damagedFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, problems);
    const QString path = dir.filePath(QStringLiteral("damaged-%1.ini").arg(QTest::currentDataTag()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();

    KnownModules list(path);
    const QStringList lines = list.load();
    QCOMPARE(ipsOf(list.modules()), listed);
    QCOMPARE(lines.size(), problems.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines[i].startsWith(path) && lines[i].endsWith(problems[i]), qPrintable(lines[i]));

    // A change elsewhere leaves every line of the damaged file as it was.
    QString error;
    QVERIFY2(list.add(module("10.0.0.50"), &error), qPrintable(error));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith(content));
    KnownModules again(path);
    again.load();
    QCOMPARE(ipsOf(again.modules()), listed + QStringList{"10.0.0.50"});
}

// An entry written by hand as "[010.0.0.1]" is listed as 10.0.0.1 and removed as such; the
// other sections, and the changed one's other lines, stay as they were written.
void tst_KnownModules::changedInPlace()
{
    const QString path = dir.filePath("by-hand.ini");
    const QByteArray other = "[10.0.0.2]\r\n; by hand\r\ndataPort = 80\r\n";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[010.0.0.1]\natPort=81\n" + other + "[10.0.0.3]\nname=old\nnote=kept\n");
    file.close();
    KnownModules list(path);
    QCOMPARE(list.load(), QStringList());
    QString error;
    QVERIFY2(list.remove("10.0.0.1", &error), qPrintable(error));
    QVERIFY2(list.add(module("10.0.0.3", 8000, 8001, "new \"one\""), &error), qPrintable(error));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), other + "[10.0.0.3]\nname=\"new \\\"one\\\"\"\nnote=kept\ndataPort=8000\natPort=8001\n");
    file.close();
    KnownModules again(path);
    QCOMPARE(again.load(), QStringList());
    QCOMPARE(again.modules(), (QVector<KnownModule>{module("10.0.0.2", 80), module("10.0.0.3", 8000, 8001, "new \"one\"")}));
    QVERIFY(!again.remove("10.0.0.1", &error));
}

// The modules heard lately: the newest MaxEntries, none older than KeepMs, lines that do not
// read as a module skipped.
void tst_KnownModules::recentlyHeard()
{
    const QString path = dir.filePath("recent/heard.txt");
    const qint64 now = Q_INT64_C(1800000000000);
    const int heard = RecentModules::MaxEntries + 6;
    {
        RecentModules store(path);
        for (int i = 0; i < heard; ++i) {
            discovery::Announcement a;
            a.hostIp = QStringLiteral("10.0.1.%1").arg(i);
            a.dataPort = QStringLiteral("8000");
            a.atPort = QStringLiteral("8001");
            a.hostName = QStringLiteral("bench %1%").arg(i);
            QVERIFY(store.note(a, now - (heard - i) * 1000));
        }
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write("garbage\n123 10.0.0.1 80 81\nx 10.0.0.2 80 81 =n\n");
    file.write(QByteArray::number(now - RecentModules::KeepMs - 1) + " 10.0.0.3 8000 8001 =old\n");
    file.close();

    const QVector<KnownModule> recent = RecentModules(path).heardSince(now);
    QCOMPARE(recent.size(), RecentModules::MaxEntries);
    QCOMPARE(recent.first(), module(QStringLiteral("10.0.1.%1").arg(heard - 1), 8000, 8001,
                                    QStringLiteral("bench %1%").arg(heard - 1)));
    QCOMPARE(recent.last().ip, QStringLiteral("10.0.1.%1").arg(heard - RecentModules::MaxEntries));
}

void tst_KnownModules::unwritableFile()
{
    // A directory where the file should be: it can be neither read nor written.
    const QString path = dir.filePath("taken");
    QVERIFY(QDir().mkpath(path));
    KnownModules list(path);
    QCOMPARE(list.load(), QStringList{path + " cannot be read; no modules added by address are listed"});
    QString error;
    QVERIFY(!list.add(module("10.0.0.5"), &error));
    QCOMPARE(error, QStringLiteral("cannot write ") + path);
    QVERIFY(list.modules().isEmpty());
}

void tst_KnownModules::announcementUpdates_data()
{
    QTest::addColumn<QStringList>("announced"); // ip, data port, AT-command port, name
    QTest::addColumn<bool>("changed");
    QTest::addColumn<KnownModule>("kept");
    const KnownModule before = module("10.0.0.5", 8000, 8001, "before");
    QTest::newRow("new name and ports") << QStringList{"10.0.0.5", "9000", "9001", "after"} << true
                                        << module("10.0.0.5", 9000, 9001, "after");
    QTest::newRow("ports not announced") << QStringList{"10.0.0.5", "", "", "after"} << true
                                         << module("10.0.0.5", 8000, 8001, "after");
    QTest::newRow("a name the list refuses") << QStringList{"10.0.0.5", "9000", "", "a\rb"} << true
                                             << module("10.0.0.5", 9000, 8001, "before");
    QTest::newRow("nothing new") << QStringList{"10.0.0.5", "8000", "8001", "before"} << false << before;
    QTest::newRow("another module") << QStringList{"10.0.0.6", "9000", "9001", "after"} << false << before;
}

// A known module that also announces itself is one module: what it announces is kept.
void tst_KnownModules::announcementUpdates()
{
    QFETCH(QStringList, announced);
    QFETCH(bool, changed);
    QFETCH(KnownModule, kept);
    const QString path = dir.filePath(QStringLiteral("merge-%1.ini").arg(QTest::currentDataTag()));
    KnownModules list(path);
    QString error;
    QVERIFY(list.add(module("10.0.0.5", 8000, 8001, "before"), &error));

    discovery::Announcement a;
    a.hostIp = announced[0];
    a.dataPort = announced[1];
    a.atPort = announced[2];
    a.hostName = announced[3];
    QCOMPARE(list.takeAnnouncement(a, &error), changed);
    QVERIFY(error.isEmpty());
    KnownModules again(path);
    again.load();
    QCOMPARE(again.modules(), QVector<KnownModule>{kept});
}

// A known module is there while its AT-command port accepts, leaves as a silent module does (the
// fourth sweep after its last answer), and comes back when it accepts again.
void tst_KnownModules::presenceFollowsTheProbe()
{
    QTcpServer at;
    QVERIFY(at.listen(QHostAddress::LocalHost));
    const quint16 port = at.serverPort();
    KnownModuleProbe probe;
    probe.setModules({module("127.0.0.1", 8000, port, "shelf")});
    discovery::Presence presence;
    connect(&probe, &KnownModuleProbe::answered, &presence,
            [&presence](const discovery::Announcement &a) { presence.refreshPresence(a.hostIp); });
    QSignalSpy answered(&probe, &KnownModuleProbe::answered);
    QSignalSpy idle(&probe, &KnownModuleProbe::idle);
    QSignalSpy departed(&presence, &discovery::Presence::departed);
    const auto round = [&] {
        probe.probeAll();
        QVERIFY(idle.wait());
        presence.sweepPresence();
    };

    round();
    const auto a = answered.first().first().value<discovery::Announcement>();
    QCOMPARE(QStringList({a.hostIp, a.dataPort, a.atPort, a.hostName}),
             QStringList({"127.0.0.1", "8000", QString::number(port), "shelf"}));
    at.close(); // refused from now on
    round();
    round();
    QCOMPARE(departed.size(), 0);
    round();
    QCOMPARE(departed.size(), 1);
    QCOMPARE(answered.size(), 1);

    QVERIFY(at.listen(QHostAddress::LocalHost, port));
    probe.probeAll();
    QVERIFY(idle.wait());
    QCOMPARE(presence.lifeCount("127.0.0.1"), discovery::Presence::LifeCount);
}

// Never two probes of one module at a time; and none of a module an upload holds (its one
// AT-command connection is taken), which counts as there all the same.
void tst_KnownModules::oneProbePerModule()
{
    QTcpServer at;
    QVERIFY(at.listen(QHostAddress::LocalHost));
    KnownModuleProbe probe;
    probe.setModules({module("127.0.0.1", 8000, at.serverPort())});
    QSignalSpy answered(&probe, &KnownModuleProbe::answered);
    QSignalSpy idle(&probe, &KnownModuleProbe::idle);
    probe.probeAll();
    probe.probeAll(); // the first is still under way
    QCOMPARE(probe.inFlight(), 1);
    QVERIFY(idle.wait());
    QCOMPARE(answered.size(), 1);
    QTRY_VERIFY(at.hasPendingConnections());
    delete at.nextPendingConnection();

    probe.setBusyRule([](const QString &ip) { return ip == "127.0.0.1"; });
    probe.probeAll();
    QCOMPARE(answered.size(), 2);
    QCOMPARE(probe.inFlight(), 0);
    QVERIFY(!at.waitForNewConnection(100));
}

QTEST_GUILESS_MAIN(tst_KnownModules)
#include "tst_knownmodules.moc"
