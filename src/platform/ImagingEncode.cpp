#include "platform/ImagingInternal.h"

#include <turbojpeg.h>

namespace platform {

std::optional<std::vector<unsigned char>> encodeJpeg(const Bitmap& image, int quality) {
    if (image.empty() || image.type() != CV_8UC3 || quality < 1 || quality > 100) return std::nullopt;
    tjhandle tj = tjInitCompress();
    if (!tj) return std::nullopt;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::optional<std::vector<unsigned char>> result;
    if (tjCompress2(tj, image.data, image.cols, static_cast<int>(image.step), image.rows, TJPF_RGB, &out,
                    &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT) == 0 &&
        out && size > 0) {
        try {
            result = std::vector<unsigned char>(out, out + size);
        } catch (...) {
        }
    }
    tjFree(out);
    tjDestroy(tj);
    return result;
}

} // namespace platform
