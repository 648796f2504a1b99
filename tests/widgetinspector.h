#ifndef WIDGETINSPECTOR_H
#define WIDGETINSPECTOR_H

#include "ui_widget.h"
#include "widget.h"

#include <QMetaObject>
#include <QUdpSocket>
#include <QTableWidgetItem>

// Test access to the window's private state; the window declares it a friend.
struct WidgetInspector
{
    Widget &w;

    Ui::Widget *ui() const { return w.ui; }
    QTableWidget *table() const { return w.ui->userTableWidget; }
    QTimer *timer() const { return w.timer; }
    QUdpSocket *udpSocket() const { return w.udpSocket; }
    const QMap<QString, int> &presenceMap() const { return w.presenceMap; }
    bool manualMode() const { return w.manualMode; }
    bool sweepRunning() const { return w.sweepRunning; }
    bool addingRow() const { return w.addingRow; }
    QString manualFilePath() const { return w.manualFilePath; }
    QString defaultFilePath() const { return w.defaultFilePath; }
    QString currentFileName() const { return w.currentFileName; }
    QString generateTime() const { return w.generateTime; }
    Thread *uploadThread() const { return w.uploadThread; }

    // The row-adding path as the listener takes it: addingRow set around addDeviceRow.
    void addDeviceRow(const QString &ip, const QString &dataPort, const QString &atPort, const QString &name)
    {
        w.addingRow = true;
        w.addDeviceRow(ip, dataPort, atPort, name);
        w.addingRow = false;
    }
    void lockNonNameCells() { w.lockNonNameCells(); }
    void refreshPresence(const QString &ip) { w.refreshPresence(ip); }
    void sweepPresence() { w.sweepPresence(); }
    void setSweepRunning(bool running) { w.sweepRunning = running; }
    QString localIPv4Address() const { return w.localIPv4Address(); }
    void refreshDefaultFile() { w.refreshDefaultFile(); }
    void readFileTime(const QString &path) { w.readFileTime(path); }
    void setDefaultFilePath(const QString &p) { w.defaultFilePath = p; }
    void setManualFilePath(const QString &p) { w.manualFilePath = p; }
    void setCurrentFileName(const QString &n) { w.currentFileName = n; }

    // Moves the window's listener from the shared port 3333 to a port of the test's own on
    // 127.0.0.1, so that modules other programs announce on this machine never reach it.
    // The port, or 0 when it could not be bound.
    quint16 listenPrivately()
    {
        w.udpSocket->close();
        return w.udpSocket->bind(QHostAddress(QHostAddress::LocalHost), 0) ? w.udpSocket->localPort() : 0;
    }

    // Private slots, called as their signals would call them.
    bool invoke(const char *slot) { return QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection); }
};

#endif // WIDGETINSPECTOR_H
