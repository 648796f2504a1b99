#ifndef DEVICEROWINDEX_H
#define DEVICEROWINDEX_H

#include <QHash>
#include <QObject>
#include <QPersistentModelIndex>
#include <QString>
#include <QVector>

class QAbstractItemModel;

namespace discovery {

// Watches the device table's model so that announcements cost the same with one row or a
// thousand: finds the row that holds a key text, and remembers which rows gained or changed
// cells since they were last taken.
class DeviceRowIndex : public QObject
{
    Q_OBJECT

public:
    // Becomes a child of the model; the model should have no rows yet.
    DeviceRowIndex(QAbstractItemModel *model, int keyColumn);

    // The row whose key cell reads exactly `key`, or -1.
    int row(const QString &key) const;

    // Rows inserted, or with a cell outside column 0 set or changed, since the last call;
    // ascending, each once.
    QVector<int> takeChangedRows();

private:
    void onRowsInserted(const QModelIndex &parent, int first, int last);
    void onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last);
    void onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void onModelReset();
    void markChanged(int row);
    QString keyText(int row) const;

    QAbstractItemModel *model;
    int keyColumn;
    QHash<QString, QPersistentModelIndex> keyRows;
    // Follows the rows as others are inserted or removed above them.
    QVector<QPersistentModelIndex> changed;
    bool allChanged = false;
};

} // namespace discovery

#endif // DEVICEROWINDEX_H
