// The window's part of the serial monitor: the monitor windows that the device table's context
// menu opens, one per module.

#include "widget.h"

#include "devicecolumns.h"
#include "monitorwindow.h"
#include "ui_widget.h"

void Widget::openMonitor(int row)
{
    QTableWidget *table = ui->userTableWidget;
    const auto text = [table, row](int column) {
        const QTableWidgetItem *item = table->item(row, column);
        return item ? item->text() : QString();
    };
    const QString ip = text(discovery::ColumnIp);
    if (MonitorWindow *open = monitors.value(ip)) {
        open->raise();
        open->activateWindow();
        return;
    }
    // The port as the row shows it, truncated to 16 bits as an upload takes it.
    const auto dataPort = quint16(text(discovery::ColumnDataPort).toInt(nullptr, 10));
    auto *window = new MonitorWindow(ip, dataPort, text(discovery::ColumnName), {}, this);
    monitors.insert(ip, window);
    connect(window, &QObject::destroyed, this, [this, ip] {
        monitors.remove(ip);
        work.removeMonitor(ip);
    });
    window->show();
    work.addMonitor(ip, window->connection());
}

void Widget::closeMonitors()
{
    for (const QPointer<MonitorWindow> &window : qAsConst(monitors)) {
        if (window) {
            window->disconnect(this);
            delete window;
        }
    }
    monitors.clear();
}
