// Damaged image files that once made the decoders allocate or grind through far more than the
// file could hold (found by the fuzz targets in fuzz/). Each is refused quickly with the reader's
// own failure; whole files of the same kinds still decode.

#include "ai/RAWJPEGExporter.h"
#include "platform/DamagedRawThumbnail.h"
#include "platform/Imaging.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <chrono>

using namespace fixtures;
using Bytes = std::vector<unsigned char>;

namespace {

// 259 bytes of a progressive JPEG that declares 23832 × 12816 pixels (305 megapixels): libjpeg
// keeps every coefficient of a progressive picture, about 1 GB here, even for a 1/8-scale decode.
const Bytes kProgressiveClaimingGigabyte = {
    0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00,
    0x01, 0x00, 0x00, 0xff, 0xdb, 0x00, 0x43, 0x00, 0x05, 0x03, 0x04, 0x04, 0x2a, 0x03, 0x05, 0x04, 0x04,
    0x04, 0x05, 0x05, 0x05, 0x06, 0x07, 0x0c, 0x08, 0x07, 0x07, 0x07, 0x07, 0x0f, 0x0b, 0x0b, 0x09, 0x0c,
    0x11, 0x0f, 0x12, 0x12, 0x11, 0x0f, 0x11, 0x11, 0x13, 0x16, 0x1c, 0x17, 0x13, 0x14, 0x1a, 0x15, 0x11,
    0x11, 0x18, 0x21, 0x18, 0x1a, 0x1d, 0x1d, 0x1f, 0x1f, 0x1f, 0x13, 0x17, 0x22, 0x24, 0x22, 0x1e, 0x24,
    0x1c, 0x1e, 0x1f, 0x1e, 0xff, 0xdb, 0x00, 0x43, 0x01, 0x05, 0x05, 0x05, 0x07, 0x06, 0x07, 0x0e, 0x08,
    0x08, 0x0e, 0x1e, 0x14, 0x11, 0x14, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e,
    0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e,
    0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0x1e,
    0x1e, 0x1e, 0x1e, 0x1e, 0x1e, 0xff, 0xc2, 0x00, 0x11, 0x08, 0x32, 0x10, 0x5d, 0x18, 0x03, 0x01, 0x22,
    0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xff, 0xc4, 0x00, 0x18, 0x00, 0x00, 0x02, 0x03, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x02, 0x05, 0x06, 0xff,
    0xc4, 0x00, 0x16, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x04, 0x05, 0x06, 0xff, 0xda, 0x00, 0x0c, 0x03, 0x01, 0x00, 0x02, 0x10, 0x03, 0x10,
    0x00, 0x00, 0x01, 0xce, 0xd9, 0xbd, 0x32, 0x09, 0x21, 0x22, 0xb4, 0x1f, 0xff, 0xc4, 0x00, 0x1b, 0x10,
    0x00, 0x02, 0x02, 0x03};

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
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"progressive-305mp.jpg", kProgressiveClaimingGigabyte},
        // A 2 KB baseline stream claiming 400 megapixels: the full-size decode alone would fill 1.2 GB.
        {"baseline-400mp.jpg", claimingSize(jpeg(32, 32, 0), 20000, 20000)},
        {"progressive-4gp.jpg", claimingSize(jpeg(32, 32, TJFLAG_PROGRESSIVE), 65000, 65000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        const fs::path path = dir / c.name;
        write(path, c.bytes);
        const auto started = std::chrono::steady_clock::now();
        std::optional<platform::Bitmap> thumb, full, inMemory;
        core::Result<RAWJPEGExporter::PreparedImage, RAWJPEGExporter::ExportError> prepared =
            RAWJPEGExporter::ExportError{RAWJPEGExporter::ExportError::Kind::imageCompressionFailed};
        const double growth = peakGrowthMb([&] {
            const auto source = platform::openImageSource(path);
            ASSERT_TRUE(source.has_value());
            thumb = platform::thumbnail(*source, 320);
            full = platform::fullImage(*source);
            inMemory = platform::decodeImageBytes(c.bytes);
            prepared = RAWJPEGExporter::prepareForUpload(path);
        });
        const auto seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_FALSE(thumb.has_value());
        EXPECT_FALSE(full.has_value());
        EXPECT_FALSE(inMemory.has_value());
        ASSERT_FALSE(prepared.ok());
        EXPECT_EQ(prepared.error().description(), QStringLiteral("无法读取或解码图片"));
        EXPECT_LT(growth, 100.0);
        EXPECT_LT(seconds, 2.0);
    }
}

TEST(DamagedImage, WholeAndTruncatedStreamsStillDecode) {
    TempDir dir;
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Bytes baseline = jpeg(640, 480, 0);
    const Bytes progressive = jpeg(640, 480, TJFLAG_PROGRESSIVE);
    const Case cases[] = {
        {"baseline.jpg", baseline},
        {"progressive.jpg", progressive},
        // A card filled up half-way through the write: the top half is still there.
        {"baseline-half.jpg", Bytes(baseline.begin(), baseline.begin() + long(baseline.size() / 2))},
        {"progressive-half.jpg",
         Bytes(progressive.begin(), progressive.begin() + long(progressive.size() / 2))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir / c.name;
        write(path, c.bytes);
        const auto source = platform::openImageSource(path);
        ASSERT_TRUE(source.has_value());
        const auto thumb = platform::thumbnail(*source, 320);
        ASSERT_TRUE(thumb.has_value());
        EXPECT_EQ(thumb->size(), cv::Size(320, 240));
        const auto inMemory = platform::decodeImageBytes(c.bytes);
        ASSERT_TRUE(inMemory.has_value());
        EXPECT_EQ(inMemory->size(), cv::Size(640, 480));
    }
}

// Memory safety: this fails (as a crash) only in the sanitized build, -DVITRINO_SANITIZE=ON.
TEST(DamagedImage, RawWithADamagedBitmapThumbnailIsNotUnpacked) {
    TempDir dir;
    const fs::path path = dir / "IMG_0001.DNG";
    write(path, kRawWithDamagedBitmapThumbnail);
    const auto source = platform::openImageSource(path);
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->format, platform::ImageFormat::raw);
    EXPECT_FALSE(platform::thumbnail(*source, 320).has_value());
    // The upload preparation still gets as far as the RAW data allows, without the thumbnail.
    RAWJPEGExporter::prepareForUpload(path);

    // A DNG with a JPEG preview keeps its preview.
    writeDng(dir / "good.dng", 64, 48);
    const auto good = platform::thumbnail(*platform::openImageSource(dir / "good.dng"), 320);
    ASSERT_TRUE(good.has_value());
    EXPECT_EQ(good->cols * 3, good->rows * 4);
}
