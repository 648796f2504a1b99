#ifndef THREAD_H
#define THREAD_H

#include "atsession.h"
#include "boardtable.h"
#include "bootloaderdriver.h"
#include "datapipe.h"
#include "uploadoutcome.h"
#include "uploadtimeouts.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <memory>

namespace upload {

// One upload run for one device row, on a thread of its own: the image, the module link, the
// bootloader dialogue of the board's protocol, and the reports of updateover.
class Thread : public QThread
{
    Q_OBJECT

public:
    // The ports as a row's cells show them, read with discovery::portNumber.
    Thread(QString atPort, QString dataPort, QString ip, QString board);
    Thread(quint16 atPort, quint16 dataPort, QString ip, QString board);
    ~Thread() override;

    // Settings for the command-line tool and the tests; set before start().
    void setImagePath(const QString &path);
    // The HEX file the image was converted from: when the build output beside it (its .elf)
    // says the image is for another chip than the board's, the run ends before it connects.
    void setHexPath(const QString &path);
    void setTimeouts(const UploadTimeouts &timeouts);
    // Reads the programmed flash back and compares it with the image before leaving
    // programming mode; a difference fails the run.
    void setVerify(bool verify);
    // After a failure past the mode switch (a reply missing or wrong, the link dropped), connect
    // again, switch the module to upload mode again and go on from the first page whose
    // program-page reply did not come, at most `retries` times. 0 (the window's) never does.
    void setRetries(int retries);
    // How a refused data connection is taken: Refusal::Retried when a monitor of this program has
    // just let go of the data port for this run; Refusal::Fails (the default) otherwise.
    void setRefusal(Refusal refusal);

    // Valid once the thread has finished.
    UploadOutcome outcome() const;
    qint64 bytesWritten() const { return ackedBytes; } // acknowledged by the bootloader
    int retriesMade() const { return retryCount; }

    // The kinds of report that updateover carries as its int.
    enum ReportKind {
        ReportUnreachable = 0, // the module refused a connection or the upload mode; value 1.0
        ReportVerdict = 1,     // the end of a run: 1.0 when every byte was acknowledged, else 0.0
        ReportProgress = 2,    // image bytes read / image size, before each page goes out
    };

signals:
    void updateover(QString, int, float);
    // A resumption begins: the first is 1. Only with setRetries() above 0.
    void retrying(int retry);

protected:
    void run() override;

private:
    void uploadRun();
    // One connection's work: find the bootloader, check the chip, write.
    void session();
    bool mayResume() const;
    void pauseBeforeRetry();
    quint8 imageStep();
    bool connectStep();
    void closeLink();
    void dropImage();
    void pageLoop(BootloaderDriver &driver);
    quint8 verifyFlash(BootloaderDriver &driver);
    float progress() const;
    UploadOutcome pageFailed(qint64 page, const BootloaderDriver &driver) const;

    QString ip;
    quint16 atPort;
    quint16 dataPort;
    QString board;
    // dataSocket and atSocket, for one connection of a run
    std::unique_ptr<DataPipe> pipe;
    std::unique_ptr<AtSession> at;
    QByteArray image;      // the whole image, read when the run starts
    qint64 ackedBytes = 0; // also the image offset, and twice the word address, of the next page
    qint64 imageSize = 0;
    qint64 bytesRead = 0;
    const Board *target = nullptr; // the row of `board` in the board table, set by run()

    QString imagePath = QStringLiteral("./update.bin");
    QString hexPath;
    UploadTimeouts timeouts;
    bool verify = false;
    int maxRetries = 0;
    Refusal dataRefusal = Refusal::Fails;
    int retryCount = 0;
    bool writing = false; // the page loop has begun in this run: the bootloader is there
    UploadOutcome result;
};

} // namespace upload

#endif // THREAD_H
