#include "classify/VisionTextProbe.h"
#include "platform/TextRecognition.h"
#include "samples/Scenes.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <map>

using namespace fixtures;

TEST(VisionTextProbe, FindsTextOnLabelsAndPanelsButNotOnObjects) {
    TempDir dir;
    std::map<QString, int> foundText; // per kind of shot
    QStringList misses;
    for (int i = 0; i < 20; ++i) {
        const unsigned seed = 5000u + unsigned(i) * 17u;
        const std::pair<QString, platform::Bitmap> shots[] = {
            {"label", scenes::renderLabel(scenes::randomLabel(seed), seed, 1600, 1067)},
            {"panel", scenes::renderPanel(seed, 1600, 1067)},
            {"object", scenes::renderObject(seed, 1600, 1067)},
        };
        for (const auto& [kind, image] : shots) {
            const auto path = dir / (kind.toStdString() + std::to_string(i) + ".jpg");
            scenes::writePhoto(path, image);
            const auto result = VisionTextProbe::containsAnyText(path);
            ASSERT_TRUE(result.ok()) << result.error().description().toStdString();
            foundText[kind] += result->hasText;
            if ((kind == "object") == result->hasText)
                misses << kind + QString::number(i) + ": " + result->detail;
            // The detail always names the attempt that decided.
            EXPECT_TRUE(result->hasText ? (result->detail == VisionTextProbe::kFast1280 ||
                                           result->detail == VisionTextProbe::kAccurate1280 ||
                                           result->detail == VisionTextProbe::kAccurate2560)
                                        : result->detail == VisionTextProbe::kNoText);
        }
    }
    EXPECT_TRUE(foundText["label"] == 20 && foundText["panel"] == 20 && foundText["object"] <= 2)
        << misses.join("; ").toStdString();
}

TEST(VisionTextProbe, AnUnloadableImageOrAFailingModelIsAnErrorAndNothingElse) {
    TempDir dir;
    writeBytes(dir / "text.jpg", "not a picture");
    for (const char* name : {"text.jpg", "missing.jpg"})
        EXPECT_EQ(VisionTextProbe::containsAnyText(dir / name).error().description(),
                  QStringLiteral("无法加载图像供 Vision 检测"));
    // A tiny or blank picture is simply "no text".
    scenes::writePhoto(dir / "blank.jpg", platform::Bitmap(40, 60, CV_8UC3, cv::Scalar(128, 128, 128)));
    EXPECT_EQ(VisionTextProbe::containsAnyText(dir / "blank.jpg").value(),
              (VisionTextProbe::ProbeResult{false, QStringLiteral("1280+2560 均无文字")}));

    // A model that fails while running is an error, not "no text". An object photo: with a working
    // model every attempt runs and finds nothing.
    scenes::writePhoto(dir / "object.jpg", scenes::renderObject(3, 1600, 1067));
    const platform::TextBox box{{}, 300, 40, 0.9f};
    const core::Error broken{QStringLiteral("文字识别模型不可用：forward failed")};
    const auto oneRegion = [&](const platform::Bitmap&, int, double) {
        return core::Result<std::vector<platform::TextBox>>(std::vector<platform::TextBox>{box});
    };
    const auto unreadable = [](const platform::Bitmap&, const platform::TextBox&) {
        return core::Result<platform::RecognizedText>(
            platform::RecognizedText{QStringLiteral("·"), 0.2f, {}});
    };
    // The recogniser fails on the one region the detector finds.
    const auto result = VisionTextProbe::containsAnyTextWith(
        dir / "object.jpg", {oneRegion, [&](const platform::Bitmap&, const platform::TextBox&) {
                                 return core::Result<platform::RecognizedText>(broken);
                             }});
    EXPECT_EQ(result.error().kind, VisionTextProbe::ProbeError::Kind::recognitionFailed);
    EXPECT_EQ(result.error().description(), broken.description());
    // The same stand-ins without failures: one unreadable region is no text.
    EXPECT_FALSE(VisionTextProbe::containsAnyTextWith(dir / "object.jpg", {oneRegion, unreadable})->hasText);
}
