#include "bootloaderdriver.h"

#include "stk500v1driver.h"
#include "stk500v2driver.h"

namespace upload {

std::unique_ptr<BootloaderDriver> BootloaderDriver::create(const Board &board, DataPipe &pipe,
                                                           const UploadTimeouts &timeouts)
{
    if (board.protocol == Protocol::Stk500v1)
        return std::make_unique<Stk500v1Driver>(board, pipe, timeouts);
    return std::make_unique<Stk500v2Driver>(board, pipe, timeouts);
}

BootloaderDriver::BootloaderDriver(const Board &board, DataPipe &pipe, const UploadTimeouts &timeouts)
    : target(board), pipe(pipe), timeouts(timeouts)
{
}

BootloaderDriver::~BootloaderDriver() = default;

quint8 BootloaderDriver::fail(const QString &step)
{
    failed = step;
    return 1;
}

} // namespace upload
