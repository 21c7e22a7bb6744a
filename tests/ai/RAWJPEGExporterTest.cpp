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

TEST(LuminanceStats, PercentileAndTopShare) {
    struct Case {
        const char* name;
        Bitmap image;
        double m, h;
    };
    const std::vector<Case> cases = {
        {"grey 100", solid(640, 480, {100, 100, 100}), 100 / 255.0, 0.0},
        {"white", solid(50, 50, {255, 255, 255}), 1.0, 1.0},
        {"pure red: Rec. 709 weight", solid(40, 40, {255, 0, 0}), 54 / 255.0, 0.0},
        {"tiny image gives defaults", solid(1, 1, {0, 0, 0}), 0.4, 0.0},
        {"one row gives defaults", solid(300, 1, {0, 0, 0}), 0.4, 0.0},
        {"40% dark reaches the target", split(100, 100, 0.4, {10, 10, 10}, {230, 230, 230}), 10 / 255.0, 0.6},
        {"39% dark does not", split(100, 100, 0.39, {10, 10, 10}, {230, 230, 230}), 230 / 255.0, 0.61},
        {"bin 217 counts as top", solid(20, 20, {217, 217, 217}), 217 / 255.0, 1.0},
        {"bin 216 does not", solid(20, 20, {216, 216, 216}), 216 / 255.0, 0.0},
        {"large image is measured on a small copy", solid(2560, 1707, {128, 128, 128}), 128 / 255.0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stats = luminanceHistogramStats(c.image);
        EXPECT_NEAR(stats.m, c.m, 1e-9);
        EXPECT_NEAR(stats.h, c.h, 1e-9);
    }
}

TEST(Enhancement, ExposureShadowAndHighlightDecisions) {
    struct Case {
        double m, h;
        std::optional<double> ev;
    };
    const std::vector<Case> cases = {
        {0.10, 0.02, 2.0},
        {0.10, 0.08, 1.5},
        {0.10, 0.20, 1.1},
        {0.35, 0.0, std::log2(0.42 / 0.35)},
        {0.35, 0.20, std::log2(0.42 / 0.35) * 0.55},
        // The smallest exposure that can arise: log2(0.42 / 0.3599) × 0.55 ≈ 0.1225, still applied.
        {0.3599, 0.5, std::log2(0.42 / 0.3599) * 0.55},
        {0.36, 0.0, std::nullopt},
        {0.8, 0.0, std::nullopt},
        {std::nan(""), 0.0, std::nullopt},
        {0.01, 0.0, 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "m=" << c.m << " h=" << c.h);
        const auto ev = exposureFor({c.m, c.h});
        ASSERT_EQ(ev.has_value(), c.ev.has_value());
        if (ev) {
            EXPECT_NEAR(*ev, *c.ev, 1e-6);
        }
    }
    struct Amount {
        double m;
        double shadow;
    };
    for (const auto& a : std::vector<Amount>{{0.0, 0.5},
                                             {0.2199, 0.5},
                                             {0.22, 0.35},
                                             {0.3199, 0.35},
                                             {0.32, 0.18},
                                             {0.3999, 0.18},
                                             {0.4, 0.08},
                                             {1.0, 0.08}})
        EXPECT_EQ(shadowAmountFor(a.m), a.shadow) << a.m;
    EXPECT_EQ(highlightAmountFor(0.1), 0.0);
    EXPECT_EQ(highlightAmountFor(0.1001), 0.05);
}

TEST(Enhancement, BrightensDarkPhotosAndBarelyTouchesGoodOnes) {
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

TEST(Compression, WalksTheQualityLaddersAndShrinksThenGivesUp) {
    RecordingEncoder rec;
    Compression report;
    const auto result = compressImageForAPI(solid(1000, 800, {1, 2, 3}), rec.encoder(), &report);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().description(), kImageCompressionFailed);

    std::vector<int> expected;
    for (int q = 90; q >= 24; q -= 6)
        expected.push_back(q);
    for (int ladder = 0; ladder < 3; ++ladder)
        for (int q = 88; q >= 22; q -= 6)
            expected.push_back(q);
    expected.push_back(22);
    std::vector<int> qualities;
    for (const auto& a : rec.attempts)
        qualities.push_back(a.first);
    EXPECT_EQ(qualities, expected);
    ASSERT_EQ(rec.attempts.size(), 49u);
    EXPECT_EQ(rec.attempts[11].second, cv::Size(1000, 800));
    EXPECT_EQ(rec.attempts[12].second, cv::Size(860, 688));
    EXPECT_EQ(rec.attempts[24].second, cv::Size(739, 591));
    EXPECT_EQ(rec.attempts[36].second, cv::Size(635, 508));
    EXPECT_EQ(rec.attempts[48].second, cv::Size(635, 508));
}

TEST(Compression, ReturnsTheFirstEncodingUnderTheLimit) {
    struct Case {
        const char* name;
        std::function<bool(int, cv::Size)> accept;
        int encodings;
        double quality;
        cv::Size size;
    };
    const std::vector<Case> cases = {
        {"first try", [](int, cv::Size) { return true; }, 1, 0.90, {1000, 800}},
        {"at 0.48", [](int q, cv::Size) { return q <= 50; }, 8, 0.48, {1000, 800}},
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
}

TEST(Compression, ShrinksBelowThirtySixMegapixelsFirst) {
    RecordingEncoder rec;
    rec.accept = [](int, cv::Size) { return true; };
    ASSERT_TRUE(compressImageForAPI(solid(8000, 6000, {9, 9, 9}), rec.encoder()).ok());
    ASSERT_EQ(rec.attempts.size(), 1u);
    EXPECT_EQ(rec.attempts[0].second, cv::Size(6914, 5185));

    const auto empty = compressImageForAPI(Bitmap(), rec.encoder());
    ASSERT_FALSE(empty.ok());
    EXPECT_EQ(empty.error().description(), kImageReadFailed);
}

TEST(Loading, DecodesEveryKindWithinTheSize) {
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

TEST(Loading, PreparedUploadIsAJpegWithinLimits) {
    TempDir dir;
    writeJpeg(dir / "a.jpg", 3000, 2000);
    Preparation report;
    const auto prepared = prepareForUpload(dir / "a.jpg", &report);
    ASSERT_TRUE(prepared.ok());
    EXPECT_LT(prepared->data.size(), kMaxBytes);
    EXPECT_TRUE(prepared->data.startsWith("\xFF\xD8\xFF"));
    EXPECT_DOUBLE_EQ(report.compression.quality, 0.90);
    EXPECT_EQ(report.compression.size, cv::Size(2560, 1706));

    const auto failed = prepareForUpload(dir / "missing.jpg");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().description(), kImageReadFailed);
}

TEST(Loading, TwoHundredMegapixelPhotoNeedsNoFullSizeCopy) {
    TempDir dir;
    writeLargeJpegInChild(dir / "huge.jpg", 17320, 11547);
    std::optional<core::Result<PreparedImage, ExportError>> prepared;
    const double growth = peakGrowthMb([&] { prepared = prepareForUpload(dir / "huge.jpg"); });
    ASSERT_TRUE(prepared->ok());
    // One full-size bitmap would be 600 MB; the quarter-scale decode is 37 MB.
    EXPECT_LT(growth, 200.0);
}
