#ifndef WIDGET_H
#define WIDGET_H

#include "firmwaresource.h"
#include "modulework.h"
#include "presence.h"

#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

class MonitorWindow;
class QTableWidgetItem;
class QTimer;
class QUdpSocket;

namespace upload {
class Thread;
}

namespace Ui {
class Widget;
}

namespace discovery {
class DeviceRowIndex;
}

// The main window: device table, firmware source, upload launch and rename.
// Its slots are thin glue between the form and the logic libraries.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

signals:
    void sendIPaddress(QString IPaddress);
    void change_username(QString, QHostAddress);
    void send_hostname(QString, QString, QString);
    void send_hostinfo(QString, QString, QString);

private slots:
    // Each is defined in the window part of its subsystem's folder, as noted.
    void processPendingDatagrams();                // discovery/discoveryslots.cpp
    void OnBtnClicked();                           // upload/uploadslots.cpp
    void on_pushButton_4_clicked();                // firmware/firmwareslots.cpp
    void deal_ui(QString ip, int kind, float value); // upload/uploadslots.cpp
    void update_hex_file();                        // firmware/firmwareslots.cpp
    void participantLeft(QString ip);              // discovery/discoveryslots.cpp
    void on_radioButton_2_toggled(bool checked);   // firmware/firmwareslots.cpp
    void on_radioButton_toggled(bool checked);     // firmware/firmwareslots.cpp
    void on_userTableWidget_itemChanged(QTableWidgetItem *item); // config/configslots.cpp

private:
    // Device table rows, announcements and presence (discovery/discoveryslots.cpp)
    void addDeviceRow(const QString &hostIp, const QString &dataPort, const QString &atPort,
                      const QString &hostName);
    void lockNonNameCells();
    int rowOfIp(const QString &ip) const;
    QString localIPv4Address() const;
    // Removes the rows of these modules and shows the new count.
    void removeRowsOf(const QStringList &ips);

    // Runs the build-output finder and shows the default file and its time (firmware/firmwareslots.cpp)
    void refreshDefaultFile();

    // The device table's context menu and the serial monitors it opens (monitor/monitorslots.cpp)
    void showDeviceMenu(const QPoint &pos);
    void openMonitor(int row);
    void closeMonitors();

    // The modal "connect server fail" box of uploads and renames (app/widget.cpp)
    void showConnectServerFail();

    friend struct WidgetInspector; // test access, defined in tests/

    // State, built by the constructor (app/widget.cpp); the logic objects own what they keep.
    Ui::Widget *ui;
    QUdpSocket *udpSocket;
    quint16 port;
    upload::Thread *uploadThread = nullptr;
    firmware::FirmwareSource source; // manual mode, the file paths, currentFileName, generateTime, the conversion
    QTimer *timer;
    discovery::Presence presence; // presenceMap and sweepRunning
    bool addingRow;
    bool drainQueued = false;       // a turn of processPendingDatagrams is queued
    bool tableFullReported = false; // the full table was reported and no row has left since
    discovery::DeviceRowIndex *rowIndex; // IP -> row of userTableWidget, and rows to lock
    QSet<upload::Thread *> workers; // started and not yet finished; released when they finish
    monitor::ModuleWork moduleWork; // per module: its upload and its monitor, taking turns on the data port
    QHash<QString, QPointer<MonitorWindow>> monitors; // open monitor windows by IP, one per module
};

#endif // WIDGET_H
