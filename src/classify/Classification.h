#pragma once

// Giving every work unit its role: videos are objects; with the prefilter on, photos in which
// the text probe finds no text are objects too; everything else asks the vision model.

#include "ai/RequestSlots.h"
#include "ai/VisionBackend.h"
#include "classify/VisionTextProbe.h"
#include "core/ImageTriClassifier.h"
#include "core/Log.h"
#include "core/Progress.h"
#include "intake/WorkUnits.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace MediaPipeline {

using core::Log;

struct ClassifiedItem {
    WorkUnit unit;
    MediaCategory category = MediaCategory::unknown;
    /// A label card's text found while it was classified on this machine, for its read.
    std::shared_ptr<ai::TextFound> found{};
};

struct ClassifyResult {
    std::vector<ClassifiedItem> items; ///< one per input unit, in input order
    int visionArtifactCount = 0;       ///< units set to artifact because the probe found no text
    QStringList errors;                ///< one per unit whose classification failed
    bool cancelled = false;            ///< stopped before the last unit; items holds those done
};

/// A probe to use instead of the on-device one (tests make it fail or decide by name). Without
/// one, the pipeline decodes each photo once for both the probe and the upload.
using Probe = std::function<core::Result<VisionTextProbe::ProbeResult, VisionTextProbe::ProbeError>(
    const std::filesystem::path&)>;

/// "展板", "标签", "文物" or "未分类".
QString categoryName(MediaCategory category);

/// Classifies the units in order, logging one or more lines per unit. Without slots (or with one),
/// one request is in flight at a time and meanwhile the next units' probes and preparations run
/// ahead, as many at once as there are cores. With more slots and a backend that takes concurrent requests,
/// later units are probed (as many at once as there are cores) and sent while earlier ones are in flight;
/// each unit's lines are still written when its turn comes, so the log is the same. The cancellation token is
/// checked before each unit.
///
/// With several in flight, `afterReply` is called on the unit's worker thread as soon as its
/// classification came back, while the photo is still prepared, so that a run can send the
/// unit's next request (a label card's read) at once and without preparing the photo again.
/// `index` is the unit's place in `units`.
using AfterReply =
    std::function<void(int index, const WorkUnit&, const ai::PreparedPhoto&, const ClassificationResult&)>;
ClassifyResult classify(const std::vector<WorkUnit>& units, bool useVisionPrefilter,
                        ai::VisionBackend& backend, const core::RunContext& context, const Probe& probe = {},
                        ai::RequestSlots* requests = nullptr, const AfterReply& afterReply = {});

/// The units prepared at once ahead of the one whose lines are being written, besides those in
/// flight: the cores.
int preparationThreads();

} // namespace MediaPipeline
