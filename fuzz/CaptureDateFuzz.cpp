// The capture-date reader over any file bytes, as the scan calls it: the format is sniffed from
// the bytes, then Exiv2 (or libheif for HEIF) reads the dates.

#include "FuzzFiles.h"

#include "intake/ImageScanner.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const auto path = fuzzfiles::write("IMG_0001.JPG", data, size);
    ImageScanner::getCreationDate(path, false);
    return 0;
}
