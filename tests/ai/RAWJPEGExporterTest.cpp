#include "ai/RAWJPEGExporter.h"
#include "support/Fixtures.h"

#include <QBuffer>
#include <QImage>

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace RAWJPEGExporter;
using namespace fixtures;

namespace {

Bitmap solid(int w, int h, cv::Vec3b colour) {
    return Bitmap(h, w, CV_8UC3, cv::Scalar(colour[0], colour[1], colour[2]));
}

/// Top rows one colour, the rest another: `share` of the pixels are `a`.
Bitmap split(int w, int h, double share, cv::Vec3b a, cv::Vec3b b) {
    Bitmap image = solid(w, h, b);
    image(cv::Rect(0, 0, w, int(std::round(h * share)))).setTo(cv::Scalar(a[0], a[1], a[2]));
    return image;
}

} // namespace

TEST(RAWJPEGExporter, BrightensDarkPhotosAndBarelyTouchesGoodOnes) {
    Enhancement decided;
    const Bitmap dark = picture(400, 300, 3) * 0.25;
    const Bitmap brighter = enhanceForAPI(dark, &decided);
    ASSERT_TRUE(decided.ev.has_value());
    EXPECT_EQ(decided.shadowAmount, 0.5);
    EXPECT_EQ(brighter.size(), dark.size());
    EXPECT_GT(cv::mean(brighter)[1], cv::mean(dark)[1] * 2.0);

    const Bitmap good = split(400, 300, 0.5, {90, 110, 120}, {180, 190, 200});
    const Bitmap toned = enhanceForAPI(good, &decided);
    EXPECT_FALSE(decided.ev.has_value());
    EXPECT_EQ(decided.shadowAmount, 0.08);
    EXPECT_NEAR(cv::mean(toned)[1], cv::mean(good)[1], 8.0);

    enhanceForAPI(solid(1, 1, {5, 5, 5}), &decided);
    EXPECT_FALSE(decided.ev.has_value());
    EXPECT_EQ(decided.shadowAmount, 0.08);
    EXPECT_EQ(decided.highlightAmount, 0.0);
}

namespace {

/// An encoder that records each attempt and answers "too large" until `accept` says yes.
struct RecordingEncoder {
    std::vector<std::pair<int, cv::Size>> attempts; // quality in hundredths, size
    std::function<bool(int, cv::Size)> accept = [](int, cv::Size) { return false; };
    JpegEncoder encoder() {
        return [this](const Bitmap& image, double quality) -> std::optional<std::vector<unsigned char>> {
            const int q = int(std::lround(quality * 100));
            attempts.emplace_back(q, image.size());
            return std::vector<unsigned char>(accept(q, image.size()) ? 100 : size_t(kMaxBytes), 0);
        };
    }
};

} // namespace

TEST(RAWJPEGExporter, CompressionReturnsTheFirstEncodingUnderTheLimit) {
    struct Case {
        const char* name;
        std::function<bool(int, cv::Size)> accept;
        int encodings;
        double quality;
        cv::Size size;
    };
    const std::vector<Case> cases = {
        {"first try", [](int, cv::Size) { return true; }, 1, 0.90, {1000, 800}},
        {"after one shrink", [](int, cv::Size s) { return s.width < 1000; }, 13, 0.88, {860, 688}},
        {"bottom of the fourth ladder",
         [](int q, cv::Size s) { return q == 22 && s.width < 700; },
         48,
         0.22,
         {635, 508}},
        {"the last attempt", [n = 0](int, cv::Size) mutable { return ++n == 49; }, 49, 0.22, {635, 508}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEncoder rec;
        rec.accept = c.accept;
        Compression report;
        const auto result = compressImageForAPI(solid(1000, 800, {1, 2, 3}), rec.encoder(), &report);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result->mime, QStringLiteral("image/jpeg"));
        EXPECT_EQ(result->data.size(), 100);
        EXPECT_EQ(report.encodings, c.encodings);
        EXPECT_DOUBLE_EQ(report.quality, c.quality);
        EXPECT_EQ(report.size, c.size);
    }
    // Nothing small enough after the fourth ladder: the photo is not sent.
    RecordingEncoder never;
    const auto failed = compressImageForAPI(solid(1000, 800, {1, 2, 3}), never.encoder());
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().description(), kImageCompressionFailed);
    EXPECT_EQ(never.attempts.size(), 49u);
}

TEST(RAWJPEGExporter, CompressionShrinksBelowThirtySixMegapixelsFirst) {
    RecordingEncoder rec;
    rec.accept = [](int, cv::Size) { return true; };
    ASSERT_TRUE(compressImageForAPI(solid(8000, 6000, {9, 9, 9}), rec.encoder()).ok());
    ASSERT_EQ(rec.attempts.size(), 1u);
    EXPECT_EQ(rec.attempts[0].second, cv::Size(6914, 5185));

    const auto empty = compressImageForAPI(Bitmap(), rec.encoder());
    ASSERT_FALSE(empty.ok());
    EXPECT_EQ(empty.error().description(), kImageReadFailed);
}

TEST(RAWJPEGExporter, DecodesEveryKindWithinTheSize) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> write;
        int max;
        std::optional<cv::Size> expected;
    };
    const std::vector<Case> cases = {
        {"big.jpg", [](auto& p) { writeJpeg(p, 3000, 2000); }, 2560, cv::Size(2560, 1706)},
        {"small.png", [](auto& p) { writePng(p, 300, 200); }, 2560, cv::Size(300, 200)},
        {"photo.heic", [](auto& p) { writeHeic(p, 640, 480); }, 320, cv::Size(320, 240)},
        {"develops.dng", [](auto& p) { writeDng(p, 400, 300); }, 200, cv::Size(200, 150)},
        {"native.dng", [](auto& p) { writeDng(p, 400, 300, {}, false); }, 2560, cv::Size(400, 300)},
        // A "RAW" LibRaw cannot open: the picture inside is still found.
        {"actually-jpeg.CR2", [](auto& p) { writeJpeg(p, 800, 600); }, 400, cv::Size(400, 300)},
        // Only the general decoder reads BMP, and returns it at its own size.
        {"bitmap.jpg",
         [](auto& p) {
             QImage bmp(500, 100, QImage::Format_RGB888);
             bmp.fill(Qt::gray);
             bmp.save(QString::fromStdString(p.string()), "BMP");
         },
         100, cv::Size(500, 100)},
        {"text.jpg", [](auto& p) { writeBytes(p, "no picture here"); }, 2560, std::nullopt},
        {"missing.jpg", [](auto&) {}, 2560, std::nullopt},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.write(dir / c.name);
        const auto image = loadViewableImage(dir / c.name, c.max);
        ASSERT_EQ(image.has_value(), c.expected.has_value());
        if (image) {
            EXPECT_EQ(image->size(), *c.expected);
        }
    }
}

TEST(RAWJPEGExporter, TwoHundredMegapixelPhotoNeedsNoFullSizeCopy) {
    TempDir dir;
    writeLargeJpegInChild(dir / "huge.jpg", 17320, 11547);
    std::optional<core::Result<PreparedImage, ExportError>> prepared;
    const double growth = peakGrowthMb([&] { prepared = prepareForUpload(dir / "huge.jpg"); });
    ASSERT_TRUE(prepared->ok());
    // One full-size bitmap would be 600 MB; the quarter-scale decode is 37 MB.
    EXPECT_LT(growth, 200.0);
}
