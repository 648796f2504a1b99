#ifndef SIM_MODULE_H
#define SIM_MODULE_H

#include "delayline.h"
#include "simoptions.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <memory>

class QTcpSocket;
class QUdpSocket;

namespace sim {

class AvrBoard;
class ServicePort;

// One simulated Wi-Fi module on its own address: announces itself, answers AT commands and
// pipes its data port to the serial line of a simulated board, with the faults it was given.
// The serial line is wired from start to stop: the board runs from power-on, what it sends
// reaches the data client while there is one and is lost while there is none, and a reset
// (AT+MCUUPDATE) leaves the line alone, so bytes already on their way still arrive.
class Module : public QObject
{
    Q_OBJECT

public:
    struct Config
    {
        QHostAddress ip;
        QString board;          // a name from boardNames()
        QString hostname;
        quint16 dataPort = 0;
        quint16 atPort = 0;
        int announceMs = 0;
        int announcePhaseMs = 0; // delay of the first announcement, so many modules spread out
        QHostAddress targetHost;
        quint16 targetPort = 0;
        int baud = 115200;
        int quietMs = 2;        // shortest quiet time on the serial line that ends a packet
        bool forgivingUart = false; // the board's receiver queues host bytes instead of losing them
        int relistenMs = 0;     // the data port listens again this long after its client left
        bool answerBeforeReset = false; // AT+MCUUPDATE answers at once, the reset follows
        QByteArray application;
        QString flashOutPath;
        Faults faults;
    };

    explicit Module(const Config &config, QObject *parent = nullptr);
    ~Module() override;

    // Starts the board and opens the ports; false with a reason.
    bool start(QString *error);
    // Stops the board after writing the flash file (if one was asked for).
    void stop();

    quint16 dataPort() const;
    quint16 atPort() const;
    QString hostname() const { return name; }
    bool hasBoard() const { return board != nullptr; }
    QByteArray flash() const;
    int pagesWritten() const { return pageCount; }
    bool hasDataClient() const;

private:
    void announce();
    void onAtClient(QTcpSocket *client);
    void onAtData();
    // The answer to one command, and how long it is held back.
    QByteArray handleAtCommand(const QByteArray &command, int *answerDelayMs);
    void onDataClient(QTcpSocket *client);
    void onDataGone();
    void onDataFromHost();
    void onSerialOutput(const QByteArray &bytes);
    void flushToHost();
    void onPageWritten();
    void writeFlashOut();

    const Config config;
    QString name;
    std::unique_ptr<AvrBoard> board;
    ServicePort *atService = nullptr;
    ServicePort *dataService = nullptr; // null with --board none
    QUdpSocket *announceSocket = nullptr;
    QTimer announceTimer;
    QTimer quietTimer;       // the serial line has been quiet long enough: send what came
    QTimer resetTimer;       // an answer that went out before the reset: now the reset
    QByteArray fromBoard;    // bytes from the board not yet sent to the host
    DelayLine atAnswers;     // in order; an answer after a reset waits for the board
    DelayLine toBoard;
    DelayLine toHost;
    int repliesInConnection = 0;
    int pagesInConnection = 0;
    int connectionsDropped = 0;
    int pageCount = 0;
    qint64 overrunsReported = 0; // the board's overrun count when the last data connection closed
};

} // namespace sim

#endif // SIM_MODULE_H
