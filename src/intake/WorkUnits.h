#pragma once

#include "core/Progress.h"
#include "intake/ImageScanner.h"

#include <QStringList>

#include <optional>
#include <vector>

namespace MediaPipeline {

/// One shot: the record that is looked at, and the same-stem files that follow it.
struct WorkUnit {
    ImageScanner::ImageInfo primary;
    std::vector<ImageScanner::ImageInfo> companions;

    bool operator==(const WorkUnit&) const = default;
};

/// Folds same-stem records into units (a JPEG is always the primary when the stem has one;
/// videos are units of their own), in capture order of the primaries. At equal dates photo
/// units come by primary file name, then videos in input order.
std::vector<WorkUnit> buildWorkUnits(const std::vector<ImageScanner::ImageInfo>& records);

/// "" for a unit without companions, otherwise "；同名跟移：" and the companions' names.
QString companionNote(const WorkUnit& unit);

/// Companions of type raw over all units.
int rawCompanionCount(const std::vector<WorkUnit>& units);

inline const QString kNoMedia = QStringLiteral("目录中没有可处理的媒体文件");

/// How every run over a folder begins: the scan (reported as its stage), its summary line, then
/// the units. Nothing when there is nothing to do, with the reason (the scan's error, or
/// kNoMedia) added to `errors`.
std::optional<std::vector<WorkUnit>> scanUnits(const std::filesystem::path& folder,
                                               const core::RunContext& context, QStringList& errors);

/// The log line that reports the units: "识别任务 … 个（同名 RAW 跟移 … 个；…）".
QString taskLine(const std::vector<WorkUnit>& units);

} // namespace MediaPipeline
