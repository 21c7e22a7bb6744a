#include "classify/Classification.h"
#include "ai/RemoteVisionBackend.h"
#include "samples/Scenes.h"
#include "support/FakeAIServer.h"
#include "support/FakeVisionBackend.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace fixtures;
using VisionTextProbe::ProbeError;
using VisionTextProbe::ProbeResult;

namespace {

struct PipelineTest : testing::Test {
    FakeAIServer server;
    TempDir dir;
    QStringList lines;

    ai::RemoteVisionBackend remote{ai::AISettings{server.url(), "k", "m"}};
    core::RunContext context() {
        return core::logOnly([this](const QString& line) { lines << line; });
    }
    /// A probe that says "no text" for names containing "obj", fails for "odd", text otherwise.
    MediaPipeline::Probe probe() {
        return [this](const fs::path& p) -> core::Result<ProbeResult, ProbeError> {
            const std::string name = p.filename().string();
            if (name.find("odd") != std::string::npos)
                return ProbeError{ProbeError::Kind::modelsUnavailable, "文字识别模型不可用：测试"};
            if (name.find("obj") != std::string::npos) return ProbeResult{false, VisionTextProbe::kNoText};
            return ProbeResult{true, VisionTextProbe::kFast1280};
        };
    }
    std::vector<MediaPipeline::WorkUnit> units(const std::vector<std::string>& names) {
        std::vector<ImageScanner::ImageInfo> records;
        int minute = 0;
        for (const auto& name : names) {
            const auto path = dir / name;
            if (!fs::exists(path)) writeJpeg(path, 320, 240);
            auto info = ImageScanner::processImageFile(path);
            info.creationDate = QDateTime(QDate(2024, 5, 1), QTime(10, minute++), Qt::LocalTime);
            records.push_back(info);
        }
        return MediaPipeline::buildWorkUnits(records);
    }
};

} // namespace

TEST_F(PipelineTest, ProbeDecidesFallsBackAndFailuresAreCollected) {
    writeBytes(dir / "broken.jpg", "not a jpeg");
    server.enqueue(FakeAIServer::chat(R"({"category":"panel","confidence":1})"));
    server.enqueue(FakeAIServer::Reply{500, "boom", "text/plain"});
    server.enqueue(FakeAIServer::chat(R"({"category":"artifact"})"));
    const auto result =
        MediaPipeline::classify(units({"obj.jpg", "wall.jpg", "label.jpg", "broken.jpg", "odd.jpg"}), true,
                                remote, context(), probe());
    QStringList categories;
    for (const auto& item : result.items)
        categories << rawValue(item.category);
    EXPECT_EQ(categories, QStringList({"artifact", "panel", "unknown", "unknown", "artifact"}));
    EXPECT_EQ(result.visionArtifactCount, 1);
    EXPECT_EQ(
        lines,
        QStringList(
            {"[1/5] Vision 粗筛：obj.jpg", "[1/5] obj.jpg → 文物（Vision：1280+2560 均无文字，跳过 AI）",
             "[2/5] Vision 粗筛：wall.jpg", "[2/5] wall.jpg 有文字（1280 fast）→ 送 AI 分类",
             "[2/5] 准备 AI 识别：wall.jpg", "[2/5] wall.jpg → 展板 (confidence 1.00)",
             "[3/5] Vision 粗筛：label.jpg", "[3/5] label.jpg 有文字（1280 fast）→ 送 AI 分类",
             "[3/5] 准备 AI 识别：label.jpg", "[失败] 分类失败 label.jpg：API 错误 500: boom → 未分类",
             "[4/5] Vision 粗筛：broken.jpg", "[4/5] broken.jpg 有文字（1280 fast）→ 送 AI 分类",
             "[4/5] 准备 AI 识别：broken.jpg", "[失败] 解码失败 broken.jpg：无法读取或解码图片 → 未分类",
             "[5/5] Vision 粗筛：odd.jpg", "[5/5] Vision 失败（文字识别模型不可用：测试）→ 回退 AI：odd.jpg",
             "[5/5] 准备 AI 识别：odd.jpg", "[5/5] odd.jpg → 文物 (confidence -)"}));
    EXPECT_EQ(result.errors, QStringList({lines[9].mid(5), lines[13].mid(5)})); // the failures, unprefixed
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(PipelineTest, TheOnDeviceProbeAndTheUploadShareOneDecode) {
    FakeVisionBackend backend;
    scenes::writePhoto(dir / "card.jpg", scenes::renderLabel(scenes::randomLabel(4), 4, 1600, 1067));
    scenes::writePhoto(dir / "vase.jpg", scenes::renderObject(4, 1600, 1067));
    const auto result = MediaPipeline::classify(units({"card.jpg", "vase.jpg"}), true, backend, context());
    EXPECT_EQ(lines.at(1), QStringLiteral("[1/2] card.jpg 有文字（1280 fast）→ 送 AI 分类"));
    EXPECT_EQ(lines.last(), QStringLiteral("[2/2] vase.jpg → 文物（Vision：1280+2560 均无文字，跳过 AI）"));
    EXPECT_EQ(backend.calls(), QStringList({"classify card.jpg"}));
    EXPECT_EQ(backend.prepared(), 1);
    EXPECT_EQ(backend.preparedFromPictures(), 1);
}
