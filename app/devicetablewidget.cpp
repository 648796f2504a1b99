#include "devicetablewidget.h"

void DeviceTableWidget::rowsInserted(const QModelIndex &parent, int start, int end)
{
    Q_UNUSED(parent);
    Q_UNUSED(start);
    Q_UNUSED(end);
    if (placementPending)
        return;
    placementPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            placementPending = false;
            updateEditorGeometries();
        },
        Qt::QueuedConnection);
}
