#ifndef AVRBOARD_H
#define AVRBOARD_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace sim {

// A simulated board: an AVR core (libsimavr) running the real serial bootloader at real time,
// reached through its UART at a given baud rate, 8N1, paced in wall-clock time both ways.
class AvrBoard : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Uno, Mega2560 };
    // Real: the USART receiver of the datasheets, two bytes in the receive buffer and one in the
    // shift register; what comes while they are full is lost (data overrun). Forgiving: host bytes
    // wait in a 63-byte queue until the firmware has room, as no real board does.
    enum class Receiver { Real, Forgiving };

    // application: a flat image (byte offset = flash address) preloaded below the bootloader;
    // empty for a small built-in idle program, so that the bootloader never runs into erased flash.
    AvrBoard(Kind kind, const QByteArray &application, int baud, Receiver receiver = Receiver::Real,
             QObject *parent = nullptr);
    ~AvrBoard() override;

    // Loads the bootloader and starts the simulation thread. False with a reason on failure.
    bool start(QString *error);
    void stop();

    // All of the following are safe to call from any thread.
    void resetIntoBootloader();               // as an external reset: the bootloader starts
    void writeSerial(const QByteArray &bytes); // host to board; queued and paced at the baud rate
    QByteArray flash() const;                 // the whole flash, as it is now
    int flashSize() const;
    int pageSize() const;                     // bytes per SPM page
    void setFlipAddress(qint64 address);      // fault: this byte is flipped (xor 0xFF) as it is written; -1 = off
    qint64 elapsedMicroseconds() const;       // the board's own clock since start(), advanced in 1 ms slices
    qint64 overrunBytes() const;              // host bytes lost to data overrun since start()

signals:
    // Emitted on the simulation thread; connect with a queued connection.
    void serialOutput(const QByteArray &bytes); // board to host, in the order and at the pace sent
    void pageWritten(quint32 address);          // after each completed SPM page write

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace sim

#endif // AVRBOARD_H
