// The one upload queue (quarnel-cli upload --all, the window's upload of several rows) and the
// window's choice of rows for it, without a window.
#include "bulkupload.h"
#include "uploadbatch.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QTest>

#include <algorithm>

using namespace upload;

namespace {

RowSnapshot row(const QString &ip, const QString &board, const QString &progress = QString(),
                const QString &name = QStringLiteral("quarnel"))
{
    return {name, ip, QStringLiteral("8000"), QStringLiteral("8001"), board, progress};
}

QStringList ipsOf(const QVector<BatchJob> &jobs)
{
    QStringList ips;
    for (const BatchJob &job : jobs)
        ips << job.target.ip;
    return ips;
}

} // namespace

class tst_UploadBatch : public QObject
{
    Q_OBJECT

private slots:
    void boardsAtOnce_data();
    void boardsAtOnce();
    void jobsOfRows_data();
    void jobsOfRows();
    void failedRows();
    void failureList();
    void refusedModulesFailWithinTheLimit();
};

void tst_UploadBatch::boardsAtOnce_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("boards");
    QTest::addColumn<qint64>("openFileLimit");
    QTest::addColumn<int>("atOnce");

    const int fit = (1024 - UploadBatch::FilesReserved) / UploadBatch::FilesPerBoard;
    QTest::newRow("all, no limit") << 0 << 800 << qint64(0) << 800;
    QTest::newRow("800 boards, 1,024 files") << 0 << 800 << qint64(1024) << fit;
    QTest::newRow("--jobs above the limit") << 4096 << 4096 << qint64(1024) << fit;
    QTest::newRow("--jobs within the limit") << 4 << 800 << qint64(1024) << 4;
    QTest::newRow("limit below the reserve") << 0 << 10 << qint64(16) << 1;
}

void tst_UploadBatch::boardsAtOnce()
{
    QFETCH(int, jobs);
    QFETCH(int, boards);
    QFETCH(qint64, openFileLimit);
    QFETCH(int, atOnce);
    QCOMPARE(UploadBatch::boardsAtOnce(jobs, boards, openFileLimit), atOnce);
}

void tst_UploadBatch::jobsOfRows_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("ips");

    QTest::newRow("table order, whatever the selection order") << QList<int>{2, 0} << QStringList{"10.0.0.1", "10.0.0.3"};
    QTest::newRow("a row listed twice") << QList<int>{1, 1} << QStringList{"10.0.0.2"};
    QTest::newRow("rows past the table") << QList<int>{-1, 1, 9} << QStringList{"10.0.0.2"};
    QTest::newRow("two rows of one module") << QList<int>{0, 1, 2, 3} << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    QTest::newRow("nothing selected") << QList<int>{} << QStringList{};
}

void tst_UploadBatch::jobsOfRows()
{
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, ips);
    const QVector<RowSnapshot> table{row("10.0.0.1", "UNO"), row("10.0.0.2", "MEGA2560"), row("10.0.0.3", "zariV3"),
                                     row("10.0.0.1", "MEGA2560")};
    const QVector<BatchJob> jobs = upload::jobsOfRows(table, selected);
    QCOMPARE(ipsOf(jobs), ips);
    for (const BatchJob &job : jobs) {
        // Each job has its own row's board and ports, and waits for its turn.
        const RowSnapshot &r = *std::find_if(table.begin(), table.end(),
                                             [&job](const RowSnapshot &s) { return s.ip == job.target.ip; });
        QCOMPARE(job.target.board, r.board);
        QCOMPARE(job.target.dataPort, quint16(8000));
        QCOMPARE(job.target.atPort, quint16(8001));
        QCOMPARE(job.state, BatchJob::State::Waiting);
    }
}

void tst_UploadBatch::failedRows()
{
    const QVector<RowSnapshot> table{row("10.0.0.1", "UNO", "Fail"), row("10.0.0.2", "UNO", "Successful"),
                                     row("10.0.0.3", "UNO", "42%"), row("10.0.0.4", "UNO"),
                                     row("10.0.0.5", "UNO", "Fail")};
    QCOMPARE(upload::failedRows(table), (QList<int>{0, 4}));
}

void tst_UploadBatch::failureList()
{
    QVector<BatchJob> jobs(3);
    jobs[0].target.ip = "10.0.0.1";
    jobs[0].state = BatchJob::State::Done;
    jobs[1].target.ip = "10.0.0.2";
    jobs[1].state = BatchJob::State::Failed;
    jobs[1].failure = "module data port unreachable";
    jobs[2].target.ip = "10.0.0.9";
    jobs[2].state = BatchJob::State::Failed;
    jobs[2].failure = "bootloader did not answer get sync";
    const QVector<RowSnapshot> table{row("10.0.0.1", "UNO", "Successful", "bench-1"),
                                     row("10.0.0.2", "UNO", "Fail", "bench-2")};
    QCOMPARE(upload::failureList(jobs, table),
             QStringLiteral("bench-2 (10.0.0.2): module data port unreachable\n"
                            " (10.0.0.9): bootloader did not answer get sync"));
    QCOMPARE(upload::failureList(jobs.mid(0, 1), table), QString());
}

// Modules that refuse connections: at most `jobs` boards run at once, and each ends Failed with
// the reason the worker found.
void tst_UploadBatch::refusedModulesFailWithinTheLimit()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress("127.0.0.83")));
    const quint16 port = closed.serverPort();
    closed.close();

    QVector<BatchJob> jobs(5);
    for (int i = 0; i < jobs.size(); ++i)
        jobs[i].target = {QStringLiteral("127.0.0.83"), port, port, i % 2 ? "UNO" : "MEGA2560"};
    QTemporaryFile image;
    QVERIFY(image.open());
    image.write(QByteArray(300, '\x0c'));
    image.close();
    UploadBatch batch(jobs, {image.fileName(), {}, false, 2, 0, QString()});
    int mostRunning = 0;
    connect(&batch, &UploadBatch::changed, this, [&batch, &mostRunning] {
        const auto running = std::count_if(batch.jobs().begin(), batch.jobs().end(), [](const BatchJob &j) {
            return j.state == BatchJob::State::Connecting || j.state == BatchJob::State::Writing;
        });
        mostRunning = std::max(mostRunning, int(running));
    });
    QSignalSpy finished(&batch, &UploadBatch::finished);
    batch.start();
    QVERIFY(finished.wait(20000));
    QCOMPARE(mostRunning, 2);
    for (const BatchJob &job : batch.jobs()) {
        QCOMPARE(job.state, BatchJob::State::Failed);
        QCOMPARE(job.outcome.kind, UploadOutcome::Kind::DataPortUnreachable);
        QCOMPARE(job.failure, QStringLiteral("module data port unreachable"));
    }
}

QTEST_GUILESS_MAIN(tst_UploadBatch)
#include "tst_uploadbatch.moc"
