#include "classify/Classification.h"

#include "core/InOrder.h"
#include "platform/TextRecognition.h"

#include <algorithm>
#include <future>
#include <semaphore>
#include <thread>

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
/// the preparation for upload and, for the engine on this machine, its reading.
struct Groundwork {
    std::optional<core::Result<VisionTextProbe::ProbeResult, VisionTextProbe::ProbeError>> probed;
    std::optional<core::Result<ai::PreparedPhoto>> prepared;
};

Groundwork probeAndPrepare(const WorkUnit& unit, bool useVisionPrefilter, const ai::VisionBackend& backend,
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
        // What the probe detects on these pixels at the reading scale serves the engine's read.
        const auto found = std::make_shared<ai::TextFound>(enhanced);
        work.probed =
            VisionTextProbe::containsAnyTextIn(enhanced, VisionTextProbe::TextModel::system(), found.get());
        if (*work.probed && !(*work.probed)->hasText) return work;
        work.prepared = backend.prepareFrom(enhanced);
        if (*work.prepared) ai::adoptFound(**work.prepared, found);
        return work;
    }
    if (useVisionPrefilter) {
        work.probed = probe ? probe(unit.primary.path) : VisionTextProbe::containsAnyText(unit.primary.path);
        if (*work.probed && !(*work.probed)->hasText) return work;
    }
    work.prepared = backend.prepare(unit.primary.path);
    return work;
}

Groundwork groundwork(const WorkUnit& unit, bool useVisionPrefilter, const ai::VisionBackend& backend,
                      const Probe& probe) {
    Groundwork work = probeAndPrepare(unit, useVisionPrefilter, backend, probe);
    if (work.prepared && *work.prepared) backend.workAhead(**work.prepared, ai::VisionBackend::Ask::classify);
    return work;
}

} // namespace

namespace {
constexpr int kMostPreparations = 64;
} // namespace

int preparationThreads() {
    return std::clamp(int(std::thread::hardware_concurrency()), 1, kMostPreparations);
}

namespace {

using Reply = core::Result<ClassificationResult>;

/// Writes one unit's lines and adds its item, in the order of one request after another; `ask`
/// sends its request (or hands over the reply of one sent ahead).
void record(int index, int n, const WorkUnit& unit, const Groundwork& work, bool useVisionPrefilter,
            const std::function<Reply()>& ask, const Log& log, ClassifyResult& result) {
    const QString& file = unit.primary.fileName;
    const QString position = QStringLiteral("[%1/%2] ").arg(index + 1).arg(n);
    const QString note = companionNote(unit);
    auto finish = [&](MediaCategory category) {
        // A label card's text found so far is kept for its read (a few regions and lines).
        std::shared_ptr<ai::TextFound> found;
        if (category == MediaCategory::label && work.prepared && *work.prepared) {
            const ai::PreparedPhoto& prepared = **work.prepared;
            if (prepared.found && prepared.bitmap) {
                prepared.found->keepDigest(*prepared.bitmap);
                found = prepared.found;
            }
        }
        result.items.push_back(ClassifiedItem{unit, category, std::move(found)});
    };
    auto fail = [&](const QString& message) {
        log(core::failure(message));
        result.errors << message;
        finish(MediaCategory::unknown);
    };

    if (unit.primary.fileType == ImageScanner::ImageInfo::ImageType::video) {
        log(position + file + QStringLiteral(" → 视频（不调 AI，按文物）") + note);
        finish(MediaCategory::artifact);
        return;
    }

    if (useVisionPrefilter) {
        log(position + QStringLiteral("Vision 粗筛：") + file);
        const auto& probed = *work.probed;
        if (probed && !probed->hasText) {
            log(position + file + QStringLiteral(" → 文物（Vision：%1，跳过 AI）").arg(probed->detail) +
                note);
            ++result.visionArtifactCount;
            finish(MediaCategory::artifact);
            return;
        }
        if (probed) {
            log(position + file + QStringLiteral(" 有文字（%1）→ 送 AI 分类").arg(probed->detail));
        } else {
            log(position + QStringLiteral("Vision 失败（%1）→ 回退 AI：").arg(probed.error().description()) +
                file);
        }
    }

    log(position + QStringLiteral("准备 AI 识别：") + file);
    const auto& prepared = *work.prepared;
    if (!prepared) {
        fail(QStringLiteral("解码失败 %1：%2 → 未分类").arg(file, prepared.error().description()));
        return;
    }
    const Reply parsed = ask();
    if (!parsed) {
        fail(QStringLiteral("分类失败 %1：%2 → 未分类").arg(file, parsed.error().description()));
        return;
    }
    const QString confidence =
        parsed->confidence ? QString::asprintf("%.2f", *parsed->confidence) : QStringLiteral("-");
    log(position + file +
        QStringLiteral(" → %1 (confidence %2)").arg(categoryName(parsed->category), confidence) + note);
    finish(parsed->category);
}

/// A unit done ahead of its turn: its groundwork and, when the model is needed, the reply.
struct Ahead {
    Groundwork work;
    std::optional<Reply> reply;
    QStringList warnings;
    bool skipped = false; ///< cancelled before its request went out
};

ClassifyResult classifyAhead(const std::vector<WorkUnit>& units, bool useVisionPrefilter,
                             ai::VisionBackend& backend, const core::RunContext& context, const Probe& probe,
                             ai::RequestSlots& requests, const AfterReply& afterReply) {
    ClassifyResult result;
    const int n = static_cast<int>(units.size());
    // As many probes and preparations at once as there are cores: more would only share the
    // cores, and each holds its decoded bitmaps meanwhile.
    std::counting_semaphore<kMostPreparations> cores(preparationThreads());
    const std::function<Ahead(int)> work = [&](int index) {
        Ahead ahead;
        const WorkUnit& unit = units[size_t(index)];
        if (context.cancelled()) {
            ahead.skipped = true;
            return ahead;
        }
        cores.acquire();
        ahead.work = groundwork(unit, useVisionPrefilter, backend, probe);
        cores.release();
        if (!ahead.work.prepared || !*ahead.work.prepared) return ahead;
        const ai::PreparedPhoto& prepared = **ahead.work.prepared;
        auto reply =
            requests.send<ClassificationResult>([&] { return backend.classify(unit.primary.path, prepared); },
                                                unit.primary.fileName, context.cancel, ahead.warnings, index);
        if (!reply) {
            ahead.skipped = true;
            return ahead;
        }
        if (*reply && afterReply) afterReply(index, unit, prepared, **reply);
        ahead.reply = std::move(*reply);
        return ahead;
    };
    int taken = 0;
    const std::function<bool(int, Ahead&)> take = [&](int index, Ahead& ahead) {
        if (context.cancelled() || ahead.skipped) return false;
        const WorkUnit& unit = units[size_t(index)];
        context.report(core::stage::classify, index + 1, n, unit.primary.fileName);
        record(
            index, n, unit, ahead.work, useVisionPrefilter,
            [&] {
                for (const QString& warning : ahead.warnings)
                    context.log(core::warning(warning));
                return std::move(*ahead.reply);
            },
            context.log, result);
        ++taken;
        return true;
    };
    // Enough units ahead to keep every slot busy and every core preparing, with room for a unit
    // whose turn is held up by its two requests (classification, then its label card's read).
    core::inOrder<Ahead>(n, 2 * requests.limit() + preparationThreads(), work, take, context.cancel);
    result.cancelled = taken < n;
    return result;
}

} // namespace

ClassifyResult classify(const std::vector<WorkUnit>& units, bool useVisionPrefilter,
                        ai::VisionBackend& backend, const core::RunContext& context, const Probe& probe,
                        ai::RequestSlots* requests, const AfterReply& afterReply) {
    if (requests && requests->concurrent() && backend.takesConcurrentRequests())
        return classifyAhead(units, useVisionPrefilter, backend, context, probe, *requests, afterReply);
    ClassifyResult result;
    const int n = static_cast<int>(units.size());
    // The next units' decoding and probing, one per core, overlap this unit's request.
    std::counting_semaphore<kMostPreparations> cores(preparationThreads());
    const std::function<Groundwork(int)> work = [&](int index) {
        if (context.cancelled()) return Groundwork{};
        cores.acquire();
        Groundwork done = groundwork(units[size_t(index)], useVisionPrefilter, backend, probe);
        cores.release();
        return done;
    };
    int taken = 0;
    const std::function<bool(int, Groundwork&)> take = [&](int index, Groundwork& done) {
        if (context.cancelled()) return false;
        const WorkUnit& unit = units[size_t(index)];
        context.report(core::stage::classify, index + 1, n, unit.primary.fileName);
        record(
            index, n, unit, done, useVisionPrefilter,
            [&] { return backend.classify(unit.primary.path, **done.prepared); }, context.log, result);
        ++taken;
        return true;
    };
    core::inOrder<Groundwork>(n, preparationThreads(), work, take, context.cancel);
    result.cancelled = taken < n;
    return result;
}

} // namespace MediaPipeline
