#include "identification.h"

#include "atsession.h"
#include "bootloaderfinder.h"
#include "datapipe.h"

#include <QDeadlineTimer>

#include <utility>

namespace upload {

namespace {

const int RefusedRetryPause = 50; // ms between tries of a data port that refused

} // namespace

QString Identification::protocolName() const
{
    return QLatin1String(protocol == Protocol::Stk500v1 ? "stk500v1" : "stk500v2");
}

Identification identifyBoard(const QString &ip, quint16 dataPort, quint16 atPort, const UploadTimeouts &timeouts)
{
    Identification id;
    DataPipe pipe;
    AtSession at(timeouts.connect, timeouts.atReply);
    // A module listens on its data port again only a moment after its last client left, and an
    // identification often follows one (a monitor closed, an upload): a refusal is tried again
    // within the connect wait.
    const QDeadlineTimer connectWait(timeouts.connect);
    bool connected = false;
    while (!(connected = pipe.connectTo(ip, dataPort, int(qMax<qint64>(0, connectWait.remainingTime()))))
           && !connectWait.hasExpired() && !QThread::currentThread()->isInterruptionRequested())
        QThread::msleep(RefusedRetryPause);
    if (!connected) {
        id.result = Identification::Result::Unreachable;
        id.failure = UploadOutcome::of(UploadOutcome::Kind::DataPortUnreachable);
        return id;
    }
    if (!at.connectTo(ip, atPort)) {
        id.result = Identification::Result::Unreachable;
        id.failure = UploadOutcome::of(UploadOutcome::Kind::AtPortUnreachable);
        return id;
    }
    UploadTimeouts searching = timeouts;
    searching.bootloaderWait = timeouts.identifyBootloaderWait;
    searching.syncAttempt = timeouts.identifySyncAttempt;
    BootloaderFinder finder(pipe, at, searching);
    // Optiboot starts the application when it reads bytes of the other protocol; the STK500v2
    // bootloader passes over get sync. So STK500v1 is asked first.
    if (finder.find(firstBoardOf(Protocol::Stk500v1)) != 0) {
        id.failure = finder.failure();
        return id;
    }
    id.protocol = finder.driver()->board().protocol;
    id.signature = finder.signature();
    id.board = finder.foundBoard();
    id.result = id.board ? Identification::Result::Identified : Identification::Result::UnknownChip;
    id.left = finder.leave() == 0;
    return id;
}

const Board &boardToKeep(const Board &found, const Board *kept)
{
    return kept && kept->signatureBytes() == found.signatureBytes() ? *kept : found;
}

IdentifyThread::IdentifyThread(QString ip, quint16 dataPort, quint16 atPort)
    : ip(std::move(ip)), dataPort(dataPort), atPort(atPort)
{
}

void IdentifyThread::run()
{
    const Identification id = identifyBoard(ip, dataPort, atPort, UploadTimeouts());
    emit identified(ip, id.board ? QLatin1String(id.board->name) : QString(), id.text(), int(id.result));
}

QString Identification::text() const
{
    QString text;
    switch (result) {
    case Identification::Result::Identified:
        if (!board) // an Identification made by hand
            break;
        text = QStringLiteral("%1 (%2, signature %3, %4)")
                   .arg(QLatin1String(board->name), QLatin1String(board->chip), signatureHex(), protocolName());
        break;
    case Identification::Result::UnknownChip:
        text = QStringLiteral("a chip no board type has (signature %1, %2)").arg(signatureHex(), protocolName());
        break;
    case Identification::Result::NoBootloader:
    case Identification::Result::Unreachable:
        text = failure.text();
        break;
    }
    return text;
}

} // namespace upload
