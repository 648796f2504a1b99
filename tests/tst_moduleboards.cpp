// The store of what each module is: the pair of address and host name, the file the window and
// quarnel-cli share, its bound and its damage.
#include "moduleboards.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using upload::ModuleBoards;

namespace {

const upload::Board &board(const char *name)
{
    return *upload::findBoard(QLatin1String(name));
}

QString boardText(const upload::Board *board)
{
    return board ? QLatin1String(board->name) : QStringLiteral("-");
}

QStringList ipsOf(const ModuleBoards &store)
{
    QStringList ips;
    for (const ModuleBoards::Entry &e : store.entries())
        ips << e.ip;
    ips.sort();
    return ips;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class tst_ModuleBoards : public QObject
{
    Q_OBJECT

private slots:
    void whichModule_data();
    void whichModule();
    void sharedBetweenPrograms();
    void bounded();
    void damagedFile_data();
    void damagedFile();
    void unwritableFile();

private:
    QTemporaryDir dir;
};

void tst_ModuleBoards::whichModule_data()
{
    QTest::addColumn<QString>("keptName"); // the host name the board was learned with
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("askedName");
    QTest::addColumn<QString>("found");
    QTest::newRow("same module") << "bench-uno" << "10.0.0.5" << "bench-uno" << "UNO";
    QTest::newRow("name not known when asked") << "bench-uno" << "10.0.0.5" << "" << "UNO";
    QTest::newRow("name not known when learned") << "" << "10.0.0.5" << "bench-uno" << "UNO";
    QTest::newRow("another module has the address") << "bench-uno" << "10.0.0.5" << "bench-mega" << "-";
    QTest::newRow("another address") << "bench-uno" << "10.0.0.6" << "bench-uno" << "-";
}

void tst_ModuleBoards::whichModule()
{
    QFETCH(QString, keptName);
    QFETCH(QString, ip);
    QFETCH(QString, askedName);
    QFETCH(QString, found);
    ModuleBoards store(dir.filePath(QStringLiteral("which-%1.ini").arg(QTest::currentDataTag())));
    QString error;
    QVERIFY(store.remember("10.0.0.5", keptName, board("UNO"), &error));
    QCOMPARE(boardText(store.boardOf(ip, askedName)), found);
}

// What the window learns, quarnel-cli finds, and the other way round; a rename keeps the board.
void tst_ModuleBoards::sharedBetweenPrograms()
{
    const QString path = dir.filePath("shared/boards.ini");
    ModuleBoards window(path);
    QCOMPARE(window.load(), QStringList()); // no file yet
    QString error;
    QVERIFY(window.remember("10.0.0.5", QStringLiteral("caf\u00e9"), board("zariV3"), &error));
    QVERIFY(window.remember({{"10.0.0.6", "uno-1", &board("UNO")}, {"10.0.0.7", "a\nb", &board("MEGA2560")}}, &error));

    ModuleBoards cli(path);
    QCOMPARE(cli.load(), QStringList());
    QCOMPARE(boardText(cli.boardOf("10.0.0.5", QStringLiteral("caf\u00e9"))), QStringLiteral("zariV3"));
    QCOMPARE(boardText(cli.boardOf("10.0.0.7", "any")), QStringLiteral("MEGA2560")); // a name it cannot keep
    QVERIFY(cli.remember("10.0.0.6", QString(), board("MEGA2560"), &error));
    QVERIFY(cli.takeName("10.0.0.5", "renamed", &error));

    QCOMPARE(window.refresh().size(), 0);
    QCOMPARE(boardText(window.boardOf("10.0.0.6", "uno-1")), QStringLiteral("MEGA2560"));
    QCOMPARE(boardText(window.boardOf("10.0.0.5", "renamed")), QStringLiteral("zariV3"));
    QCOMPARE(ipsOf(window), (QStringList{"10.0.0.5", "10.0.0.6", "10.0.0.7"}));
}

// A full store makes room by forgetting the module learned longest ago; a file made larger by
// hand is read up to the bound.
void tst_ModuleBoards::bounded()
{
    const QString path = dir.filePath("full.ini");
    QByteArray content;
    // Leading zeros keep the file's order the order of i; the later, the longer ago learned.
    for (int i = 0; i < ModuleBoards::MaxEntries + 3; ++i)
        content += QStringLiteral("[10.1.%1.%2]\nboard=UNO\nlearned=%3\n")
                       .arg(i / 256, 3, 10, QLatin1Char('0'))
                       .arg(i % 256, 3, 10, QLatin1Char('0'))
                       .arg(5000 - i)
                       .toLatin1();
    QVERIFY(writeFile(path, content));
    ModuleBoards store(path);
    QCOMPARE(store.load(), QStringList{path + ": only the first 1024 modules are read"});
    QCOMPARE(store.entries().size(), ModuleBoards::MaxEntries);

    QString error;
    QVERIFY(store.remember("10.0.0.1", QString(), board("UNO"), &error));
    QCOMPARE(store.entries().size(), ModuleBoards::MaxEntries);
    QVERIFY(!store.boardOf("10.1.3.255", QString())); // the oldest read, learned at 5000 - 1023
    QVERIFY(store.boardOf("10.1.3.254", QString()));
    QVERIFY(store.boardOf("10.0.0.1", QString()));
}

void tst_ModuleBoards::damagedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("problems"); // each the end of one line

    const QByteArray good = "[10.0.0.7]\nname=ok\nboard=UNO\nlearned=1\n";
    QTest::newRow("unknown board, bad address, bad name")
        << good + "[10.0.0.8]\nboard=NANO\n[my-module]\nboard=UNO\n[10.0.0.9]\nboard=UNO\nname=\"a\\nb\"\n"
        << QStringList{"10.0.0.7"}
        << QStringList{"[10.0.0.8] left out: \"NANO\" is no board type (MEGA2560, UNO, zariV3, zureD0)",
                       "[10.0.0.9] left out: the name holds a control character",
                       "[my-module] left out: \"my-module\" is not a module's IPv4 address (four numbers 0..255, as "
                       "192.168.1.20)"};
    QTest::newRow("binary bytes, cut short, no time")
        << "\x01\x02\xff\n" + good + "[10.0.0.9]\nboard=MEGA2560\n[10.0.0.10]\nboard=\"UN"
        << QStringList{"10.0.0.7", "10.0.0.9"}
        << QStringList{"[10.0.0.10] left out: \"UN\" is no board type (MEGA2560, UNO, zariV3, zureD0)"};
    QTest::newRow("one address twice") << good + "[010.0.0.7]\nboard=UNO\n" << QStringList{"10.0.0.7"}
                                       << QStringList{"[10.0.0.7] left out: listed twice"};
}

// A damaged file costs its bad entries, not the start; and it can still be written.
void tst_ModuleBoards::damagedFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, problems);
    const QString path = dir.filePath(QStringLiteral("damaged-%1.ini").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(path, content));

    ModuleBoards store(path);
    const QStringList lines = store.load();
    QCOMPARE(ipsOf(store), kept);
    QCOMPARE(lines.size(), problems.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines[i].startsWith(path) && lines[i].endsWith(problems[i]), qPrintable(lines[i]));

    QString error;
    QVERIFY2(store.remember("10.0.0.50", "new", board("UNO"), &error), qPrintable(error));
    ModuleBoards again(path);
    again.load();
    QStringList expected = kept + QStringList{"10.0.0.50"};
    expected.sort();
    QCOMPARE(ipsOf(again), expected);
}

void tst_ModuleBoards::unwritableFile()
{
    // A directory where the file should be: it can be neither read nor written.
    const QString path = dir.filePath("taken");
    QVERIFY(QDir().mkpath(path));
    ModuleBoards store(path);
    QCOMPARE(store.load(), QStringList{path + " cannot be read; no board types are remembered"});
    QString error;
    QVERIFY(!store.remember("10.0.0.5", "uno", board("UNO"), &error));
    QCOMPARE(error, QStringLiteral("cannot write ") + path);
    QCOMPARE(boardText(store.boardOf("10.0.0.5", "uno")), QStringLiteral("UNO")); // kept for this run
}

QTEST_GUILESS_MAIN(tst_ModuleBoards)
#include "tst_moduleboards.moc"
