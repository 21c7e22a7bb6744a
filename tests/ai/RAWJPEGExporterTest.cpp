#include "ai/RAWJPEGExporter.h"
#include "support/Fixtures.h"

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace RAWJPEGExporter;
using namespace fixtures;

namespace {

Bitmap solid(cv::Size size) {
    return Bitmap(size, CV_8UC3, cv::Scalar(1, 2, 3));
}

/// An encoder that answers "too large" until `accept` says yes to the quality (in hundredths) and size.
JpegEncoder encoder(std::function<bool(int, cv::Size)> accept) {
    return [accept](const Bitmap& image, double quality) -> std::optional<std::vector<unsigned char>> {
        const bool small = accept(int(std::lround(quality * 100)), image.size());
        return std::vector<unsigned char>(small ? 100 : size_t(kMaxBytes), 0);
    };
}

} // namespace

TEST(RAWJPEGExporter, CompressionReturnsTheFirstEncodingUnderTheLimit) {
    struct Case {
        const char* name;
        std::function<bool(int, cv::Size)> accept;
        int encodings;
        double quality;
        cv::Size size;
        cv::Size photo = {1000, 800};
    };
    const auto always = [](int, cv::Size) { return true; };
    const auto atTheBottom = [](int q, cv::Size s) { return q == 22 && s.width < 700; };
    const std::vector<Case> cases = {
        {"bottom of the fourth ladder", atTheBottom, 48, 0.22, {635, 508}},
        {"the last attempt", [n = 0](int, cv::Size) mutable { return ++n == 49; }, 49, 0.22, {635, 508}},
        {"below thirty-six megapixels first", always, 1, 0.90, {6914, 5185}, {8000, 6000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Compression report;
        const auto result = compressImageForAPI(solid(c.photo), encoder(c.accept), &report);
        EXPECT_EQ(result->mime, QStringLiteral("image/jpeg"));
        EXPECT_EQ(result->data.size(), 100);
        EXPECT_EQ(report.encodings, c.encodings);
        EXPECT_DOUBLE_EQ(report.quality, c.quality);
        EXPECT_EQ(report.size, c.size);
    }
    // Nothing small enough after the fourth ladder: the photo is not sent.
    Compression report;
    const auto failed =
        compressImageForAPI(solid({1000, 800}), encoder([](int, cv::Size) { return false; }), &report);
    EXPECT_EQ(failed.error().description(), kImageCompressionFailed);
    EXPECT_EQ(report.encodings, 49);
}
