#ifndef WIDGETINSPECTOR_H
#define WIDGETINSPECTOR_H

#include "ui_widget.h"
#include "widget.h"

#include "devicecolumns.h"
#include "modulelistener.h"

#include <QMetaObject>
#include <QUdpSocket>
#include <QTableWidgetItem>

// The row whose IP cell reads `ip`, or -1: the table searched on its own, not through the
// window's index.
inline int rowWithIp(const QTableWidget *table, const QString &ip)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *item = table->item(row, discovery::ColumnIp);
        if (item && item->text() == ip)
            return row;
    }
    return -1;
}

// Test access to the window's private parts: the form, the timer and socket, the logic objects
// it shows, and the row helpers the listener uses. The window declares it a friend.
struct WidgetInspector
{
    Widget &w;

    Ui::Widget *ui() const { return w.ui; }
    QTableWidget *table() const { return w.ui->userTableWidget; }
    QTimer *timer() const { return w.timer; }
    QUdpSocket *udpSocket() const { return w.udpSocket; }
    discovery::Presence &presence() const { return w.presence; }
    firmware::FirmwareSource &source() const { return w.source; }
    bool addingRow() const { return w.addingRow; }
    upload::Thread *uploadThread() const { return w.work.uploadThread(); }

    // The row-adding path as the listener takes it: addingRow set around addDeviceRow.
    void addDeviceRow(const QString &ip, const QString &dataPort, const QString &atPort, const QString &name)
    {
        w.addingRow = true;
        w.addDeviceRow(ip, dataPort, atPort, name);
        w.addingRow = false;
    }
    void lockNonNameCells() { w.lockNonNameCells(); }
    // The table's context menu on `row` (-1: below the rows), as a right click opens it.
    QMenu *tableMenu(int row) { return w.tableMenu(row); }
    QAction *uploadSelectedAction() const { return w.uploadSelectedAction; }
    QString localIPv4Address() const { return discovery::ModuleListener::localIPv4Address(); }
    // A file picked with Open File, without converting it: ./update.bin stays what it is.
    void pickManualFile(const QString &path)
    {
        w.source.chooseManualFile(path);
        w.source.useManualFile();
    }

    // Moves the window's listener from the shared port 3333 to a port of the test's own on
    // 127.0.0.1, so that modules other programs announce on this machine never reach it.
    // The port, or 0 when it could not be bound.
    quint16 listenPrivately()
    {
        QString error;
        return w.listener->listen(0, &error, QHostAddress(QHostAddress::LocalHost)) ? w.udpSocket->localPort() : 0;
    }

    // Private slots, called as their signals would call them.
    bool invoke(const char *slot) { return QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection); }
};

#endif // WIDGETINSPECTOR_H
