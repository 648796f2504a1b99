#ifndef WIDGETINSPECTOR_H
#define WIDGETINSPECTOR_H

#include "ui_widget.h"
#include "widget.h"

#include <QMetaObject>
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

    // Private slots, called as their signals would call them.
    bool invoke(const char *slot) { return QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection); }
};

#endif // WIDGETINSPECTOR_H
