// libFuzzer entry: the first byte picks the parser, the rest is its input. Checks the invariants
// the simulator relies on, so that a violation stops the fuzzer like a crash does.
#include "atcommand.h"
#include "hexfile.h"

#include <cstdlib>

namespace {

const int FuzzFlashSize = 32 * 1024;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), int(size - 1));
    if (data[0] & 1) {
        const sim::HexImage image = sim::parseIntelHex(input, FuzzFlashSize);
        check(image.bytes.size() <= FuzzFlashSize);
        check(image.error.isEmpty() || image.bytes.isEmpty());
    } else {
        int total = 0;
        for (const QByteArray &command : sim::splitAtCommands(input)) {
            check(!command.isEmpty() && !command.contains('\n'));
            total += command.size();
            const sim::AtCommand parsed = sim::parseAtCommand(command);
            if (parsed.kind == sim::AtCommand::Kind::Hostname)
                check(!parsed.argument.isEmpty() && parsed.argument.size() <= sim::MaxHostnameLength);
        }
        check(total <= input.size());
    }
    return 0;
}
