#ifndef DEVICETABLEWIDGET_H
#define DEVICETABLEWIDGET_H

#include <QTableWidget>

// The device table. A row inserted on top moves every row below it; the view would place every
// row's cell widgets again after each insert, so a burst of new modules cost time in proportion
// to the square of their number. Here the widgets are placed once, when the event loop comes
// back, after the whole burst.
class DeviceTableWidget : public QTableWidget
{
    Q_OBJECT

public:
    using QTableWidget::QTableWidget;

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;

private:
    bool placementPending = false;
};

#endif // DEVICETABLEWIDGET_H
