// The canvas picture decoder on arbitrary bytes (JPEG with EXIF, progressive, damaged, huge
// declared sizes): no crash, no sanitizer report, and never a picture larger than the photo.
#include "host/picture_decode.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QSize area(848, 408);
    CanvasPicture picture = decodeCanvasPicture(data, size, area);
    if (!picture.image.isNull() && (picture.image.width() > picture.fullSize.width() ||
                                    picture.image.height() > picture.fullSize.height()))
        std::abort();
    return 0;
}
