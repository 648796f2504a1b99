#ifndef STK500V2DRIVER_H
#define STK500V2DRIVER_H

#include "bootloaderdriver.h"
#include "datapipe.h"

#include <QVector>

namespace upload {

// The STK500v2 dialogue (the ATmega2560's bootloader): sign-on, parameters, programming mode,
// signature, the image in pages of the board's size, leaving programming mode. Every reply must
// be the answer frame to its request: same sequence number and command, STATUS_CMD_OK, a right
// checksum.
class Stk500v2Driver : public BootloaderDriver
{
public:
    Stk500v2Driver(const Board &board, DataPipe &pipe, const UploadTimeouts &timeouts);

    QString greetingStep() const override;
    quint8 greet(int timeMs) override;
    quint8 startup(QByteArray *signature) override;
    quint8 writePage(quint32 wordAddress, const QByteArray &page) override;
    quint8 readPage(quint32 wordAddress, QByteArray *data) override;
    quint8 leave() override;
    bool erasesInOrder() const override { return true; }

private:
    // The whole message in one buffer, with the next sequence number.
    QByteArray frame(const QByteArray &body);
    // Sends one message and checks that the answer is its frame, with answerSize body bytes and
    // STATUS_CMD_OK after the command and at the body offsets okAt, within timeMs (the reply
    // wait when 0).
    quint8 message(const QByteArray &body, int answerSize, const QVector<int> &okAt,
                   const DataPipe::AttemptTrace &trace = {}, QByteArray *reply = nullptr, int timeMs = 0);

    quint8 sequenceNumber = 0;
};

} // namespace upload

#endif // STK500V2DRIVER_H
