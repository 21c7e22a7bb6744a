#pragma once

// Giving every work unit its role: videos are objects; with the prefilter on, photos in which
// the text probe finds no text are objects too; everything else asks the vision model.

#include "ai/AIConfig.h"
#include "classify/ImageTriClassifier.h"
#include "classify/VisionTextProbe.h"
#include "core/Log.h"
#include "intake/WorkUnits.h"

#include <QStringList>

#include <functional>

namespace MediaPipeline {

using core::Log;

struct ClassifiedItem {
    WorkUnit unit;
    MediaCategory category = MediaCategory::unknown;
};

struct ClassifyResult {
    std::vector<ClassifiedItem> items; ///< one per input unit, in input order
    int visionArtifactCount = 0;       ///< units set to artifact because the probe found no text
    QStringList errors;                ///< one per unit whose classification failed
};

/// The probe the pipeline uses; replaceable so that tests can make it fail.
using Probe = std::function<core::Result<VisionTextProbe::ProbeResult, VisionTextProbe::ProbeError>(
    const std::filesystem::path&)>;

/// "展板", "标签", "文物" or "未分类".
QString categoryName(MediaCategory category);

/// Classifies the units one after another, logging one or more lines per unit.
ClassifyResult classify(const std::vector<WorkUnit>& units, bool useVisionPrefilter,
                        const ai::AISettings& config, const Log& log,
                        const Probe& probe = VisionTextProbe::containsAnyText);

} // namespace MediaPipeline
