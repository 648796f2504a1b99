#include "module.h"

#include "announcement.h"
#include "atcommand.h"
#include "avrboard.h"
#include "serviceport.h"

#include <QSaveFile>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cstdio>

namespace sim {

namespace {

const QByteArray AtOk = QByteArrayLiteral("OK\r\n");
const QByteArray AtError = QByteArrayLiteral("ERROR\r\n");
const int QuietCharacters = 3;     // a gap of this many character times ends a packet
const int BitsPerCharacter = 10;   // 8N1: start, eight data bits, stop
const int MaxPacketBytes = 1024;   // a full packet goes out without waiting for quiet
const int SplitSpacingMs = 5;      // between the pieces of a split reply
const char ExtraByte = '\0';
// After resetting the board the module answers only once the board is out of reset and its
// bootloader listens (a real AVR needs some 65 ms to start its crystal), so a host that talks
// right after the answer is heard.
const int ResetAnswerDelayMs = 100;
// A module that answers first pulls the reset line this long after its answer went out.
const int ResetAfterAnswerMs = 10;

int quietMs(int baud, int minimumMs)
{
    const int ms = (QuietCharacters * BitsPerCharacter * 1000 + baud - 1) / baud;
    return qMax(minimumMs, ms);
}

// Cuts bytes into count pieces as even as possible (fewer if there are fewer bytes).
QList<QByteArray> splitInto(const QByteArray &bytes, int count)
{
    QList<QByteArray> pieces;
    const int n = qMin(count, bytes.size());
    int start = 0;
    for (int i = 0; i < n; ++i) {
        const int end = int(qint64(bytes.size()) * (i + 1) / n);
        pieces.append(bytes.mid(start, end - start));
        start = end;
    }
    return pieces;
}

} // namespace

Module::Module(const Config &config, QObject *parent)
    : QObject(parent)
    , config(config)
    , name(config.hostname)
{
    quietTimer.setSingleShot(true);
    quietTimer.setTimerType(Qt::PreciseTimer);
    quietTimer.setInterval(quietMs(config.baud, config.quietMs));
    connect(&quietTimer, &QTimer::timeout, this, &Module::flushToHost);
    connect(&announceTimer, &QTimer::timeout, this, &Module::announce);
    resetTimer.setSingleShot(true);
    resetTimer.setInterval(ResetAfterAnswerMs);
    connect(&resetTimer, &QTimer::timeout, this, [this] {
        if (board)
            board->resetIntoBootloader();
    });
    connect(&atAnswers, &DelayLine::delivered, this, [this](const QByteArray &bytes) {
        if (QTcpSocket *client = atService ? atService->client() : nullptr)
            client->write(bytes);
    });
    connect(&toHost, &DelayLine::delivered, this, [this](const QByteArray &bytes) {
        if (QTcpSocket *client = dataService ? dataService->client() : nullptr)
            client->write(bytes);
    });
}

Module::~Module()
{
    stop();
}

bool Module::start(QString *error)
{
    if (config.board != QLatin1String("none")) {
        const auto kind = isUnoBoard(config.board) ? AvrBoard::Kind::Uno : AvrBoard::Kind::Mega2560;
        board = std::make_unique<AvrBoard>(kind, config.application, config.baud,
                                           config.forgivingUart ? AvrBoard::Receiver::Forgiving
                                                                : AvrBoard::Receiver::Real);
        board->setFlipAddress(config.faults.flipAddress);
        connect(board.get(), &AvrBoard::serialOutput, this, &Module::onSerialOutput, Qt::QueuedConnection);
        connect(board.get(), &AvrBoard::pageWritten, this, &Module::onPageWritten, Qt::QueuedConnection);
        connect(&toBoard, &DelayLine::delivered, board.get(), &AvrBoard::writeSerial);
        QString boardError;
        if (!board->start(&boardError)) {
            *error = QStringLiteral("%1: board %2: %3").arg(config.ip.toString(), config.board, boardError);
            board.reset();
            return false;
        }
        dataService = new ServicePort(config.faults.dataConnection, config.relistenMs, this);
        connect(dataService, &ServicePort::clientConnected, this, &Module::onDataClient);
        connect(dataService, &ServicePort::clientDisconnected, this, &Module::onDataGone);
        if (!dataService->open(config.ip, config.dataPort, error))
            return false;
    }
    atService = new ServicePort(config.faults.atConnection, 0, this);
    connect(atService, &ServicePort::clientConnected, this, &Module::onAtClient);
    if (!atService->open(config.ip, config.atPort, error))
        return false;

    if (config.announceMs > 0) {
        announceSocket = new QUdpSocket(this);
        if (!announceSocket->bind(config.ip, 0)) {
            *error = QStringLiteral("cannot bind the announcement socket to %1: %2")
                         .arg(config.ip.toString(), announceSocket->errorString());
            return false;
        }
        announceTimer.setInterval(config.announceMs);
        QTimer::singleShot(config.announcePhaseMs, this, [this] {
            announce();
            announceTimer.start();
        });
    }
    return true;
}

void Module::stop()
{
    announceTimer.stop();
    resetTimer.stop();
    if (board) {
        writeFlashOut();
        board->stop();
        board.reset();
    }
}

quint16 Module::dataPort() const
{
    return dataService ? dataService->port() : config.dataPort;
}

quint16 Module::atPort() const
{
    return atService ? atService->port() : config.atPort;
}

bool Module::hasDataClient() const
{
    return dataService && dataService->client();
}

QByteArray Module::flash() const
{
    return board ? board->flash() : QByteArray();
}

void Module::announce()
{
    const QByteArray datagram = announcementDatagram(config.ip.toString(), atPort(), dataPort(), name);
    announceSocket->writeDatagram(datagram, config.targetHost, config.targetPort);
}

void Module::onAtClient(QTcpSocket *client)
{
    atAnswers.clear();
    connect(client, &QTcpSocket::readyRead, this, &Module::onAtData);
}

void Module::onAtData()
{
    QTcpSocket *client = atService->client();
    if (!client)
        return;
    for (const QByteArray &command : splitAtCommands(client->readAll())) {
        int delayMs = 0;
        const QByteArray reply = handleAtCommand(command, &delayMs);
        switch (config.faults.atReply) {
        case Faults::AtReply::Full:
            atAnswers.push(reply, delayMs);
            break;
        case Faults::AtReply::OneByte:
            atAnswers.push(reply.left(1), delayMs);
            break;
        case Faults::AtReply::None:
            break;
        }
    }
}

QByteArray Module::handleAtCommand(const QByteArray &command, int *answerDelayMs)
{
    const AtCommand parsed = parseAtCommand(command);
    switch (parsed.kind) {
    case AtCommand::Kind::U2wClient:
        return AtOk;
    case AtCommand::Kind::McuUpdate:
        if (!board)
            return AtOk;
        if (config.answerBeforeReset) {
            resetTimer.start();
        } else {
            board->resetIntoBootloader();
            *answerDelayMs = ResetAnswerDelayMs;
        }
        return AtOk;
    case AtCommand::Kind::Hostname:
        name = QString::fromLatin1(parsed.argument);
        return AtOk;
    case AtCommand::Kind::Invalid:
        break;
    }
    return AtError;
}

void Module::onDataClient(QTcpSocket *client)
{
    repliesInConnection = 0;
    pagesInConnection = 0;
    fromBoard.clear();
    connect(client, &QTcpSocket::readyRead, this, &Module::onDataFromHost);
}

void Module::onDataGone()
{
    quietTimer.stop();
    fromBoard.clear();
    toHost.clear();
    writeFlashOut();
    // A host that sends faster than the bootloader reads should hear of it.
    const qint64 overruns = board->overrunBytes();
    if (overruns > overrunsReported)
        std::fprintf(stderr, "quarnel-sim: %s: %lld host bytes lost to data overrun in the board's receiver\n",
                     qPrintable(config.ip.toString()), static_cast<long long>(overruns - overrunsReported));
    overrunsReported = overruns;
}

void Module::onDataFromHost()
{
    QTcpSocket *client = dataService->client();
    if (!client)
        return;
    const QByteArray bytes = client->readAll();
    if (bytes.isEmpty())
        return;
    toBoard.push(bytes, config.faults.delayMs);
}

void Module::onSerialOutput(const QByteArray &bytes)
{
    if (!dataService || !dataService->client())
        return; // nobody listens: the serial line's output is lost, as on a module without a client
    fromBoard.append(bytes);
    if (fromBoard.size() >= MaxPacketBytes)
        flushToHost();
    else
        quietTimer.start();
}

void Module::flushToHost()
{
    quietTimer.stop();
    if (fromBoard.isEmpty())
        return;
    QByteArray reply = fromBoard;
    fromBoard.clear();
    ++repliesInConnection;
    if (repliesInConnection == config.faults.extraByteReply)
        reply.append(ExtraByte);
    int delay = config.faults.delayMs;
    for (const QByteArray &piece : splitInto(reply, config.faults.splitReplies)) {
        toHost.push(piece, delay);
        delay += SplitSpacingMs;
    }
}

void Module::onPageWritten()
{
    ++pageCount;
    if (!dataService || !dataService->client())
        return;
    ++pagesInConnection;
    if (config.faults.dropAfterPages > 0 && pagesInConnection >= config.faults.dropAfterPages
        && (config.faults.drops == 0 || connectionsDropped < config.faults.drops)) {
        ++connectionsDropped;
        dataService->dropClient();
    }
}

void Module::writeFlashOut()
{
    if (config.flashOutPath.isEmpty() || !board)
        return;
    QSaveFile file(config.flashOutPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(board->flash()) != board->flashSize() || !file.commit())
        std::fprintf(stderr, "quarnel-sim: cannot write %s: %s\n", qPrintable(config.flashOutPath),
                     qPrintable(file.errorString()));
}

} // namespace sim
