#include "refine/ImageFeaturePrint.h"
#include "samples/Scenes.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <limits>

using namespace fixtures;
using refine::FeaturePrintObservation;
using refine::ImageFeaturePrint;

namespace {

FeaturePrintObservation printOf(const fs::path& file) {
    auto print = ImageFeaturePrint::compute(file);
    if (!print) throw std::runtime_error(print.error().text.toStdString());
    return *print;
}

} // namespace

// Seeds 7001–7012 were never used to choose the input fit (that used 1–24 and 201–240).
TEST(ImageFeaturePrint, AnotherViewOfTheSameObjectIsNearerThanOtherObjects) {
    constexpr int kObjects = 12, kViews = 3;
    TempDir dir;
    std::vector<std::pair<int, FeaturePrintObservation>> shots; // object, print
    for (int o = 0; o < kObjects; ++o)
        for (unsigned v = 0; v < kViews; ++v) {
            const bool portrait = o % 3 == 2;
            const fs::path file = dir / ("o" + std::to_string(o) + "_" + std::to_string(v) + ".jpg");
            scenes::writePhoto(file, scenes::renderObject(static_cast<scenes::ObjectKind>(o % 4),
                                                          7001u + unsigned(o), portrait ? 900 : 1200,
                                                          portrait ? 1200 : 900, v));
            shots.emplace_back(o, printOf(file));
        }
    int top1 = 0, pairs = 0, nearer = 0;
    for (size_t q = 0; q < shots.size(); ++q) {
        float nearestOther = std::numeric_limits<float>::max(), nearest = nearestOther;
        int nearestObject = -1;
        for (size_t j = 0; j < shots.size(); ++j) {
            if (j == q) continue;
            const float d = *refine::distance(shots[q].second, shots[j].second);
            if (d < nearest) nearest = d, nearestObject = shots[j].first;
            if (shots[j].first != shots[q].first) nearestOther = std::min(nearestOther, d);
        }
        top1 += nearestObject == shots[q].first;
        for (size_t j = 0; j < shots.size(); ++j)
            if (j != q && shots[j].first == shots[q].first) {
                ++pairs;
                nearer += *refine::distance(shots[q].second, shots[j].second) < nearestOther;
            }
    }
    // Tuning seeds: top-1 0.98–1.00, pairs nearer than every other object 0.87–0.96. These seeds
    // gave 36/36 and 70/72 when written.
    EXPECT_GE(double(top1) / double(shots.size()), 0.9) << top1 << " of " << shots.size();
    EXPECT_GE(double(nearer) / pairs, 0.85) << nearer << " of " << pairs;
}

TEST(ImageFeaturePrint, ThumbnailIsUprightSoTheTagDoesNotChangeThePrint) {
    TempDir dir;
    const auto photo = scenes::renderObject(scenes::ObjectKind::figure, 7101, 1600, 1200, 0);
    // Orientation 6: the stored pixels are turned 90° anticlockwise, to be shown turned clockwise.
    platform::Bitmap turned;
    cv::rotate(photo, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
    scenes::writePhoto(dir / "upright.jpg", photo);
    scenes::writePhoto(dir / "tagged.jpg", turned);
    writeExifDates(dir / "tagged.jpg", {"2024:05:01 10:00:00", {}}, 6);
    scenes::writePhoto(dir / "sideways.jpg", turned);

    EXPECT_EQ(ImageFeaturePrint::thumbnail(dir / "tagged.jpg").value().size(), cv::Size(768, 576));
    const auto upright = printOf(dir / "upright.jpg");
    const float sameScene = *upright.computeDistance(printOf(dir / "tagged.jpg"));
    const float turnedScene = *upright.computeDistance(printOf(dir / "sideways.jpg"));
    EXPECT_LT(sameScene, 0.05f);
    EXPECT_GT(turnedScene, 4 * sameScene);
}

TEST(ImageFeaturePrint, FailuresAreNothingWithAReason) {
    TempDir dir;
    writeBytes(dir / "broken.jpg", "\xFF\xD8\xFF not really a JPEG");
    writeBytes(dir / "notes.txt", "text");
    fs::create_directory(dir / "folder.jpg");
    for (const char* name : {"broken.jpg", "notes.txt", "folder.jpg", "absent.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ImageFeaturePrint::compute(dir / name).error().text,
                  refine::kFeaturePrintUnreadable + QString::fromUtf8(name));
    }

    // Without the model every print fails the same way, and nothing else is touched.
    TempDir noModels;
    platform::ImageEmbedding missing(QString::fromStdString(noModels.path().string()));
    const platform::Bitmap thumb = picture(768, 512, 3);
    const auto print = ImageFeaturePrint::ofThumbnail(thumb, ImageFeaturePrint::kFit, missing);
    EXPECT_TRUE(print.error().text.startsWith(platform::kImageFeatureModelMissing));
    EXPECT_TRUE(ImageFeaturePrint::ofThumbnail(thumb).ok());
}
