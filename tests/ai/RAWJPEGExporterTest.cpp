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
        cv::Size photo = {1000, 800};
    };
    const auto always = [](int, cv::Size) { return true; };
    const std::vector<Case> cases = {
        {"first try", always, 1, 0.90, {1000, 800}},
        {"bottom of the fourth ladder",
         [](int q, cv::Size s) { return q == 22 && s.width < 700; },
         48,
         0.22,
         {635, 508}},
        {"the last attempt", [n = 0](int, cv::Size) mutable { return ++n == 49; }, 49, 0.22, {635, 508}},
        {"below thirty-six megapixels first", always, 1, 0.90, {6914, 5185}, {8000, 6000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEncoder rec;
        rec.accept = c.accept;
        Compression report;
        const auto result =
            compressImageForAPI(solid(c.photo.width, c.photo.height, {1, 2, 3}), rec.encoder(), &report);
        EXPECT_EQ(result->mime, QStringLiteral("image/jpeg"));
        EXPECT_EQ(result->data.size(), 100);
        EXPECT_EQ(report.encodings, c.encodings);
        EXPECT_DOUBLE_EQ(report.quality, c.quality);
        EXPECT_EQ(report.size, c.size);
        EXPECT_EQ(rec.attempts.back().second, c.size);
    }
    // Nothing small enough after the fourth ladder: the photo is not sent.
    RecordingEncoder never;
    EXPECT_EQ(compressImageForAPI(solid(1000, 800, {1, 2, 3}), never.encoder()).error().description(),
              kImageCompressionFailed);
    EXPECT_EQ(never.attempts.size(), 49u);
}
