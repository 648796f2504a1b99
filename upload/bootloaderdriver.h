#ifndef BOOTLOADERDRIVER_H
#define BOOTLOADERDRIVER_H

#include "boardtable.h"
#include "uploadtimeouts.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace upload {

class DataPipe;

// One bootloader protocol as an upload speaks it over a module's data pipe: the request that
// finds the bootloader, the start-up steps that end in the chip's signature, paged write, read
// back, leave. Each step returns 0, or 1 with failedStep() naming the exchange whose reply did
// not come or came wrong (the pipe's wrongReply() tells which). One driver serves one
// connection: it keeps the dialogue's state, the pipe stays its owner's.
class BootloaderDriver
{
public:
    // A driver of `board`'s protocol that speaks to the bootloader as to that board (page size,
    // the sizes an STK500v1 bootloader is told).
    static std::unique_ptr<BootloaderDriver> create(const Board &board, DataPipe &pipe,
                                                    const UploadTimeouts &timeouts);
    virtual ~BootloaderDriver();
    BootloaderDriver(const BootloaderDriver &) = delete;
    BootloaderDriver &operator=(const BootloaderDriver &) = delete;

    const Board &board() const { return target; }
    QString failedStep() const { return failed; }

    // The step that finds the bootloader, for the outcome: "get sync", "sign-on".
    virtual QString greetingStep() const = 0;
    // One try at it: the request, then up to timeMs for its exact reply, with no diagnostic on
    // standard error (the caller tries again). 0 when the reply came.
    virtual quint8 greet(int timeMs) = 0;
    // Says on standard error, as the protocol's diagnostics do, that no try found the bootloader.
    virtual void greetingFailed() const {}
    // After greet(): the rest of the start-up dialogue, into programming mode, with the chip's
    // three signature bytes in *signature.
    virtual quint8 startup(QByteArray *signature) = 0;
    // Up to one page of the image at a word address; a short page is padded where the protocol
    // needs it.
    virtual quint8 writePage(quint32 wordAddress, const QByteArray &page) = 0;
    // One whole page read back, pageSize bytes in *data.
    virtual quint8 readPage(quint32 wordAddress, QByteArray *data) = 0;
    // Leaves programming mode, within the leave wait; the bootloader starts the application.
    virtual quint8 leave() = 0;
    // The bootloader erases, at each page it is sent, the next page of a count of its own that
    // a reset starts at 0, whatever the page's address: after a reconnection every page must be
    // written again, from the first.
    virtual bool erasesInOrder() const { return false; }

protected:
    BootloaderDriver(const Board &board, DataPipe &pipe, const UploadTimeouts &timeouts);
    // Records the failed step; returns 1.
    quint8 fail(const QString &step);

    const Board &target;
    DataPipe &pipe;
    const UploadTimeouts timeouts;

private:
    QString failed;
};

} // namespace upload

#endif // BOOTLOADERDRIVER_H
