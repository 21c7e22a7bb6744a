#pragma once

#include "intake/ImageScanner.h"

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

/// The log line that reports the units: "识别任务 … 个（同名 RAW 跟移 … 个；…）".
QString taskLine(const std::vector<WorkUnit>& units);

} // namespace MediaPipeline
