#include "platform/ImageEmbedding.h"
#include "platform/ModelFiles.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

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

struct Reference {
    std::string name;
    double norm = 0, sum = 0, weighted = 0;
    std::map<int, double> largest;
};

std::vector<Reference> readReferences() {
    std::ifstream in(fs::path(VITRINO_TESTS_SOURCE_DIR) / "platform" / "data" / "embedding_reference.txt");
    std::vector<Reference> out;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Reference r;
        fields >> r.name >> r.norm >> r.sum >> r.weighted;
        for (std::string pair; fields >> pair;)
            r.largest[std::stoi(pair.substr(0, pair.find(':')))] = std::stod(pair.substr(pair.find(':') + 1));
        out.push_back(r);
    }
    return out;
}

void copyModels(const fs::path& to, const QStringList& names) {
    const QDir real(platform::modelsDirectory());
    for (const QString& name : names)
        ASSERT_TRUE(
            QFile::copy(real.filePath(name), QString::fromStdString((to / name.toStdString()).string())))
            << name.toStdString();
}

} // namespace

// TensorFlow.js computed these once from nsfwjs's own quantised weights; the converted network
// agreed within 1e-5. Reordered channels, other padding or wrong dequantisation move them far
// beyond the tolerance.
TEST(ImageEmbedding, ReproducesTheReferenceOutputs) {
    const auto references = readReferences();
    ASSERT_EQ(references.size(), 3u);
    for (const auto& ref : references) {
        SCOPED_TRACE(ref.name);
        const auto feature = platform::ImageEmbedding::shared().feature(referencePicture(ref.name));
        ASSERT_TRUE(feature.ok()) << feature.error().text.toStdString();
        ASSERT_EQ(feature->size(), size_t(platform::kImageFeatureLength));
        double norm = 0, sum = 0, weighted = 0;
        for (size_t i = 0; i < feature->size(); ++i) {
            const double v = (*feature)[i];
            norm += v * v, sum += v, weighted += v * double(i % 10);
        }
        EXPECT_NEAR(std::sqrt(norm), ref.norm, ref.norm * 2e-5);
        EXPECT_NEAR(sum, ref.sum, ref.sum * 2e-5);
        EXPECT_NEAR(weighted, ref.weighted, ref.weighted * 2e-5);
        for (const auto& [index, value] : ref.largest)
            EXPECT_NEAR((*feature)[size_t(index)], value, 1e-4) << "index " << index;
    }
}

TEST(ImageEmbedding, MissingOrDamagedModelIsAClearErrorAndLeavesTextModelsAlone) {
    const QStringList textFiles = {"det.onnx", "keys.txt", "rec_48x320.onnx", "rec_48x640.onnx",
                                   "rec_48x1280.onnx"};
    const QString sums = QStringLiteral("SHA256SUMS");
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> prepare;
        QString expected; ///< the error's beginning; empty when the network must work
        bool textUsable;
    };
    const std::vector<Case> cases = {
        {"empty folder", [](const fs::path&) {}, "图像特征模型不可用：找不到", false},
        {"text models only",
         [&](const fs::path& d) {
             copyModels(d, textFiles);
             std::ofstream list(d / "SHA256SUMS");
             std::ifstream real(QDir(platform::modelsDirectory()).filePath(sums).toStdString());
             for (std::string line; std::getline(real, line);)
                 if (line.find("image_feature") == std::string::npos) list << line << '\n';
         },
         "图像特征模型不可用：清单中没有 image_feature.onnx", true},
        {"listed but deleted", [&](const fs::path& d) { copyModels(d, textFiles + QStringList{sums}); },
         "图像特征模型不可用：文件缺失或已损坏", true},
        {"truncated file",
         [&](const fs::path& d) {
             copyModels(d, {sums});
             writeBytes(d / "image_feature.onnx", "ir_version");
         },
         "图像特征模型不可用：文件缺失或已损坏", false},
        {"embedding without the text models",
         [&](const fs::path& d) {
             copyModels(d, {sums, platform::kImageFeatureModelFile});
         },
         {},
         false},
    };
    const platform::Bitmap input(platform::kImageFeatureSide, platform::kImageFeatureSide, CV_8UC3,
                                 cv::Scalar(90, 120, 200));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir models;
        c.prepare(models.path());
        const QString dir = QString::fromStdString(models.path().string());
        platform::ImageEmbedding network(dir);
        for (int attempt = 0; attempt < 2; ++attempt) { // the failure is the same every time
            const auto feature = network.feature(input);
            if (c.expected.isEmpty()) {
                ASSERT_TRUE(feature.ok()) << feature.error().text.toStdString();
                EXPECT_EQ(feature->size(), size_t(platform::kImageFeatureLength));
            } else {
                ASSERT_FALSE(feature.ok());
                EXPECT_TRUE(feature.error().text.startsWith(c.expected))
                    << feature.error().text.toStdString();
            }
        }
        EXPECT_EQ(platform::verifyModelFiles(dir, textFiles, "x").ok(), c.textUsable);
    }
}

TEST(ImageEmbedding, ConcurrentCallsGiveTheSameFeaturesAsOneByOne) {
    auto& network = platform::ImageEmbedding::shared();
    std::vector<platform::Bitmap> inputs;
    std::vector<std::vector<float>> alone;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        inputs.push_back(picture(platform::kImageFeatureSide, platform::kImageFeatureSide, seed));
        alone.push_back(*network.feature(inputs.back()));
    }
    std::vector<std::vector<float>> together(inputs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < inputs.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 2; ++round)
                together[i] = *network.feature(inputs[i]);
        });
    for (auto& t : threads)
        t.join();
    for (size_t i = 0; i < inputs.size(); ++i)
        EXPECT_EQ(together[i], alone[i]) << "input " << i;
    EXPECT_NE(alone[0], alone[1]);
    // Input of another shape is refused, never read out of bounds.
    for (const cv::Size size : {cv::Size(223, 224), cv::Size(448, 448)})
        EXPECT_EQ(network.feature(platform::Bitmap(size, CV_8UC3)).error().text,
                  platform::kImageFeatureBadInput);
    EXPECT_FALSE(network.feature(platform::Bitmap(224, 224, CV_8UC1)).ok());
}
