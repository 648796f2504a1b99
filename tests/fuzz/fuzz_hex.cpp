// libFuzzer target: the Intel HEX reader must take any text without a crash, keep its image within
// the limit, and give the same image and diagnostics however the text is split into pieces.
#include "hexconvert.h"

#include <cstddef>
#include <cstdint>

using namespace firmware;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    HexImage whole;
    whole.feed(text, size);
    whole.finish();

    const size_t piece = size > 0 ? data[0] % 37 + 1 : 1;
    HexImage split;
    for (size_t at = 0; at < size; at += piece)
        split.feed(text + at, size - at < piece ? size - at : piece);
    split.finish();

    if (whole.image().size() > HexImage::MaxImageSize || (whole.refused() && whole.ended()))
        __builtin_trap();
    if (split.image() != whole.image() || split.diagnostics() != whole.diagnostics()
        || split.refused() != whole.refused() || split.ended() != whole.ended())
        __builtin_trap();
    return 0;
}
