#ifndef WIDGET_H
#define WIDGET_H

#include "firmwaresource.h"
#include "knownmodules.h"
#include "knownprobe.h"
#include "moduleboards.h"
#include "modulework.h"
#include "presence.h"

#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <memory>

class QAction;
class QComboBox;
class QMenu;
class QTemporaryFile;
class MonitorWindow;
class QTableWidgetItem;
class QTimer;
class QUdpSocket;

namespace upload {
class Thread;
class UploadBatch;
struct RowSnapshot;
}

namespace Ui {
class Widget;
}

namespace discovery {
class DeviceRowIndex;
class ModuleListener;
struct Announcement;
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
    // The module a row shows, read from its cells and its board box.
    struct RowModule
    {
        QString ip;
        QString dataPort; // the cells' texts, as announced
        QString atPort;
        QString board;
    };
    RowModule moduleOfRow(int row) const;
    // The row holding this cell widget (an Upload button, a board box), or -1. Found by the widget
    // itself, not by its place on screen: a widget scrolled half out of view has its corner above
    // the table, and a hidden table has no layout yet.
    int rowOfCellWidget(const QWidget *widget, int column) const;
    // An announcement the listener accepted, or a known module that answered: the module's row and
    // its presence.
    void showModule(const discovery::Announcement &announcement);
    // Removes the rows of these modules and shows the new count.
    void removeRowsOf(const QStringList &ips);
    // What each module is: the board a new row shows, kept when the user chooses one in a Device
    // box and when an upload succeeds.
    void rememberBoard(const QString &ip, const QString &hostName, const upload::Board *board);
    void boardChosen(const QComboBox *boardBox);

    // Modules added by address (discovery/knownslots.cpp)
    void startKnownModules();
    // An announcement from a known module updates it, and its row.
    void takeKnownAnnouncement(const discovery::Announcement &announcement);
    // The table's context menu for `row` (-1: no row): on a row "Serial monitor" and "Identify
    // board", then "Add module by address…", and on the row of a known module "Forget module".
    QMenu *tableMenu(int row);
    void showTableMenu(const QPoint &position);
    void addModuleByAddress();
    void forgetModule(const QString &ip);

    // "Identify board" on a row: the board behind the module found on a worker thread, its type
    // set in the Device box and kept (upload/uploadslots.cpp)
    void identifyModuleBoard(const QString &ip);
    void boardIdentified(const QString &ip, const QString &board, const QString &text, int result);

    // Runs the build-output finder and shows the default file and its time (firmware/firmwareslots.cpp)
    void refreshDefaultFile();

    // The serial monitors that the table's context menu opens (monitor/monitorslots.cpp)
    void openMonitor(int row);
    void closeMonitors();

    // Uploads of several rows in one press (upload/bulkslots.cpp). They run through the batch
    // queue of quarnel-cli's upload --all; no box opens per row, one box at the end lists the
    // rows that failed. Each "Fail" carries its reason as the Progress cell's tooltip.
    bool prepareImage(); // the image of the file in use is ready; warns "Please Selcet File" if none is in use
    void uploadSelectedRows();
    void retryFailedRows();
    void uploadRows(const QList<int> &rows);
    void showBulkJob(int index);
    void bulkEnded();
    QVector<upload::RowSnapshot> tableSnapshot() const;
    QList<int> selectedRows() const;
    // The row commands as a visible tool row under the table, the same actions as the context
    // menu's, enabled as the selection allows (app/widget.cpp).
    void buildToolRow();
    void updateRowActions();
    void setFailReason(int row, const QString &reason);

    // The modal "connect server fail" box of uploads and renames (app/widget.cpp)
    void showConnectServerFail();

    friend struct WidgetInspector; // test access, defined in tests/

    // State, built by the constructor (app/widget.cpp); the logic objects own what they keep.
    Ui::Widget *ui;
    discovery::ModuleListener *listener; // hears the announcements: the one module listener
    QUdpSocket *udpSocket;               // the listener's socket
    quint16 port;
    firmware::FirmwareSource source; // manual mode, the file paths, currentFileName, generateTime, the conversion
    QTimer *timer;
    discovery::Presence presence; // presenceMap and sweepRunning
    discovery::KnownModules knownModules; // modules added by address, shared with quarnel-cli
    discovery::KnownModuleProbe knownProbe; // keeps their rows while they answer
    upload::ModuleBoards moduleBoards; // each module's board type, shared with quarnel-cli
    bool addingRow;
    bool tableFullReported = false; // the full table was reported and no row has left since
    discovery::DeviceRowIndex *rowIndex; // IP -> row of userTableWidget, and rows to lock
    ModuleWork work; // per module what runs on it: uploadThread, the uploads not yet finished, the monitor
    QHash<QString, QPointer<MonitorWindow>> monitors; // open monitor windows by IP, one per module
    upload::UploadBatch *bulk = nullptr; // the upload of several rows that runs, if one does
    std::unique_ptr<QTemporaryFile> bulkImage; // its own copy of the image: a press meanwhile converts anew
    QAction *monitorAction = nullptr;        // the row commands, in the tool row and the context menu
    QAction *addModuleAction = nullptr;
    QAction *uploadSelectedAction = nullptr;
    QAction *retryFailedAction = nullptr;
    QList<QAction *> rowCommands; // the commands for the selected rows, in the tool row and the row's menu
};

#endif // WIDGET_H
