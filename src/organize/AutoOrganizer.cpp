#include "organize/AutoOrganizer.h"

#include "core/Text.h"
#include "intake/WorkUnits.h"

namespace AutoOrganizer {

using ImageScanner::ImageInfo;
using MediaPipeline::ClassifiedItem;
using MediaPipeline::WorkUnit;

RunResult run(const std::filesystem::path& folder, ai::VisionBackend& backend,
              const core::RunContext& context, const RunOptions& options) {
    const core::Log& log = context.log;
    RunResult result;
    std::filesystem::path shown = folder.lexically_normal();
    if (shown.filename().empty()) shown = shown.parent_path();
    log(QStringLiteral("开始扫描：") + core::displayName(shown));
    log(options.useVisionPrefilter
            ? QStringLiteral(
                  "模式：按拍摄时间整理 + Vision 预处理（完整解码+提亮；1280 无字再 2560；仍无字→文物）")
            : QStringLiteral("模式：按拍摄时间整理 + 全量 AI 三分类"));

    const auto scanned = MediaPipeline::scanUnits(folder, context, result.errors);
    if (!scanned) return result;
    const std::vector<MediaPipeline::WorkUnit>& units = *scanned;
    log(MediaPipeline::taskLine(units));
    auto stopHere = [&] {
        result.cancelled = true;
        log(core::kCancelledLine.arg(result.movedCount));
        return result;
    };

    // With several requests in flight, each label card is read as soon as it is known to be one.
    ai::RequestSlots requests(options.requestsInFlight);
    EarlyReads early;
    const auto classified =
        MediaPipeline::classify(units, options.useVisionPrefilter, backend, context, options.probe, &requests,
                                early.reader(backend, requests, context.cancel));
    result.errors << classified.errors;
    if (classified.cancelled) return stopHere();
    if (options.useVisionPrefilter)
        log(QStringLiteral("Vision 预处理：%1 张无文字直接归文物，跳过 AI")
                .arg(classified.visionArtifactCount));

    GroupPlanner planner(classified.items, log);
    const bool read = readLabels(
        planner.labels(), backend, context, [&planner](const LabelRead& label) { planner.addLabel(label); },
        &requests, &early);
    if (!read) {
        result.errors << planner.errors();
        return stopHere();
    }
    PlanResult plan = planner.finish();
    result.classified = classified.items;
    result.errors << plan.errors;
    result.groups = std::move(plan.groups);

    logPlan(result.groups, log);

    if (options.dryRun) {
        qsizetype files = 0;
        for (const auto& group : result.groups)
            files += qsizetype(group.files.size());
        log(QStringLiteral("预演完成：计划 %1 个文件夹、%2 个文件；未创建文件夹，未移动文件。错误 %3 条。")
                .arg(result.groups.size())
                .arg(files)
                .arg(result.errors.size()));
        return result;
    }
    carryOut(folder, result, context, options.observer);
    return result;
}

void logPlan(const std::vector<PlannedGroup>& groups, const core::Log& log) {
    log(QStringLiteral("—— 规划结果 ——"));
    for (const auto& group : groups) {
        // One pass: label text may itself contain "%1"-like sequences.
        log(QStringLiteral("文件夹 %1%2：%3 个文件")
                .arg(group.folderName, group.mergedIntoExisting ? QStringLiteral("（合并）") : QString(),
                     QString::number(group.files.size())));
        for (const auto& file : group.files)
            log(QStringLiteral("  • ") + file.fileName);
    }
}

void carryOut(const std::filesystem::path& folder, RunResult& result, const core::RunContext& context,
              MoveObserver* observer) {
    const ExecuteResult executed = executeMoves(folder, result.groups, context, result.errors, observer);
    result.movedCount = executed.moved;
    if (executed.cancelled) {
        result.cancelled = true;
        context.log(core::kCancelledLine.arg(result.movedCount));
        return;
    }
    context.log(QStringLiteral("全部完成。移动 %1 个文件，错误 %2 条。")
                    .arg(result.movedCount)
                    .arg(result.errors.size()));
}

} // namespace AutoOrganizer
