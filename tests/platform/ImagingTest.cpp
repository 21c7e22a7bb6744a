#include "platform/Imaging.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <functional>

using namespace fixtures;

TEST(Imaging, ThumbnailFitsEveryFormatAndKeepsAspectAndRawDevelopsAtScale) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> write;
        int maxSide;
        cv::Size expected;
    } cases[] = {
        {"a.jpg", [](auto& p) { writeJpeg(p, 1200, 800); }, 300, {300, 200}},
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
        const auto thumb = platform::thumbnail(platform::openImageSource(dir / c.name).value(), c.maxSide);
        EXPECT_EQ(thumb.value().size(), c.expected);
        EXPECT_EQ(thumb->type(), CV_8UC3);
    }

    // A RAW also develops at scale.
    writeDng(dir / "nopreview.dng", 400, 300, {}, false);
    auto raw = platform::RawDeveloper::open(dir / "e.dng");
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->nativeSize(), cv::Size(400, 300));
    const auto half = raw->develop(0.25);
    EXPECT_EQ(half.value().size(), cv::Size(100, 75));
    // Mid-grey mosaic data should not develop to black or white.
    const cv::Scalar mean = cv::mean(*half);
    EXPECT_TRUE(mean[0] + mean[1] + mean[2] > 60 && mean[0] + mean[1] + mean[2] < 700) << mean;
    // Without a preview the RAW thumbnail says nothing, so callers fall back to development.
    EXPECT_FALSE(platform::thumbnail(*platform::openImageSource(dir / "nopreview.dng"), 100).has_value());
}
