#include "widget.h"

#include "buttonstyle.h"
#include "devicecolumns.h"
#include "devicerowindex.h"
#include "discoveryconstants.h"
#include "modulelistener.h"
#include "thread.h"
#include "ui_widget.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

namespace {
const int RefreshInterval = 2000; // ms, firmware refresh and presence sweep
const int WorkerShutdownWait = 5000; // ms a closing window gives each running upload to stop
} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
{
    ui->setupUi(this);
    setFixedSize(1078, 490);
    rowIndex = new discovery::DeviceRowIndex(ui->userTableWidget->model(), discovery::ColumnIp);

    listener = new discovery::ModuleListener(this);
    udpSocket = listener->socket();
    port = discovery::AnnouncementPort;
    listener->setDropOwnAddress(true);
    listener->setRoster([this](const QString &ip) { return rowOfIp(ip) >= 0; },
                        [this] { return ui->userTableWidget->rowCount(); });
    QString bindError;
    if (!listener->listen(port, &bindError))
        std::fprintf(stderr, "cannot listen on UDP port %u: %s; no module will be listed\n", unsigned(port),
                     bindError.toLocal8Bit().constData());
    connect(udpSocket, SIGNAL(readyRead()), this, SLOT(processPendingDatagrams()));
    connect(listener, &discovery::ModuleListener::heard, this, &Widget::showModule);
    connect(listener, &discovery::ModuleListener::overflowed, this, [this] {
        if (!tableFullReported)
            std::fprintf(stderr, "device table full (%d rows): new modules are not listed until rows leave\n",
                         discovery::MaxModules);
        tableFullReported = true;
    });

    ui->userTableWidget->verticalHeader()->setHidden(true);
    ui->lineEdit->setReadOnly(true);
    ui->lineEdit_3->setFixedSize(140, 23);
    ui->lineEdit_2->setFixedSize(533, 23);
    ui->lineEdit_3->setReadOnly(true);
    ui->lineEdit_2->setReadOnly(true);

    // The window owns the timer so that it stops with the window.
    timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(update_hex_file()));
    timer->start(RefreshInterval);

    // The sweep reports each departure while it runs; the row goes at once.
    connect(&presence, &discovery::Presence::departed, this, &Widget::removeRowsOf);

    addingRow = false;
    for (const QString &problem : moduleBoards.load())
        std::fprintf(stderr, "quarnel-uploader: %s\n", problem.toLocal8Bit().constData());
    startKnownModules();

    ui->pushButton_4->setStyleSheet(QString::fromLatin1(ButtonStyleSheet));

}

Widget::~Widget()
{
    closeMonitors();
    // Uploads still running are told to stop; their reports no longer have a window to go to.
    const QList<upload::Thread *> workers = work.uploads();
    for (upload::Thread *worker : workers) {
        disconnect(worker, nullptr, this, nullptr);
        worker->requestInterruption();
    }
    for (upload::Thread *worker : workers) {
        if (worker->wait(WorkerShutdownWait))
            delete worker;
    }
    // An identification in progress ends at its next wait; its thread goes with it.
    for (QThread *worker : work.identifications()) {
        disconnect(worker, nullptr, this, nullptr);
        worker->requestInterruption();
        if (worker->wait(WorkerShutdownWait))
            delete worker;
    }
    delete ui;
}

void Widget::showConnectServerFail()
{
    QMessageBox::critical(this, tr("connect server fail"),
                          tr("connect server fail ") + tr("\n the server does not exist or has been occupied"),
                          QMessageBox::Ok);
}
