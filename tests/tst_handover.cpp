#include "handover.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using upload::Handover;

// The record of ports let go, which decides whether a refused data connection is tried again.
class tst_Handover : public QObject
{
    Q_OBJECT

private slots:
    void takeOver_data();
    void takeOver();
    void keepsTheNewest();
};

const qint64 Now = 1700000000000;

void tst_Handover::takeOver_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("retried");
    const QByteArray mine = "127.0.0.9 5000\n";
    QTest::newRow("let go a moment ago") << QByteArray::number(Now - 200) + ' ' + mine << true;
    QTest::newRow("let go a connect wait ago") << QByteArray::number(Now - Handover::RecentMs) + ' ' + mine << true;
    QTest::newRow("let go long ago") << QByteArray::number(Now - Handover::RecentMs - 1) + ' ' + mine << false;
    QTest::newRow("another port") << QByteArray::number(Now) + " 127.0.0.9 5001\n" << false;
    QTest::newRow("another module") << QByteArray::number(Now) + " 127.0.0.10 5000\n" << false;
    QTest::newRow("nothing let go") << QByteArray() << false;
    QTest::newRow("damaged lines around") << "x 127.0.0.9 5000\n" + QByteArray::number(Now) + " 127.0.0.9 70000\n\xff a\n"
                                                 + QByteArray::number(Now - 5) + ' ' + mine + "12 127.0.0.9\n"
                                          << true;
    QTest::newRow("in the future") << QByteArray::number(Now + 10) + ' ' + mine << false;
}

void tst_Handover::takeOver()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, retried);
    QTemporaryDir dir;
    const QString path = dir.filePath("handovers.txt");
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    QCOMPARE(Handover(path).letGoRecently("127.0.0.9", 5000, Now), retried);
    // A let-go this program notes now counts too, with the damaged lines left behind.
    QVERIFY(Handover(path).noteLetGo("127.0.0.9", 5000, Now));
    QVERIFY(Handover(path).letGoRecently("127.0.0.9", 5000, Now + 1));
}

void tst_Handover::keepsTheNewest()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/handovers.txt");
    Handover record(path);
    for (int i = 0; i < Handover::MaxEntries + 6; ++i)
        QVERIFY(record.noteLetGo("127.0.0.9", quint16(5000 + i), Now + i));
    QFile in(path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll().count('\n'), Handover::MaxEntries);
    QVERIFY(!record.letGoRecently("127.0.0.9", 5005, Now + 100));
    QVERIFY(record.letGoRecently("127.0.0.9", 5006, Now + 100));
}

QTEST_GUILESS_MAIN(tst_Handover)
#include "tst_handover.moc"
