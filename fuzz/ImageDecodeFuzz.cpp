// The image decoders over any file bytes, as the upload preparation (decode at most 2560 px,
// tone, encode), the thumbnails and the offline engine (bytes in memory) call them.

#include "FuzzFiles.h"

#include "ai/RAWJPEGExporter.h"
#include "platform/Imaging.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Qt's image plugins (the last-resort decoder) are found through the application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    // The first byte picks the name the file is read under: RAW names take LibRaw's road first.
    if (size < 1) return 0;
    static const char* const names[] = {"IMG_0001.JPG", "IMG_0001.PNG", "IMG_0001.HEIC", "IMG_0001.DNG",
                                        "IMG_0001.CR3"};
    const auto path = fuzzfiles::write(names[data[0] % 5], data + 1, size - 1);

    using namespace RAWJPEGExporter;
    if (auto image = loadViewableImage(path, kUploadMaxPixelSize)) {
        if (image->empty() || image->type() != CV_8UC3) std::abort();
        const Bitmap toned = enhanceForAPI(*image);
        compressImageForAPI(toned);
    }
    if (const auto source = platform::openImageSource(path)) {
        if (auto thumb = platform::thumbnail(*source, 320))
            if (std::max(thumb->cols, thumb->rows) > 320) std::abort();
    }
    platform::decodeImageBytes(std::vector<unsigned char>(data + 1, data + size));
    return 0;
}
