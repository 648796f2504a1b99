#include "widget.h"

#include "buttonstyle.h"
#include "devicecolumns.h"
#include "devicerowindex.h"
#include "discoveryconstants.h"
#include "modulelistener.h"
#include "thread.h"
#include "ui_widget.h"
#include "uploadbatch.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryFile>
#include <QTimer>
#include <QToolButton>
#include <QUdpSocket>

#include <algorithm>
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
    buildToolRow();
}

void Widget::buildToolRow()
{
    QTableWidget *table = ui->userTableWidget;
    monitorAction = new QAction(tr("Serial monitor"), this);
    connect(monitorAction, &QAction::triggered, this, [this] {
        const QList<int> rows = selectedRows();
        if (!rows.isEmpty())
            openMonitor(rows.first());
    });
    addModuleAction = new QAction(tr("Add module by address\342\200\246"), this);
    connect(addModuleAction, &QAction::triggered, this, &Widget::addModuleByAddress);
    uploadSelectedAction = new QAction(tr("Upload to selected rows"), this);
    connect(uploadSelectedAction, &QAction::triggered, this, &Widget::uploadSelectedRows);
    retryFailedAction = new QAction(tr("Retry failed rows"), this);
    connect(retryFailedAction, &QAction::triggered, this, &Widget::retryFailedRows);

    // The commands for the selected rows; a new one (such as "Identify board") is one more entry
    // here, and shows under the table and in a row's context menu alike.
    rowCommands = {uploadSelectedAction, retryFailedAction};

    // Under the table, in the controls' small font, so that a user who never right-clicks finds
    // every row command.
    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    const QFont small = ui->radioButton_2->font();
    for (QAction *action : QList<QAction *>{monitorAction, addModuleAction} + rowCommands) {
        auto *button = new QToolButton(this);
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setFont(small);
        row->addWidget(button);
    }
    auto *hint = new QLabel(tr("Ctrl/Shift-click, Ctrl+A: select rows \302\267 right-click: row menu"), this);
    hint->setFont(small);
    // Row commands added later take room from the hint first.
    hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(hint, 1);
    ui->verticalLayout_2->insertLayout(1, row);

    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &Widget::updateRowActions);
    updateRowActions();
}

void Widget::updateRowActions()
{
    const bool selected = ui->userTableWidget->selectionModel()->hasSelection();
    monitorAction->setEnabled(selected);
    uploadSelectedAction->setEnabled(selected && !bulk);
    // Not looked up on every progress report: with no failed row, a retry starts nothing.
    retryFailedAction->setEnabled(!bulk);
}

Widget::~Widget()
{
    closeMonitors();
    // Uploads still running are told to stop; their reports no longer have a window to go to.
    QList<upload::Thread *> workers = work.uploads();
    if (bulk) {
        // The batch stops and deletes its own workers.
        disconnect(bulk, nullptr, this, nullptr);
        workers.erase(std::remove_if(workers.begin(), workers.end(),
                                     [this](const upload::Thread *w) { return bulk->owns(w); }),
                      workers.end());
        bulk->interrupt();
    }
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
    delete bulk;
    delete ui;
}

void Widget::showConnectServerFail()
{
    QMessageBox::critical(this, tr("connect server fail"),
                          tr("connect server fail ") + tr("\n the server does not exist or has been occupied"),
                          QMessageBox::Ok);
}
