#include "classify/Classification.h"
#include "ai/RemoteVisionBackend.h"
#include "engine/LocalVisionBackend.h"
#include "engine/TextReading.h"
#include "samples/Scenes.h"
#include "support/FakeAIServer.h"
#include "support/FakeVisionBackend.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace fixtures;
using MediaPipeline::ClassifyResult;
using VisionTextProbe::ProbeError;
using VisionTextProbe::ProbeResult;

namespace {

struct PipelineTest : testing::Test {
    FakeAIServer server;
    TempDir dir;
    QStringList lines;
    int probes = 0;

    ai::RemoteVisionBackend remote{ai::AISettings{server.url(), "k", "m"}};
    core::RunContext context() {
        return core::logOnly([this](const QString& line) { lines << line; });
    }
    /// A probe that says "no text" for names containing "obj", fails for "odd", text otherwise.
    MediaPipeline::Probe probe() {
        return [this](const fs::path& p) -> core::Result<ProbeResult, ProbeError> {
            ++probes;
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

QStringList categories(const ClassifyResult& r) {
    QStringList out;
    for (const auto& item : r.items)
        out << rawValue(item.category);
    return out;
}

} // namespace

TEST_F(PipelineTest, OnlyVideosNeedNeitherProbeNorModel) {
    writeBytes(dir / "a.mov", "v");
    writeBytes(dir / "b.mp4", "v");
    EXPECT_TRUE(MediaPipeline::classify({}, true, remote, context(), probe()).items.empty());
    const auto result = MediaPipeline::classify(units({"a.mov", "b.mp4"}), true, remote, context(), probe());
    EXPECT_EQ(categories(result), QStringList({"artifact", "artifact"}));
    EXPECT_EQ(result.visionArtifactCount, 0);
    EXPECT_EQ(probes, 0);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(lines, QStringList(
                         {"[1/2] a.mov → 视频（不调 AI，按文物）", "[2/2] b.mp4 → 视频（不调 AI，按文物）"}));
}

TEST_F(PipelineTest, PrefilterOffSendsEveryPhotoToTheModel) {
    writeDng(dir / "IMG_1.DNG", 64, 48);
    server.enqueue(FakeAIServer::chat(R"({"category":"label","confidence":0.934})"));
    server.enqueue(FakeAIServer::chat("I cannot tell"));
    const auto result = MediaPipeline::classify(units({"IMG_1.JPG", "IMG_1.DNG", "obj.jpg"}), false, remote,
                                                context(), probe());
    EXPECT_EQ(probes, 0);
    EXPECT_EQ(categories(result), QStringList({"label", "unknown"}));
    EXPECT_TRUE(result.errors.isEmpty());
    EXPECT_EQ(lines, QStringList({
                         "[1/2] 准备 AI 识别：IMG_1.JPG",
                         "[1/2] IMG_1.JPG → 标签 (confidence 0.93)；同名跟移：IMG_1.DNG",
                         "[2/2] 准备 AI 识别：obj.jpg",
                         "[2/2] obj.jpg → 未分类 (confidence -)",
                     }));
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0].prompt, ImageTriClassifier::kPrompt);
    EXPECT_EQ(server.requests()[0].body.value("max_tokens").toInt(), 128);
}

TEST_F(PipelineTest, ProbeDecidesFallsBackAndFailuresAreCollected) {
    writeBytes(dir / "broken.jpg", "not a jpeg");
    server.enqueue(FakeAIServer::chat(R"({"category":"panel","confidence":1})"));
    server.enqueue(FakeAIServer::Reply{500, "boom", "text/plain"});
    server.enqueue(FakeAIServer::chat(R"({"category":"artifact"})"));
    const auto result =
        MediaPipeline::classify(units({"obj.jpg", "wall.jpg", "label.jpg", "broken.jpg", "odd.jpg"}), true,
                                remote, context(), probe());
    EXPECT_EQ(categories(result), QStringList({"artifact", "panel", "unknown", "unknown", "artifact"}));
    EXPECT_EQ(result.visionArtifactCount, 1);
    EXPECT_EQ(result.errors, QStringList({"分类失败 label.jpg：API 错误 500: boom → 未分类",
                                          "解码失败 broken.jpg：无法读取或解码图片 → 未分类"}));
    EXPECT_EQ(lines, QStringList({
                         "[1/5] Vision 粗筛：obj.jpg",
                         "[1/5] obj.jpg → 文物（Vision：1280+2560 均无文字，跳过 AI）",
                         "[2/5] Vision 粗筛：wall.jpg",
                         "[2/5] wall.jpg 有文字（1280 fast）→ 送 AI 分类",
                         "[2/5] 准备 AI 识别：wall.jpg",
                         "[2/5] wall.jpg → 展板 (confidence 1.00)",
                         "[3/5] Vision 粗筛：label.jpg",
                         "[3/5] label.jpg 有文字（1280 fast）→ 送 AI 分类",
                         "[3/5] 准备 AI 识别：label.jpg",
                         "[失败] 分类失败 label.jpg：API 错误 500: boom → 未分类",
                         "[4/5] Vision 粗筛：broken.jpg",
                         "[4/5] broken.jpg 有文字（1280 fast）→ 送 AI 分类",
                         "[4/5] 准备 AI 识别：broken.jpg",
                         "[失败] 解码失败 broken.jpg：无法读取或解码图片 → 未分类",
                         "[5/5] Vision 粗筛：odd.jpg",
                         "[5/5] Vision 失败（文字识别模型不可用：测试）→ 回退 AI：odd.jpg",
                         "[5/5] 准备 AI 识别：odd.jpg",
                         "[5/5] odd.jpg → 文物 (confidence -)",
                     }));
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(PipelineTest, RealProbeOnAnUndecodableFileFallsBackToTheModelPath) {
    writeBytes(dir / "broken.jpg", "not a jpeg");
    const auto result = MediaPipeline::classify(units({"broken.jpg"}), true, remote, context());
    EXPECT_EQ(lines, QStringList({"[1/1] Vision 粗筛：broken.jpg",
                                  "[1/1] Vision 失败（无法加载图像供 Vision 检测）→ 回退 AI：broken.jpg",
                                  "[1/1] 准备 AI 识别：broken.jpg",
                                  "[失败] 解码失败 broken.jpg：无法读取或解码图片 → 未分类"}));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PipelineTest, TheNextPhotosAreProbedWhileARequestIsInFlight) {
    // Later photos are probed on a pool of one thread per core while a request is out; probes
    // that finish out of order (the first ones slowest) still give the lines of one photo after
    // another, and every request comes after its own probe.
    FakeVisionBackend backend;
    std::mutex mutex;
    std::condition_variable probed;
    QStringList probedNames;
    int running = 0, mostAtOnce = 0;
    const MediaPipeline::Probe slowProbe = [&](const fs::path& p) -> core::Result<ProbeResult, ProbeError> {
        const QString name = QString::fromStdString(p.filename().string());
        {
            const std::lock_guard<std::mutex> hold(mutex);
            mostAtOnce = std::max(mostAtOnce, ++running);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(name < QLatin1String("c") ? 120 : 10));
        const std::lock_guard<std::mutex> hold(mutex);
        --running;
        probedNames << name;
        probed.notify_all();
        if (name.startsWith(QLatin1String("obj"))) return ProbeResult{false, VisionTextProbe::kNoText};
        return ProbeResult{true, VisionTextProbe::kFast1280};
    };
    bool overlapped = false;
    QStringList probedBeforeRequest;
    backend.onRequest([&](const QString& name) {
        std::unique_lock<std::mutex> hold(mutex);
        if (probedNames.contains(name)) probedBeforeRequest << name;
        if (name != QLatin1String("a.jpg")) return;
        overlapped = probed.wait_for(hold, std::chrono::seconds(20),
                                     [&] { return probedNames.contains(QStringLiteral("b.jpg")); });
    });
    const auto result = MediaPipeline::classify(units({"a.jpg", "b.jpg", "c.jpg", "obj1.jpg", "d.jpg"}), true,
                                                backend, context(), slowProbe);
    EXPECT_TRUE(overlapped);
    EXPECT_EQ(backend.calls(),
              QStringList({"classify a.jpg", "classify b.jpg", "classify c.jpg", "classify d.jpg"}));
    EXPECT_EQ(probedBeforeRequest, QStringList({"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
    EXPECT_EQ(categories(result), QStringList({"artifact", "artifact", "artifact", "artifact", "artifact"}));
    QStringList expected;
    for (const QString name : {"a.jpg", "b.jpg", "c.jpg", "obj1.jpg", "d.jpg"}) {
        const QString at = QStringLiteral("[%1/5] ").arg(expected.size() / 4 + 1);
        expected << at + "Vision 粗筛：" + name;
        if (name.startsWith(QLatin1String("obj"))) {
            expected << at + name + " → 文物（Vision：1280+2560 均无文字，跳过 AI）" << QString()
                     << QString();
            continue;
        }
        expected << at + name + " 有文字（1280 fast）→ 送 AI 分类" << at + "准备 AI 识别：" + name
                 << at + name + " → 文物 (confidence 0.90)";
    }
    expected.removeAll(QString());
    EXPECT_EQ(lines, expected);
    if (MediaPipeline::preparationThreads() > 1) {
        EXPECT_GT(mostAtOnce, 1);
    }
}

TEST_F(PipelineTest, CancellingStopsBeforeTheNextPhoto) {
    FakeVisionBackend backend;
    core::RunContext ctx = context();
    backend.onRequest([&](const QString& name) {
        if (name == QLatin1String("b.jpg")) ctx.cancel.cancel();
    });
    const auto result =
        MediaPipeline::classify(units({"a.jpg", "b.jpg", "c.jpg", "d.jpg"}), false, backend, ctx);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(categories(result), QStringList({"artifact", "artifact"}));
    EXPECT_EQ(backend.calls(), QStringList({"classify a.jpg", "classify b.jpg"}));
    EXPECT_FALSE(lines.join('\n').contains(QStringLiteral("c.jpg")));
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

TEST_F(PipelineTest, TheEngineReadsWhatWasFoundOnTheSamePixelsOnce) {
    // The offline engine takes the regions and lines found while a photo was probed and
    // classified instead of finding them again; what it reads is the same as from a fresh bitmap.
    engine::LocalVisionBackend local;
    scenes::writePhoto(dir / "card.jpg", scenes::renderLabel(scenes::randomLabel(11), 11, 1800, 1200));
    scenes::writePhoto(dir / "vase.jpg", scenes::renderObject(13, 1800, 1200));
    const auto result = MediaPipeline::classify(units({"card.jpg", "vase.jpg"}), true, local, context());
    ASSERT_EQ(result.items.size(), 2u);
    const ai::TextFound::Question reading{960, 0.006, true};
    for (const auto& item : result.items) {
        const auto& path = item.unit.primary.path;
        SCOPED_TRACE(path.filename().string());
        // Only a label card keeps what was found, for its read.
        ASSERT_EQ(item.found != nullptr, item.category == MediaCategory::label);
        if (!item.found) continue;
        auto fresh = local.prepare(path);
        auto again = local.prepare(path);
        ai::adoptFound(*again, item.found);
        ASSERT_TRUE(again->found->regions(reading)) << "detected again";
        EXPECT_EQ(*local.readLabel(path, *again), *local.readLabel(path, *fresh));
    }
    EXPECT_EQ(categories(result), QStringList({"label", "artifact"}));

    // What the probe detected at the reading scale (an object, probed up to 2560) is what the
    // engine would have detected there, and a reading from it is the same.
    const auto vase =
        RAWJPEGExporter::enhanceForAPI(*RAWJPEGExporter::loadViewableImage(dir / "vase.jpg", 2560));
    ai::TextFound probed(vase);
    ASSERT_TRUE(VisionTextProbe::containsAnyTextIn(vase, VisionTextProbe::TextModel::system(), &probed));
    ASSERT_TRUE(probed.regions({960, 0.006, false}));
    EXPECT_EQ(probed.regions({960, 0.006, false})->size(), platform::detectText(vase, 960, 0.006)->size());
    EXPECT_EQ(engine::readPage(vase, 8, {}, true, &probed)->rowTexts(),
              engine::readPage(vase, 8)->rowTexts());

    // A card changed on disk between its classification and its read is read afresh.
    const auto card = result.items.front();
    scenes::writePhoto(dir / "card.jpg", scenes::renderLabel(scenes::randomLabel(14), 14, 1800, 1200));
    auto changed = local.prepare(card.unit.primary.path);
    ai::adoptFound(*changed, card.found);
    EXPECT_NE(changed->found, card.found);
    EXPECT_FALSE(changed->found->regions(reading));
}
