#ifndef STK500V1DRIVER_H
#define STK500V1DRIVER_H

#include "bootloaderdriver.h"

namespace upload {

// The STK500v1 dialogue (Optiboot): a fixed start-up dialogue, the image in pages of the
// board's size, leaving programming mode. Every reply must be STK_INSYNC ... STK_OK of the
// step's length.
class Stk500v1Driver : public BootloaderDriver
{
public:
    Stk500v1Driver(const Board &board, DataPipe &pipe, const UploadTimeouts &timeouts);

    QString greetingStep() const override;
    quint8 greet(int timeMs) override;
    void greetingFailed() const override;
    quint8 startup(QByteArray *signature) override;
    quint8 writePage(quint32 wordAddress, const QByteArray &page) override;
    quint8 readPage(quint32 wordAddress, QByteArray *data) override;
    quint8 leave() override;
};

} // namespace upload

#endif // STK500V1DRIVER_H
