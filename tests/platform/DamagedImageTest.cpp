// Damaged image files that once made the decoders allocate or grind through far more than the
// file could hold, or write past a buffer (found by the fuzz targets in fuzz/). Each is refused
// with the reader's own failure, without the memory its header claims.

#include "ai/RAWJPEGExporter.h"
#include "platform/Imaging.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

using namespace fixtures;

namespace {

/// A damaged file kept beside the tests (tests/platform/data).
fs::path recorded(const char* name) {
    return fs::path(VITRINO_TESTS_SOURCE_DIR) / "platform" / "data" / name;
}

/// A 32 × 32 JPEG whose frame header claims width × height.
fs::path claimingSize(const fs::path& path, int width, int height, int flags) {
    const platform::Bitmap rgb = picture(32, 32, 3);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data, rgb.cols, int(rgb.step), rgb.rows, TJPF_RGB, &out, &size, TJSAMP_420, 85,
                flags);
    std::string bytes(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    for (size_t i = 2; i + 9 < bytes.size(); ++i)
        if (uchar(bytes[i]) == 0xFF && (uchar(bytes[i + 1]) == 0xC0 || uchar(bytes[i + 1]) == 0xC2)) {
            bytes[i + 5] = char(height >> 8), bytes[i + 6] = char(height);
            bytes[i + 7] = char(width >> 8), bytes[i + 8] = char(width);
            break;
        }
    writeBytes(path, bytes);
    return path;
}

} // namespace

TEST(DamagedImage, SmallStreamsClaimingHugeSizesAreRefusedCheaply) {
    // 259 bytes declaring 305 megapixels: libjpeg keeps every coefficient of a progressive picture,
    // about 1 GB here, even for a 1/8-scale decode. The others claim 400 MP (baseline) and 4 GP
    // (progressive).
    TempDir dir;
    for (const fs::path& path :
         {recorded("progressive-305mp.jpg"), claimingSize(dir / "baseline-400mp.jpg", 20000, 20000, 0),
          claimingSize(dir / "progressive-4gp.jpg", 65000, 65000, TJFLAG_PROGRESSIVE)}) {
        SCOPED_TRACE(path.filename().string());
        const std::string file = readFile(path);
        ASSERT_FALSE(file.empty());
        std::optional<platform::Bitmap> thumb, full, inMemory;
        QString refused;
        const double growth = peakGrowthMb([&] {
            const auto source = platform::openImageSource(path).value();
            thumb = platform::thumbnail(source, 320);
            full = platform::fullImage(source);
            inMemory = platform::decodeImageBytes(std::vector<unsigned char>(file.begin(), file.end()));
            refused = RAWJPEGExporter::prepareForUpload(path).error().description();
        });
        EXPECT_FALSE(thumb || full || inMemory);
        EXPECT_EQ(refused, QStringLiteral("无法读取或解码图片"));
        EXPECT_LT(growth, 100.0);
    }
}

// A TIFF-based RAW whose bitmap thumbnail made LibRaw 0.20 write past its buffer in unpack_thumb.
// Memory safety: this fails (as a crash) only in the sanitized build, -DVITRINO_SANITIZE=ON.
TEST(DamagedImage, RawWithADamagedBitmapThumbnailIsNotUnpacked) {
    const fs::path path = recorded("raw-damaged-bitmap-thumbnail.dng");
    const auto source = platform::openImageSource(path).value();
    EXPECT_EQ(source.format, platform::ImageFormat::raw);
    EXPECT_FALSE(platform::thumbnail(source, 320).has_value());
    // The upload preparation still gets as far as the RAW data allows, without the thumbnail.
    RAWJPEGExporter::prepareForUpload(path);
}
