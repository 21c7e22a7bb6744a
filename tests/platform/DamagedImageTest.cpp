// Damaged image files that once made the decoders allocate or grind through far more than the
// file could hold, or write past a buffer (found by the fuzz targets in fuzz/). Each is refused
// with the reader's own failure, without the memory its header claims.

#include "ai/RAWJPEGExporter.h"
#include "platform/Imaging.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <fstream>
#include <iterator>

using namespace fixtures;
using Bytes = std::vector<unsigned char>;

namespace {

/// A damaged file kept beside the tests (tests/platform/data).
Bytes recorded(const char* name) {
    std::ifstream in(fs::path(VITRINO_TESTS_SOURCE_DIR) / "platform" / "data" / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes jpeg(int width, int height, int flags) {
    const platform::Bitmap rgb = picture(width, height, 3);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    Bytes bytes;
    if (tjCompress2(tj, rgb.data, rgb.cols, static_cast<int>(rgb.step), rgb.rows, TJPF_RGB, &out, &size,
                    TJSAMP_420, 85, flags) == 0)
        bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

/// The same stream with its frame header claiming another size.
Bytes claimingSize(Bytes bytes, int width, int height) {
    for (size_t i = 2; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            bytes[i + 5] = uchar(height >> 8), bytes[i + 6] = uchar(height);
            bytes[i + 7] = uchar(width >> 8), bytes[i + 8] = uchar(width);
            return bytes;
        }
    return {};
}

void write(const fs::path& path, const Bytes& bytes) {
    writeBytes(path, std::string(bytes.begin(), bytes.end()));
}

} // namespace

TEST(DamagedImage, SmallStreamsClaimingHugeSizesAreRefusedCheaply) {
    TempDir dir;
    const std::pair<const char*, Bytes> cases[] = {
        // 259 bytes declaring 305 megapixels: libjpeg keeps every coefficient of a progressive
        // picture, about 1 GB here, even for a 1/8-scale decode.
        {"progressive-305mp.jpg", recorded("progressive-305mp.jpg")},
        {"baseline-400mp.jpg", claimingSize(jpeg(32, 32, 0), 20000, 20000)},
        {"progressive-4gp.jpg", claimingSize(jpeg(32, 32, TJFLAG_PROGRESSIVE), 65000, 65000)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(bytes.empty(), false);
        const fs::path path = dir / name;
        write(path, bytes);
        std::optional<platform::Bitmap> thumb, full, inMemory;
        core::Result<RAWJPEGExporter::PreparedImage, RAWJPEGExporter::ExportError> prepared =
            RAWJPEGExporter::ExportError{RAWJPEGExporter::ExportError::Kind::imageCompressionFailed};
        const double growth = peakGrowthMb([&] {
            const auto source = platform::openImageSource(path).value();
            thumb = platform::thumbnail(source, 320);
            full = platform::fullImage(source);
            inMemory = platform::decodeImageBytes(bytes);
            prepared = RAWJPEGExporter::prepareForUpload(path);
        });
        EXPECT_FALSE(thumb || full || inMemory);
        EXPECT_EQ(prepared.error().description(), QStringLiteral("无法读取或解码图片"));
        EXPECT_LT(growth, 100.0);
    }
}

// A TIFF-based RAW whose bitmap thumbnail made LibRaw 0.20 write past its buffer in unpack_thumb.
// Memory safety: this fails (as a crash) only in the sanitized build, -DVITRINO_SANITIZE=ON.
TEST(DamagedImage, RawWithADamagedBitmapThumbnailIsNotUnpacked) {
    TempDir dir;
    const fs::path path = dir / "IMG_0001.DNG";
    write(path, recorded("raw-damaged-bitmap-thumbnail.dng"));
    const auto source = platform::openImageSource(path).value();
    EXPECT_EQ(source.format, platform::ImageFormat::raw);
    EXPECT_FALSE(platform::thumbnail(source, 320).has_value());
    // The upload preparation still gets as far as the RAW data allows, without the thumbnail.
    RAWJPEGExporter::prepareForUpload(path);
}
