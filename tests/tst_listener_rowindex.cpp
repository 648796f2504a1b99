#include "devicecolumns.h"
#include "devicerowindex.h"

#include <QRandomGenerator>
#include <QTableWidget>
#include <QTest>

using discovery::ColumnIp;
using discovery::DeviceRowIndex;

namespace {

int scanForKey(const QTableWidget &table, const QString &key)
{
    for (int row = table.rowCount() - 1; row >= 0; --row) {
        if (table.item(row, ColumnIp) && table.item(row, ColumnIp)->text() == key)
            return row;
    }
    return -1;
}

// Applies one step of a script: "+k" inserts a row keyed k on top, "-r" removes row r,
// "=r:k" rewrites row r's key cell, "p r" writes row r's Progress cell, "n r" its Name cell,
// "clear" empties the table.
void apply(QTableWidget &table, const QString &step)
{
    if (step.startsWith('+')) {
        table.insertRow(0);
        table.setItem(0, ColumnIp, new QTableWidgetItem(step.mid(1)));
    } else if (step.startsWith('-')) {
        table.removeRow(step.mid(1).toInt());
    } else if (step.startsWith('=')) {
        const QStringList parts = step.mid(1).split(':');
        table.item(parts[0].toInt(), ColumnIp)->setText(parts[1]);
    } else if (step.startsWith("p ")) {
        table.setItem(step.mid(2).toInt(), discovery::ColumnProgress, new QTableWidgetItem("50%"));
    } else if (step.startsWith("n ")) {
        table.setItem(step.mid(2).toInt(), discovery::ColumnName, new QTableWidgetItem("name"));
    } else if (step == "clear") {
        table.clearContents();
        table.setRowCount(0);
    }
}

} // namespace

// The window's row index: finding a module's row, and the rows whose cells need locking.
class tst_ListenerRowIndex : public QObject
{
    Q_OBJECT

private slots:
    void findsRows_data();
    void findsRows();
    void randomEditsKeepIndexExact();
    void changedRows_data();
    void changedRows();
    void manyChangesGiveEveryRow();
};

void tst_ListenerRowIndex::findsRows_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("keys"); // looked up afterwards, compared with a plain scan

    QTest::newRow("newest on top") << QStringList{"+a", "+b", "+c"} << QStringList{"a", "b", "c", "d"};
    QTest::newRow("removed in the middle") << QStringList{"+a", "+b", "+c", "-1"} << QStringList{"a", "b", "c"};
    QTest::newRow("removed at the top") << QStringList{"+a", "+b", "+c", "-0", "+d"} << QStringList{"a", "b", "c", "d"};
    QTest::newRow("removed and back") << QStringList{"+a", "+b", "-1", "+a"} << QStringList{"a", "b"};
    QTest::newRow("key cell rewritten") << QStringList{"+a", "+b", "=1:x"} << QStringList{"a", "b", "x"};
    QTest::newRow("cleared") << QStringList{"+a", "+b", "clear", "+c"} << QStringList{"a", "b", "c"};
    QTest::newRow("other cells written") << QStringList{"+a", "+b", "p 1", "n 0"} << QStringList{"a", "b"};
    QTest::newRow("empty key") << QStringList{"+", "+a"} << QStringList{"", "a"};
}

void tst_ListenerRowIndex::findsRows()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, keys);
    QTableWidget table(0, 7);
    DeviceRowIndex index(table.model(), ColumnIp);
    for (const QString &step : steps)
        apply(table, step);
    for (const QString &key : keys)
        QCOMPARE(index.row(key), scanForKey(table, key));
}

void tst_ListenerRowIndex::randomEditsKeepIndexExact()
{
    QTableWidget table(0, 7);
    DeviceRowIndex index(table.model(), ColumnIp);
    QRandomGenerator random(42);
    for (int i = 0; i < 3000; ++i) {
        const int rows = table.rowCount();
        const int choice = int(random.bounded(10));
        const QString key = QString::number(random.bounded(60));
        if (choice < 5 && scanForKey(table, key) < 0)
            apply(table, "+" + key); // as the window adds rows: one per key
        else if (choice < 8 && rows > 0)
            apply(table, "-" + QString::number(random.bounded(rows)));
        else if (rows > 0)
            apply(table, "p " + QString::number(random.bounded(rows)));
        for (int probe = 0; probe < 60; ++probe)
            QCOMPARE(index.row(QString::number(probe)), scanForKey(table, QString::number(probe)));
    }
}

void tst_ListenerRowIndex::changedRows_data()
{
    QTest::addColumn<QStringList>("before"); // steps taken before the index is emptied once
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("changed");

    QTest::newRow("new rows") << QStringList{} << QStringList{"+a", "+b"} << QList<int>{0, 1};
    QTest::newRow("nothing since") << QStringList{"+a", "+b"} << QStringList{} << QList<int>{};
    QTest::newRow("progress written") << QStringList{"+a", "+b", "+c"} << QStringList{"p 2"} << QList<int>{2};
    QTest::newRow("progress, then a row on top") << QStringList{"+a", "+b"} << QStringList{"p 1", "+c"}
                                                 << QList<int>{0, 2};
    QTest::newRow("changed row removed") << QStringList{"+a", "+b"} << QStringList{"p 1", "-1"} << QList<int>{};
    QTest::newRow("name cell only") << QStringList{"+a", "+b"} << QStringList{"n 1"} << QList<int>{};
    QTest::newRow("same row twice") << QStringList{"+a", "+b"} << QStringList{"p 0", "p 1", "p 0"}
                                    << QList<int>{0, 1};
}

void tst_ListenerRowIndex::changedRows()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, changed);
    QTableWidget table(0, 7);
    DeviceRowIndex index(table.model(), ColumnIp);
    for (const QString &step : before)
        apply(table, step);
    index.takeChangedRows();
    for (const QString &step : steps)
        apply(table, step);
    QCOMPARE(index.takeChangedRows().toList(), changed);
    QCOMPARE(index.takeChangedRows().toList(), QList<int>{});
}

void tst_ListenerRowIndex::manyChangesGiveEveryRow()
{
    // More changes than rows: every row is handed out once, none twice, none past the end.
    QTableWidget table(0, 7);
    DeviceRowIndex index(table.model(), ColumnIp);
    for (const char *key : {"+a", "+b", "+c"})
        apply(table, key);
    index.takeChangedRows();
    for (int i = 0; i < 10; ++i)
        apply(table, "p " + QString::number(i % 2 ? 0 : 2));
    QCOMPARE(index.takeChangedRows().toList(), (QList<int>{0, 1, 2}));
    apply(table, "-0");
    QCOMPARE(index.takeChangedRows().toList(), QList<int>{});
}

QTEST_MAIN(tst_ListenerRowIndex)
#include "tst_listener_rowindex.moc"
