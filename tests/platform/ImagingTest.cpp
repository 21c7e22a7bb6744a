#include "platform/Imaging.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <functional>

using namespace fixtures;

TEST(Imaging, ThumbnailFitsEveryFormatAndKeepsAspect) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> write;
        int maxSide;
        cv::Size expected;
    };
    const std::vector<Case> cases = {
        {"a.jpg", [](auto& p) { writeJpeg(p, 1200, 800); }, 300, {300, 200}},
        {"b.jpg", [](auto& p) { writeJpeg(p, 1001, 333); }, 100, {100, 33}},
        {"strip.jpg", [](auto& p) { writeJpeg(p, 2000, 3); }, 100, {100, 1}},
        {"small.jpg", [](auto& p) { writeJpeg(p, 120, 80); }, 300, {120, 80}},
        {"turned.jpg", [](auto& p) { writeJpeg(p, 400, 200, {}, 6); }, 100, {50, 100}},
        {"mirrored.jpg", [](auto& p) { writeJpeg(p, 400, 200, {}, 2); }, 100, {100, 50}},
        {"c.heic", [](auto& p) { writeHeic(p, 320, 240); }, 160, {160, 120}},
        {"d.png", [](auto& p) { writePng(p, 90, 300); }, 60, {18, 60}},
        {"e.dng", [](auto& p) { writeDng(p, 400, 300); }, 200, {200, 150}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.write(dir / c.name);
        const auto source = platform::openImageSource(dir / c.name);
        ASSERT_TRUE(source.has_value());
        const auto thumb = platform::thumbnail(*source, c.maxSide);
        ASSERT_TRUE(thumb.has_value());
        EXPECT_EQ(thumb->size(), c.expected);
        EXPECT_EQ(thumb->type(), CV_8UC3);
    }
}

TEST(Imaging, OrientationTurnsThePictureNotJustTheSize) {
    TempDir dir;
    // Left half dark, right half light; orientation 6 (turn clockwise) puts the dark half on top.
    platform::Bitmap image(100, 200, CV_8UC3, cv::Scalar(20, 20, 20));
    image(cv::Rect(100, 0, 100, 100)).setTo(cv::Scalar(230, 230, 230));
    const auto jpeg = platform::encodeJpeg(image, 95);
    ASSERT_TRUE(jpeg);
    writeBytes(dir / "t.jpg", std::string(jpeg->begin(), jpeg->end()));
    writeExifDates(dir / "t.jpg", {}, 6);
    const auto full = platform::fullImage(*platform::openImageSource(dir / "t.jpg"));
    ASSERT_TRUE(full.has_value());
    ASSERT_EQ(full->size(), cv::Size(100, 200));
    EXPECT_LT(full->at<cv::Vec3b>(20, 50)[0], 60);
    EXPECT_GT(full->at<cv::Vec3b>(180, 50)[0], 200);
}

TEST(Imaging, RawDevelopsAtScaleAndHasAPreview) {
    TempDir dir;
    writeDng(dir / "a.dng", 400, 300);
    writeDng(dir / "nopreview.dng", 400, 300, {}, false);
    auto raw = platform::RawDeveloper::open(dir / "a.dng");
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->nativeSize(), cv::Size(400, 300));
    const auto half = raw->develop(0.25);
    ASSERT_TRUE(half.has_value());
    EXPECT_EQ(half->size(), cv::Size(100, 75));
    // Mid-grey mosaic data should not develop to black or white.
    const cv::Scalar mean = cv::mean(*half);
    EXPECT_GT(mean[0] + mean[1] + mean[2], 60);
    EXPECT_LT(mean[0] + mean[1] + mean[2], 700);

    auto full = platform::RawDeveloper::open(dir / "nopreview.dng");
    ASSERT_NE(full, nullptr);
    const auto developed = full->develop(1.0);
    ASSERT_TRUE(developed.has_value());
    EXPECT_EQ(developed->size(), cv::Size(400, 300));
    // Without a preview the RAW thumbnail says nothing, so callers fall back to development.
    EXPECT_FALSE(platform::thumbnail(*platform::openImageSource(dir / "nopreview.dng"), 100).has_value());
}

TEST(Imaging, HundredMegapixelThumbnailNeverHoldsTheFullBitmap) {
    TempDir dir;
    const auto path = dir / "huge.jpg";
    writeLargeJpegInChild(path, 12000, 8400);
    std::optional<platform::Bitmap> thumb;
    const double growth =
        peakGrowthMb([&] { thumb = platform::thumbnail(*platform::openImageSource(path), 768); });
    ASSERT_TRUE(thumb.has_value());
    EXPECT_EQ(thumb->size(), cv::Size(768, 537));
    // The full bitmap would be 302 MB; a 1/8-scale decode is under 5 MB.
    EXPECT_LT(growth, 100.0);
}
