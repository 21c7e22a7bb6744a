#include "platform/ImageEmbedding.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

using namespace fixtures;

namespace {

/// The three pictures of data/embedding_reference.txt, made from the same formulas as
/// scripts/embedding_reference.js.
platform::Bitmap referencePicture(const std::string& name) {
    platform::Bitmap image(platform::kImageFeatureSide, platform::kImageFeatureSide, CV_8UC3);
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) {
            int r = 0, g = 0, b = 0;
            if (name == "gradient") {
                r = x, g = y, b = (x + y) >> 1;
            } else if (name == "checker") {
                r = (((x >> 4) + (y >> 4)) & 1) * 200 + 30, g = (x * 3 + y * 5) & 255, b = 255 - r;
            } else {
                const bool inside = (x - 112) * (x - 112) + (y - 96) * (y - 96) < 60 * 60;
                const int n = (x * y) % 17;
                r = inside ? 200 + n : 40, g = inside ? 60 + n : 90 + n, b = inside ? 40 : 160 + n;
            }
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(r), uchar(g), uchar(b));
        }
    return image;
}

} // namespace

// TensorFlow.js computed these once from nsfwjs's own quantised weights; the converted network
// agreed within 1e-5. Reordered channels, other padding or wrong dequantisation move them far
// beyond the tolerance.
TEST(ImageEmbedding, ReproducesTheReferenceOutputs) {
    // Each line: picture, norm, sum, sum weighted by index % 10, then index:value of the largest.
    std::ifstream in(fs::path(VITRINO_TESTS_SOURCE_DIR) / "platform" / "data" / "embedding_reference.txt");
    int pictures = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name;
        double refNorm = 0, refSum = 0, refWeighted = 0;
        fields >> name >> refNorm >> refSum >> refWeighted;
        SCOPED_TRACE(name);
        ++pictures;
        const auto feature = platform::ImageEmbedding::shared().feature(referencePicture(name));
        ASSERT_EQ(feature.value().size(), size_t(platform::kImageFeatureLength));
        double norm = 0, sum = 0, weighted = 0;
        for (size_t i = 0; i < feature->size(); ++i) {
            const double v = (*feature)[i];
            norm += v * v, sum += v, weighted += v * double(i % 10);
        }
        EXPECT_NEAR(std::sqrt(norm), refNorm, refNorm * 2e-5);
        EXPECT_NEAR(sum, refSum, refSum * 2e-5);
        EXPECT_NEAR(weighted, refWeighted, refWeighted * 2e-5);
        for (std::string pair; fields >> pair;)
            EXPECT_NEAR((*feature)[std::stoul(pair.substr(0, pair.find(':')))],
                        std::stod(pair.substr(pair.find(':') + 1)), 1e-4)
                << pair;
    }
    EXPECT_EQ(pictures, 3);
}
