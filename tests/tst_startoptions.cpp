// What quarnel-uploader takes from its command line before the window starts, and the data
// directory it works in when started from the menu.
#include "startoptions.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <vector>

class tst_StartOptions : public QObject
{
    Q_OBJECT

private slots:
    void takesOwnOptions_data();
    void takesOwnOptions();
    void dataDirectoryBecomesWorkingDirectory();
    void dataDirectoryThatCannotBeMade();
    void cleanup();

private:
    const QString startDir = QDir::currentPath();
};

void tst_StartOptions::takesOwnOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("version");
    QTest::addColumn<bool>("useDataDir");
    QTest::addColumn<QStringList>("left");

    QTest::newRow("none") << QStringList{} << false << false << QStringList{};
    QTest::newRow("version") << QStringList{"--version"} << true << false << QStringList{};
    QTest::newRow("menu entry, Qt option kept")
        << QStringList{"-platform", "offscreen", "--use-data-dir"} << false << true << QStringList{"-platform", "offscreen"};
    QTest::newRow("both, anywhere") << QStringList{"--use-data-dir", "-style", "--version", "fusion"} << true << true
                                    << QStringList{"-style", "fusion"};
    QTest::newRow("look-alikes stay") << QStringList{"--versions", "-version", "--use-data-dir=x"} << false << false
                                      << QStringList{"--versions", "-version", "--use-data-dir=x"};
}

void tst_StartOptions::takesOwnOptions()
{
    QFETCH(QStringList, arguments);
    std::vector<QByteArray> storage{QByteArray("quarnel-uploader")};
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int argc = int(storage.size());

    const StartOptions options = takeStartOptions(&argc, argv.data());

    QTEST(options.version, "version");
    QTEST(options.useDataDir, "useDataDir");
    QStringList left;
    for (int i = 1; i < argc; ++i)
        left << QString::fromLocal8Bit(argv[size_t(i)]);
    QTEST(left, "left");
    QCOMPARE(argv[size_t(argc)], nullptr);
    QCOMPARE(QString::fromLocal8Bit(argv[0]), QStringLiteral("quarnel-uploader"));
}

void tst_StartOptions::dataDirectoryBecomesWorkingDirectory()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    QCoreApplication::setApplicationName(QStringLiteral("quarnel-uploader"));
    const QString expected = home.filePath(QStringLiteral("quarnel-uploader"));

    QCOMPARE(enterDataDirectory(), QString()); // made
    QCOMPARE(QDir::currentPath(), expected);
    QVERIFY(writeFile(QStringLiteral("update.bin"), "image"));
    QDir::setCurrent(startDir);
    QCOMPARE(enterDataDirectory(), QString()); // already there: entered, contents kept
    QCOMPARE(QDir::currentPath(), expected);
    QCOMPARE(readFile(QStringLiteral("update.bin")), QByteArray("image"));
}

void tst_StartOptions::dataDirectoryThatCannotBeMade()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString notADirectory = home.filePath(QStringLiteral("file"));
    QVERIFY(writeFile(notADirectory, "x"));
    qputenv("XDG_DATA_HOME", notADirectory.toLocal8Bit());
    QCoreApplication::setApplicationName(QStringLiteral("quarnel-uploader"));

    QCOMPARE(enterDataDirectory(), QStringLiteral("cannot create %1/quarnel-uploader").arg(notADirectory));
    QCOMPARE(QDir::currentPath(), startDir);
}

void tst_StartOptions::cleanup()
{
    QDir::setCurrent(startDir);
}

QTEST_GUILESS_MAIN(tst_StartOptions)
#include "tst_startoptions.moc"
