#ifndef UPLOADPEER_H
#define UPLOADPEER_H

#include "testfiles.h"
#include "thread.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>


// A module with a board behind it, scripted for tests, served from the test's event loop: an
// AT-command port that answers the two mode-switch commands, and a data port whose bootloader
// keeps a flash array, answers every request with a reply of the standard length, and
// misbehaves where a test asks it to.
class ScriptedModule : public QObject
{
    Q_OBJECT

public:
    using Protocol = upload::Protocol;
    enum class Fault {
        Silent,      // no reply
        ExtraByte,   // one byte more than the standard reply
        MissingByte, // one byte fewer
        Split,       // the reply in three pieces, some milliseconds apart
        Pieces,      // the reply in 64 pieces (byte by byte if shorter), as a byte-wise bridge sends
        LastByteFlipped, // same length, last byte wrong (STK500v1: not STK_OK; v2: checksum)
        FailedStatus,    // STK500v2: a well-formed answer with a failing status byte
        Flood,           // the reply followed by 4 MiB of noise
        NoSync,          // every byte of the reply is STK_NOSYNC
        Application,     // the bootloader is gone: the board's program prints as many bytes
        WrongSequence,   // STK500v2: a well-formed answer with the previous sequence number
        Joined,          // held back, then sent with the next reply in one write
        JoinedInThree,   // held back, then sent with the next reply in three pieces: the first
                         // byte, the bytes up to the last, the last byte
        Vanish,          // no reply, and both ports refuse connections from now on (power lost)
        Late,            // held back, then sent just before the next reply, as a piece of its own
        Overrun,         // held back until the next request, then sent alone: that request's bytes
                         // overran the receiver, and Optiboot, left with a broken command, starts
                         // the application; nothing is answered until the next mode switch
    };

    explicit ScriptedModule(Protocol protocol,
                            const QHostAddress &address = QHostAddress::LocalHost);

    bool listen();
    void stopListening(); // both ports refuse connections from now on
    void stopListeningAt();
    QHostAddress address() const { return host; }
    quint16 dataPort() const { return dataServer.serverPort(); }
    quint16 atPort() const { return atServer.serverPort(); }

    // A fault for the requests that start with `match` (STK500v1: the command bytes; STK500v2:
    // the message body), for the occurrence-th such request (0-based), or for all when -1.
    void addFault(const QByteArray &match, int occurrence, Fault fault);
    void setAtReplies(const QByteArray &first, const QByteArray &second);
    // Each AT reply goes out as its first byte and, ms later, the rest.
    void setAtReplyGap(int ms) { atGap = ms; }
    void setFlippedFlashByte(qint64 address); // a byte written there is stored inverted
    // The chip's signature (3 bytes); by default an ATmega328P's behind STK500v1, an
    // ATmega2560's behind STK500v2.
    void setSignature(const QByteArray &signature) { chipSignature = signature; }
    // Bytes sent on the data connection as each mode switch is answered: what the board's
    // program printed just before the reset, still on its way.
    void setResetNoise(const QByteArray &bytes) { resetNoise = bytes; }
    // Bytes sent on every data connection as soon as it is accepted, as a board's program
    // prints before the upload resets it.
    void setDataGreeting(const QByteArray &bytes) { greeting = bytes; }
    // Handshakes on the data port wait: the listen queue is filled, so the system drops new
    // connection requests (a client sends its request again after about a second) until ms
    // have passed, or for ever when ms < 0.
    void holdDataHandshakes(int ms);

    QList<QByteArray> requests() const { return requestLog; } // STK500v2: whole frames
    QByteArray atReceived() const { return atBytes; }
    QByteArray dataReceived() const { return dataBytes; }
    // Connections made so far, including those still waiting in the listen queue.
    int dataConnections();
    int atConnections();
    int closedConnections() const { return closed; } // by the uploader, on either port
    QByteArray flash() const { return memory; }

private:
    struct Rule
    {
        QByteArray match;
        int occurrence;
        Fault fault;
        int seen;
    };

    void dataReady(QTcpSocket *socket);
    void atReady(QTcpSocket *socket);
    qint64 nextRequestLength() const;
    QByteArray answerV1(const QByteArray &request);
    QByteArray answerV2(const QByteArray &frame);
    // The reply as the faults make it, and the number of pieces it goes out in (0: held back).
    QByteArray applyFault(QByteArray reply, const QByteArray &key, int *pieces);
    // Sends the pieces some milliseconds apart, after any reply still going out: replies leave
    // in order, as on a serial line.
    void sendPieces(QTcpSocket *socket, const QList<QByteArray> &pieces);
    void writeFlash(const QByteArray &data);

    Protocol protocol;
    QHostAddress host;
    QTcpServer dataServer;
    QTcpServer atServer;
    QByteArray pending; // data-port bytes of an incomplete request
    QList<QByteArray> requestLog;
    QByteArray atBytes;
    QByteArray dataBytes;
    QByteArray atReplies[2] = {QByteArrayLiteral("OK\r\n"), QByteArrayLiteral("OK\r\n")};
    QByteArray atPending; // AT-port bytes of an incomplete command
    QTcpSocket *dataSocket = nullptr; // the last data connection accepted
    int atGap = 0; // ms
    int dataAccepted = 0;
    int atAccepted = 0;
    int closed = 0;
    QVector<Rule> rules;
    QByteArray memory;
    qint64 cursor = 0; // byte address of the next flash access
    qint64 flipped = -1;
    QByteArray greeting;
    QByteArray chipSignature;
    QByteArray resetNoise;
    std::vector<std::unique_ptr<QTcpSocket>> queueFillers;
    QByteArray held; // a reply held back until the next request, which releases it as its fault says
    Fault heldBy = Fault::Joined;
    bool gone = false; // the bootloader has left: no replies until the next mode switch
    QElapsedTimer line;
    qint64 lineBusyUntil = 0; // ms on `line`: the last piece still to go out is due then
};

// Runs each test function in a fresh temporary working directory, where the worker finds
// ./update.bin; the test classes of the upload worker derive from it.
class ScratchDirTestCase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString previousDir;
};

// Turns off the worker's trace of every exchange, which would drown the test log.
void hideUploadTrace();

// What a finished worker reported, in order.
struct Report
{
    QString ip;
    int kind;
    float value;
};

// Starts the workers, serves the event loop until all have finished (or timeoutMs has passed)
// and returns the reports of each; every report has been delivered when this returns.
QList<QList<Report>> runWorkers(const QList<upload::Thread *> &workers, int timeoutMs = 60000);
QList<Report> runWorker(upload::Thread &worker, int timeoutMs = 60000);

// The reports as lines "ip kind value", the value with all the digits a float has.
QString reportLine(const QString &ip, int kind, float value);
QStringList reportLines(const QList<Report> &reports);
// Progress fractions of an upload of `size` bytes in pages of `pageSize` bytes, with the empty
// read that follows a last full page.
QList<QPair<qint64, qint64>> pageFractions(qint64 size, int pageSize);
// Progress reports for the fractions n/d, then the verdict.
QStringList expectedLines(const QString &ip, const QList<QPair<qint64, qint64>> &fractions,
                          float verdict);

// Uploads ./update.bin (or imagePath) to the module as `board` and returns the reports; the
// outcome lands in *outcome.
QList<Report> uploadTo(const ScriptedModule &module, const QString &board, upload::UploadOutcome *outcome,
                       bool verify = false, const QString &imagePath = QString());

// Time-outs that keep failure cases short; replies on loopback arrive in microseconds.
upload::UploadTimeouts fastTimeouts();

// An image of `size` bytes with no two neighbouring pages alike.
QByteArray testImage(int size, int seed = 1);

// A loopback port on which nothing listens.
quint16 refusedPort();


// The fault and read-back cases that both STK500 tests run, each on its own rows. The *Columns
// functions add the columns from the rows' _data function; the others run the current row.
const int FaultImageSize = 300; // bytes
const int AnyCount = -2;        // requests: as many as the tries make
void addFaultColumns();  // match, occurrence, fault, reports, outcome, requests (-1: the whole upload)
void addVerifyColumns(); // match, fault, flipped, outcome, verdict
// Uploads a FaultImageSize image with the row's fault; wholeUpload is the number of requests of
// an upload that goes to the end.
void checkFaultRow(ScriptedModule::Protocol protocol, const QString &board, int wholeUpload);
// Uploads a `size`-byte image with read-back, the row's fault for every matching request and its
// flipped flash byte, checks outcome and reports, and leaves the requests in *requests.
void checkVerifyRow(ScriptedModule::Protocol protocol, const QString &board, int size, int pageSize,
                    QList<QByteArray> *requests);

Q_DECLARE_METATYPE(ScriptedModule::Fault)
Q_DECLARE_METATYPE(upload::UploadOutcome::Kind)

#endif // UPLOADPEER_H
