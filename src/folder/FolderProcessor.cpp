#include "folder/FolderProcessor.h"

#include "core/Dates.h"
#include "core/Text.h"
#include "intake/ImageScanner.h"
#include "intake/WorkUnits.h"
#include "labels/Naming.h"
#include "organize/AutoOrganizer.h"
#include "platform/FileSystem.h"

#include <algorithm>

namespace FolderProcessor {
namespace {

using MediaPipeline::ClassifiedItem;

/// The unit's files, primary first.
std::vector<std::filesystem::path> filesOf(const MediaPipeline::WorkUnit& unit) {
    std::vector<std::filesystem::path> files{unit.primary.path};
    for (const auto& companion : unit.companions)
        files.push_back(companion.path);
    return files;
}

std::optional<int> starsFor(MediaCategory category) {
    switch (category) {
    case MediaCategory::label:
        return 1;
    case MediaCategory::panel:
        return 2;
    case MediaCategory::artifact:
        return 3;
    case MediaCategory::unknown:
        break;
    }
    return std::nullopt;
}

} // namespace

RunResult run(const std::filesystem::path& folder, ai::VisionBackend& backend,
              const core::RunContext& context, const RunOptions& options) {
    const core::Log& log = context.log;
    RunResult result;
    std::error_code ec;
    std::filesystem::path shown = std::filesystem::absolute(folder, ec).lexically_normal();
    if (shown.filename().empty()) shown = shown.parent_path();
    result.folder = folder;
    auto fail = [&](const QString& message) {
        log(core::failure(message));
        result.errors << message;
        return result;
    };
    auto stopHere = [&] {
        result.cancelled = true;
        log(core::kCancelledLine.arg(result.renamedCount));
        return result;
    };

    log(QStringLiteral("开始处理当前文件夹：%1").arg(core::displayPath(shown)));
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(shown, ec)))
        // Naming it would write into wherever the link points, outside the shoot.
        return fail(kLinkedFolder.arg(core::displayPath(shown)));
    log(options.useVisionPrefilter ? QStringLiteral("模式：当前文件夹命名 + Vision 预处理")
                                   : QStringLiteral("模式：当前文件夹命名 + 全量 AI 三分类"));
    log(QStringLiteral("API：") + options.model);

    const auto scanned = MediaPipeline::scanUnits(folder, context, result.errors);
    if (!scanned) return result;
    const std::vector<MediaPipeline::WorkUnit>& units = *scanned;
    log(QStringLiteral("识别任务 %1 个（有 JPG 则只认 JPG）").arg(units.size()));

    ai::RequestSlots requests(options.requestsInFlight);
    AutoOrganizer::EarlyReads early;
    const auto classified =
        MediaPipeline::classify(units, options.useVisionPrefilter, backend, context, options.probe, &requests,
                                early.reader(backend, requests, context.cancel));
    result.errors << classified.errors;
    if (classified.cancelled) return stopHere();

    // Sorted by role, each file rated at once: a run that stops later leaves the roles marked.
    std::vector<ClassifiedItem> labels;
    RoleFiles files;
    int panelCount = 0, artifactCount = 0, rateCount = 0, rated = 0;
    for (const auto& item : classified.items)
        if (starsFor(item.category)) rateCount += int(1 + item.unit.companions.size());
    for (const auto& item : classified.items) {
        const auto stars = starsFor(item.category);
        if (!stars) continue;
        const auto unitFiles = filesOf(item.unit);
        auto& role = item.category == MediaCategory::label   ? files.labels
                     : item.category == MediaCategory::panel ? files.panels
                                                             : files.artifacts;
        role.insert(role.end(), unitFiles.begin(), unitFiles.end());
        if (item.category == MediaCategory::label) labels.push_back(item);
        panelCount += item.category == MediaCategory::panel;
        artifactCount += item.category == MediaCategory::artifact;
        for (const auto& file : unitFiles) {
            if (context.cancelled()) return stopHere();
            context.report(stage::rate, ++rated, rateCount, core::displayName(file));
            rateFile(*stars, file, options.rate, log, result.errors);
        }
    }
    if (options.useVisionPrefilter)
        log(QStringLiteral("Vision 预处理：%1 张无文字直接归文物，跳过 AI")
                .arg(classified.visionArtifactCount));
    log(QStringLiteral("分类结果：标签 %1 / 展板 %2 / 文物 %3")
            .arg(labels.size())
            .arg(panelCount)
            .arg(artifactCount));
    if (labels.empty()) return fail(kNoLabel);

    std::stable_sort(labels.begin(), labels.end(), [](const ClassifiedItem& a, const ClassifiedItem& b) {
        return core::earlierCapture(a.unit.primary.creationDate, b.unit.primary.creationDate);
    });
    std::optional<RelicLabelExtracted> first;
    const bool allRead = AutoOrganizer::readLabels(
        labels, backend, context,
        [&](const AutoOrganizer::LabelRead& read) {
            if (!read.record)
                result.errors << read.error;
            else if (!first)
                first = read.record;
            else
                mergeLabel(*first, *read.record, log);
        },
        &requests, &early);
    if (!allRead || context.cancelled()) return stopHere();
    if (!first) return fail(kNoLabelFields);

    // A run that was killed while writing may have left a temporary file of ours here.
    platform::removeStaleTemporaries(folder);
    if (!saveLabelFiles(folder, labels.front().unit.primary.path.filename().stem().native(), *first, log,
                        result.errors, options.observer))
        return stopHere();

    const QString title = Naming::title(*first);
    if (title.isEmpty()) return fail(kEmptyTitle);
    const RenameResult renamed =
        renameArtifacts(folder, title, files.artifacts, context, result.errors, options.observer);
    result.renamedCount = renamed.renamed;
    if (renamed.cancelled) return stopHere();
    files.artifacts = renamed.files;
    if (!restampStars(files, options.rate, context, result.errors)) return stopHere();

    result.folder = renameFolder(folder, title, log, result.errors, options.observer);
    // The history refused the rename (and stopped the run): the folder keeps its name.
    if (context.cancelled() && result.folder == folder) return stopHere();
    log(QStringLiteral("完成。错误 %1 条。").arg(result.errors.size()));
    return result;
}

} // namespace FolderProcessor
