#include "classify/Classification.h"

#include "platform/TextRecognition.h"

#include <future>

namespace MediaPipeline {

QString categoryName(MediaCategory category) {
    switch (category) {
    case MediaCategory::panel:
        return QStringLiteral("展板");
    case MediaCategory::label:
        return QStringLiteral("标签");
    case MediaCategory::artifact:
        return QStringLiteral("文物");
    case MediaCategory::unknown:
        return QStringLiteral("未分类");
    }
    return QStringLiteral("未分类");
}

namespace {

/// The CPU work of one unit, done ahead of its turn: the probe, then (when the model is needed)
/// the preparation for upload.
struct Groundwork {
    std::optional<core::Result<VisionTextProbe::ProbeResult, VisionTextProbe::ProbeError>> probed;
    std::optional<core::Result<ai::PreparedPhoto>> prepared;
};

Groundwork groundwork(const WorkUnit& unit, bool useVisionPrefilter, const ai::VisionBackend& backend,
                      const Probe& probe) {
    Groundwork work;
    if (unit.primary.fileType == ImageScanner::ImageInfo::ImageType::video) return work;
    if (useVisionPrefilter && !probe && platform::checkModels()) {
        // One decode serves the probe and the upload.
        const auto loaded =
            RAWJPEGExporter::loadViewableImage(unit.primary.path, RAWJPEGExporter::kUploadMaxPixelSize);
        if (!loaded) {
            work.probed = VisionTextProbe::ProbeError{VisionTextProbe::ProbeError::Kind::imageLoadFailed, {}};
            work.prepared = core::Error{RAWJPEGExporter::kImageReadFailed};
            return work;
        }
        const platform::Bitmap enhanced = RAWJPEGExporter::enhanceForAPI(*loaded);
        work.probed = VisionTextProbe::containsAnyTextIn(enhanced);
        if (*work.probed && !(*work.probed)->hasText) return work;
        work.prepared = backend.prepareFrom(enhanced);
        return work;
    }
    if (useVisionPrefilter) {
        work.probed = probe ? probe(unit.primary.path) : VisionTextProbe::containsAnyText(unit.primary.path);
        if (*work.probed && !(*work.probed)->hasText) return work;
    }
    work.prepared = backend.prepare(unit.primary.path);
    return work;
}

} // namespace

ClassifyResult classify(const std::vector<WorkUnit>& units, bool useVisionPrefilter,
                        ai::VisionBackend& backend, const core::RunContext& context, const Probe& probe) {
    ClassifyResult result;
    const Log& log = context.log;
    const int n = static_cast<int>(units.size());
    auto start = [&](int index) {
        return std::async(std::launch::async, [&, index] {
            return groundwork(units[size_t(index)], useVisionPrefilter, backend, probe);
        });
    };
    std::future<Groundwork> next;
    if (n > 0 && !context.cancelled()) next = start(0);
    for (int index = 0; index < n; ++index) {
        if (context.cancelled()) {
            result.cancelled = true;
            break;
        }
        const WorkUnit& unit = units[size_t(index)];
        const QString& file = unit.primary.fileName;
        context.report(core::stage::classify, index + 1, n, file);
        Groundwork work = next.get();
        // The next unit's decoding and probing overlap this unit's request.
        if (index + 1 < n) next = start(index + 1);

        const QString position = QStringLiteral("[%1/%2] ").arg(index + 1).arg(n);
        const QString note = companionNote(unit);
        auto finish = [&](MediaCategory category) { result.items.push_back(ClassifiedItem{unit, category}); };
        auto fail = [&](const QString& message) {
            log(QStringLiteral("[失败] ") + message);
            result.errors << message;
            finish(MediaCategory::unknown);
        };

        if (unit.primary.fileType == ImageScanner::ImageInfo::ImageType::video) {
            log(position + file + QStringLiteral(" → 视频（不调 AI，按文物）") + note);
            finish(MediaCategory::artifact);
            continue;
        }

        if (useVisionPrefilter) {
            log(position + QStringLiteral("Vision 粗筛：") + file);
            const auto& probed = *work.probed;
            if (probed && !probed->hasText) {
                log(position + file + QStringLiteral(" → 文物（Vision：%1，跳过 AI）").arg(probed->detail) +
                    note);
                ++result.visionArtifactCount;
                finish(MediaCategory::artifact);
                continue;
            }
            if (probed) {
                log(position + file + QStringLiteral(" 有文字（%1）→ 送 AI 分类").arg(probed->detail));
            } else {
                log(position +
                    QStringLiteral("Vision 失败（%1）→ 回退 AI：").arg(probed.error().description()) + file);
            }
        }

        log(position + QStringLiteral("准备 AI 识别：") + file);
        const auto& prepared = *work.prepared;
        if (!prepared) {
            fail(QStringLiteral("解码失败 %1：%2 → 未分类").arg(file, prepared.error().description()));
            continue;
        }
        const auto parsed = backend.classify(unit.primary.path, *prepared);
        if (!parsed) {
            fail(QStringLiteral("分类失败 %1：%2 → 未分类").arg(file, parsed.error().description()));
            continue;
        }
        const QString confidence =
            parsed->confidence ? QString::asprintf("%.2f", *parsed->confidence) : QStringLiteral("-");
        log(position + file +
            QStringLiteral(" → %1 (confidence %2)").arg(categoryName(parsed->category), confidence) + note);
        finish(parsed->category);
    }
    if (next.valid()) next.wait();
    return result;
}

} // namespace MediaPipeline
