#include "modulework.h"
#include "thread.h"

#include <QTest>

// What runs on each module: the one answer to "is it busy", kept as uploads start and end.
class tst_ModuleWork : public QObject
{
    Q_OBJECT

private slots:
    void busyWhileAnUploadRuns();
};

void tst_ModuleWork::busyWhileAnUploadRuns()
{
    // Workers that are never started: the registry only keeps them.
    upload::Thread first("8001", "8000", "10.0.0.1", "UNO");
    upload::Thread again("8001", "8000", "10.0.0.1", "UNO"); // the module left and came back
    upload::Thread other("8001", "8000", "10.0.0.2", "UNO");
    ModuleWork work;
    QVERIFY(!work.busy("10.0.0.1"));
    work.uploadStarted("10.0.0.1", &first);
    work.uploadStarted("10.0.0.1", &again);
    work.uploadStarted("10.0.0.2", &other);
    QCOMPARE(work.uploadThread(), &other);
    QCOMPARE(work.uploads().size(), 3);

    work.uploadEnded(&first);
    QVERIFY(work.busy("10.0.0.1"));
    work.uploadEnded(&again);
    QVERIFY(!work.busy("10.0.0.1"));
    QCOMPARE(work.uploadThread(), &other);
    work.uploadEnded(&other);
    QVERIFY(!work.busy("10.0.0.2"));
    QCOMPARE(work.uploadThread(), static_cast<upload::Thread *>(nullptr));
    QVERIFY(work.uploads().isEmpty());
}

QTEST_GUILESS_MAIN(tst_ModuleWork)
#include "tst_modulework.moc"
