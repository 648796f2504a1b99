// libFuzzer target: the build-output finder's search over any listing text. A found name must be
// a piece of the listing with the promised ending; nothing may be read outside the text.
#include "buildfinder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString listing = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));

    const QString dir = firmware::buildDirName(listing);
    const bool isBuildDir = dir.startsWith(QLatin1String("build")) && dir.endsWith(QLatin1String(".tmp"));
    if (!listing.contains(dir) || (!isBuildDir && dir != listing.left(4)))
        __builtin_trap();

    const QString file = firmware::hexFileName(listing);
    if (!file.isEmpty()
        && (!listing.contains(file)
            || !(file.endsWith(QLatin1String(".ino.hex")) || file.endsWith(QLatin1String(".cpp.hex")))))
        __builtin_trap();
    return 0;
}
