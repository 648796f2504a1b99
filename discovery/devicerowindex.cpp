#include "devicerowindex.h"

#include <QAbstractItemModel>

#include <algorithm>

namespace discovery {

DeviceRowIndex::DeviceRowIndex(QAbstractItemModel *model, int keyColumn)
    : QObject(model)
    , model(model)
    , keyColumn(keyColumn)
{
    connect(model, &QAbstractItemModel::rowsInserted, this, &DeviceRowIndex::onRowsInserted);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &DeviceRowIndex::onRowsAboutToBeRemoved);
    connect(model, &QAbstractItemModel::dataChanged, this, &DeviceRowIndex::onDataChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &DeviceRowIndex::onModelReset);
    onModelReset();
}

int DeviceRowIndex::row(const QString &key) const
{
    const auto found = keyRows.constFind(key);
    if (found != keyRows.constEnd() && found->isValid() && keyText(found->row()) == key)
        return found->row();
    if (found == keyRows.constEnd())
        return -1;
    // Only a key cell rewritten behind the index's back gets here; search the slow way.
    for (int r = model->rowCount() - 1; r >= 0; --r) {
        if (keyText(r) == key)
            return r;
    }
    return -1;
}

QVector<int> DeviceRowIndex::takeChangedRows()
{
    QVector<int> rows;
    if (allChanged) {
        for (int r = 0; r < model->rowCount(); ++r)
            rows.append(r);
    } else {
        for (const QPersistentModelIndex &index : qAsConst(changed)) {
            if (index.isValid())
                rows.append(index.row());
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    }
    changed.clear();
    allChanged = false;
    return rows;
}

void DeviceRowIndex::onRowsInserted(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    for (int r = first; r <= last; ++r)
        markChanged(r);
}

void DeviceRowIndex::onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    for (int r = first; r <= last; ++r) {
        const auto found = keyRows.find(keyText(r));
        if (found != keyRows.end() && found->row() == r)
            keyRows.erase(found);
    }
}

void DeviceRowIndex::onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (!topLeft.isValid() || !bottomRight.isValid() || topLeft.parent().isValid())
        return;
    const bool keyChanged = topLeft.column() <= keyColumn && keyColumn <= bottomRight.column();
    for (int r = topLeft.row(); r <= bottomRight.row(); ++r) {
        if (bottomRight.column() >= 1)
            markChanged(r);
        if (keyChanged)
            keyRows.insert(keyText(r), QPersistentModelIndex(model->index(r, keyColumn)));
    }
}

void DeviceRowIndex::onModelReset()
{
    keyRows.clear();
    for (int r = 0; r < model->rowCount(); ++r)
        keyRows.insert(keyText(r), QPersistentModelIndex(model->index(r, keyColumn)));
    changed.clear();
    allChanged = true;
}

void DeviceRowIndex::markChanged(int row)
{
    if (allChanged)
        return;
    // Consecutive changes mostly hit one row (a row's cells, a running upload's progress).
    if (!changed.isEmpty() && changed.constLast().row() == row)
        return;
    // Past one entry per row, remembering every row is cheaper than following each.
    if (changed.size() >= model->rowCount()) {
        changed.clear();
        allChanged = true;
        return;
    }
    changed.append(QPersistentModelIndex(model->index(row, 0)));
}

QString DeviceRowIndex::keyText(int row) const
{
    return model->index(row, keyColumn).data().toString();
}

} // namespace discovery
