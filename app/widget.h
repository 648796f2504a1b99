#ifndef WIDGET_H
#define WIDGET_H

#include "sketchbuilds.h"

#include <QHostAddress>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

class QTableWidgetItem;
class QTimer;
class QUdpSocket;
class Thread;

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
    void processPendingDatagrams();
    void OnBtnClicked();
    void on_pushButton_4_clicked();
    void deal_ui(QString ip, int kind, float value);
    void update_hex_file();
    void participantLeft(QString ip);
    void on_radioButton_2_toggled(bool checked);
    void on_radioButton_toggled(bool checked);
    void on_userTableWidget_itemChanged(QTableWidgetItem *item);

private:
    // Device table (discovery/devicetable.cpp)
    void addDeviceRow(const QString &hostIp, const QString &dataPort, const QString &atPort,
                      const QString &hostName);
    void lockNonNameCells();
    int rowOfIp(const QString &ip) const;

    // Announcements and presence (discovery/)
    QString localIPv4Address() const;
    void refreshPresence(const QString &ip);
    void sweepPresence();
    // Removes the rows of these modules and shows the new count.
    void removeRowsOf(const QStringList &ips);

    // Build-output finder (firmware/)
    void refreshDefaultFile();
    void findBuildDir();
    void findHexFile(const QString &dir);
    void readFileTime(const QString &path);

    // The modal "connect server fail" box of uploads and renames.
    void showConnectServerFail();
    // The file-name part of a firmware path, after its last separator.
    static QString fileNameOf(const QString &path);

    friend struct WidgetInspector; // test access, defined in tests/

    Ui::Widget *ui;
    QUdpSocket *udpSocket;
    quint16 port;
    Thread *uploadThread = nullptr;
    QString manualFilePath;
    QString defaultFilePath;
    QString currentFileName;
    QTimer *timer;
    QMap<QString, int> presenceMap;
    bool sweepRunning;
    bool manualMode;
    QString generateTime;
    firmware::BuildOutputSearch outputSearch; // the current tools' build directories, across looks
    bool addingRow;
    // False after a conversion failed: ./update.bin is not the image of the file in use.
    bool imageConverted = true;
    bool drainQueued = false;       // a turn of processPendingDatagrams is queued
    bool tableFullReported = false; // the full table was reported and no row has left since
    discovery::DeviceRowIndex *rowIndex; // IP -> row of userTableWidget, and rows to lock
    QSet<Thread *> workers; // started and not yet finished; released when they finish
};

#endif // WIDGET_H
