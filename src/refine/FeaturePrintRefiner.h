#pragma once

// The post-processing pass over an organized folder: a photograph that organizing put into the
// next exhibit's folder (it was shot after its own exhibit's label) is moved back when its feature
// print is strictly nearer to the previous exhibit's last photographs than to the next exhibit's
// anchor photograph. Every move is recorded so the whole pass can be undone.

#include "core/Log.h"
#include "core/Progress.h"
#include "core/Result.h"
#include "intake/WorkUnits.h"

#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace AutoOrganizer {
class MoveObserver;
}

namespace FeaturePrintRefiner {

/// An image embedding: one vector per photograph, or an error when it cannot be computed.
using FeaturePrint = std::vector<float>;
using FeaturePrintFn = std::function<core::Result<FeaturePrint>(const std::filesystem::path&)>;

/// One file move.
struct MoveRecord {
    std::filesystem::path fromPath;
    std::filesystem::path toPath;
    bool operator==(const MoveRecord&) const = default;
};

struct RunResult {
    int movedCount = 0;
    QStringList errors;
    std::vector<MoveRecord> moves; ///< in the order performed
    bool cancelled = false;
    bool refused = false; ///< not started: its history could not be written
};

struct UndoResult {
    int restored = 0;
    std::vector<MoveRecord> remaining; ///< not undone and still undoable, in pass order
    QStringList errors;
    bool cancelled = false; ///< stopped before every record was tried; the untried ones remain
};

struct Options {
    FeaturePrintFn featurePrint;
    AutoOrganizer::MoveObserver* journal = nullptr; ///< told about each move before and after
};

/// The progress stage of a pass (one step per pair of folders).
inline const QString kStage = QStringLiteral("后处理");

inline const QString kTooFewFolders = QStringLiteral("可微调的文物文件夹不足两组，跳过");
inline const QString kPanelFolder = QStringLiteral("0 展板");
inline const QString kOtherTitle = QStringLiteral("其他");

/// Number and title of an exhibit folder's name; names without a readable leading ASCII number
/// get the largest 64-bit number so they sort after every numbered folder.
struct SortKey {
    std::int64_t number = 0;
    QString title;
    bool operator==(const SortKey&) const = default;
};
SortKey sortKey(const QString& folderName);

/// The exhibit folders of an organized root, in numbered order (no panel folder, no "其他").
std::vector<std::filesystem::path> relicFolders(const std::filesystem::path& root);

/// The label work unit of a folder: the first unit whose stem has a .json/.txt sidecar, else the
/// latest photograph (the earliest of equally late ones).
std::optional<MediaPipeline::WorkUnit> labelUnit(const std::vector<MediaPipeline::WorkUnit>& units,
                                                 const std::filesystem::path& folder);

/// The units of a folder photographed no later than its label (label and videos excluded), or
/// nothing after a warning line.
std::optional<std::vector<MediaPipeline::WorkUnit>> loadPack(const std::filesystem::path& folder,
                                                             const core::Log& log);

/// Moves a unit's files into `folder` under free names (the folder is re-read on every call).
std::vector<MoveRecord> moveUnit(const MediaPipeline::WorkUnit& unit, const std::filesystem::path& folder,
                                 const core::Log& log, QStringList& errors,
                                 AutoOrganizer::MoveObserver* journal = nullptr);

/// The whole pass, synchronously. Stops between photographs when cancelled, ending with the
/// cancellation line instead of the closing count.
RunResult refine(const std::filesystem::path& root, const core::RunContext& context, const Options& options);

/// What happened to one record during an undo.
enum class UndoOutcome { restored, dropped, failed };
using UndoObserver = std::function<void(size_t index, UndoOutcome)>;

/// Moves the recorded files back, last to first, without the closing count line.
UndoResult undoMoves(const std::vector<MoveRecord>& moves, const core::Log& log,
                     const UndoObserver& observer = {}, const std::function<bool()>& cancelled = {});
/// The closing line of an undo.
QString undoSummaryLine(const UndoResult& result);
/// undoMoves followed by the closing line.
UndoResult undo(const std::vector<MoveRecord>& moves, const core::Log& log);

} // namespace FeaturePrintRefiner
