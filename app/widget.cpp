#include "widget.h"

#include "buttonstyle.h"
#include "discoveryconstants.h"
#include "ui_widget.h"

#include <QHeaderView>
#include <QTimer>
#include <QUdpSocket>

namespace {
const int RefreshInterval = 2000; // ms, firmware refresh and presence sweep
} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
{
    ui->setupUi(this);
    setFixedSize(1078, 490);

    udpSocket = new QUdpSocket(this);
    port = discovery::AnnouncementPort;
    defaultFilePath = QStringLiteral("");
    // Shared binding lets a second copy of the tool listen too; a failed bind leaves the table empty.
    udpSocket->bind(port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    connect(udpSocket, SIGNAL(readyRead()), this, SLOT(processPendingDatagrams()));

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

    sweepRunning = false;
    addingRow = false;
    manualMode = false;

    ui->pushButton_4->setStyleSheet(QString::fromLatin1(ButtonStyleSheet));
}

Widget::~Widget()
{
    delete ui;
}
