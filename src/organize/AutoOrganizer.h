#pragma once

// Organizing a shoot by capture time: scan, classify, plan one folder per exhibit around its
// label card, then create the folders, save the label fields and move the photographs.

#include "ai/VisionBackend.h"
#include "classify/Classification.h"
#include "core/Log.h"
#include "core/Progress.h"
#include "core/RelicLabelExtracted.h"
#include "intake/ImageScanner.h"
#include "platform/FileSystem.h"

#include <QStringList>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace AutoOrganizer {

/// One planned output folder.
struct PlannedGroup {
    QString folderName;
    std::vector<ImageScanner::ImageInfo> files; ///< in placement order
    std::optional<RelicLabelExtracted> labelExtracted;
    bool isPanelFolder = false;
    bool mergedIntoExisting = false;
};

struct PlanResult {
    std::vector<PlannedGroup> groups;
    QStringList errors;
};

struct RunResult {
    std::vector<PlannedGroup> groups;
    int movedCount = 0;
    QStringList errors;
    bool cancelled = false; ///< stopped on request; every file is in exactly one place
    bool refused = false;   ///< not started: its history could not be written
    /// The classified stream the plan was made from (empty for a run of a saved plan).
    std::vector<MediaPipeline::ClassifiedItem> classified;
};

/// Hears about every step a run takes on disk, before it happens and after (the shoot's history
/// listens here, so that a run can be undone even when it was killed half-way). A step that could
/// not be written down is not taken: the run stops there.
class MoveObserver {
  public:
    virtual ~MoveObserver() = default;
    /// Returns an id for finished(), or nothing when the step could not be written down.
    virtual std::optional<qint64> willMove(const std::filesystem::path& from,
                                           const std::filesystem::path& to) = 0;
    /// A folder renamed or moved as a whole.
    virtual std::optional<qint64> willMoveFolder(const std::filesystem::path& from,
                                                 const std::filesystem::path& to) {
        return willMove(from, to);
    }
    virtual std::optional<qint64> willWrite(const std::filesystem::path& file, const QByteArray& bytes) = 0;
    /// An extended attribute about to be set on a file.
    virtual std::optional<qint64> willSetAttribute(const std::filesystem::path& file,
                                                   const std::string& name) {
        Q_UNUSED(file);
        Q_UNUSED(name);
        return 0;
    }
    virtual void finished(qint64 id, bool succeeded) = 0;
    /// A folder about to be created (it does not exist yet); false when it could not be written down.
    virtual bool willCreateFolder(const std::filesystem::path& folder) = 0;
};

struct RunOptions {
    bool useVisionPrefilter = true;
    bool dryRun = false;              ///< plan (classification and label reading included), move nothing
    MediaPipeline::Probe probe{};     ///< empty: the on-device probe
    MoveObserver* observer = nullptr; ///< told about every folder, label file and move
    int requestsInFlight = 1;         ///< 1–32; more than one only with a backend that takes them
};

inline const QString kPanelFolder = QStringLiteral("0 展板");
inline const QString kDestinationExists = QStringLiteral("目标已存在：%1");
/// A label's .json/.txt that could not be written: {file}, {reason}.
inline const QString kLabelFileWarning = QStringLiteral("无法写入标签文件 %1：%2");
/// Relative symbolic links would point nowhere one folder down: {count}, {names}.
inline const QString kLinksLeftInPlace = QStringLiteral("%1 个相对符号链接留在原处（移动后会失效）：%2");

/// The application's only file move: never replaces what is at the destination. Nothing on
/// success, else the error text ("目标已存在：{name}" when the destination is taken).
std::optional<QString> safeMoveItem(const std::filesystem::path& from, const std::filesystem::path& to,
                                    const platform::MoveOps& ops = platform::MoveOps::system());

/// `name` when it is not in `used`, else the first free {stem}-2.{ext}, {stem}-3.{ext}, … ({stem}-k
/// without an extension); the chosen name is added to `used`. Names compare byte for byte.
std::filesystem::path uniqueName(const std::filesystem::path& name, std::set<std::string>& used);

/// What reading one label card gave: its fields (with the persistence defaults applied), or the
/// error text "字段抽取失败 {file}：{error}".
struct LabelRead {
    std::optional<RelicLabelExtracted> record;
    QString error;
};

/// Builds the plan one label at a time, so that a run can read each label card just before the
/// planner needs it and the log tells the story in order. No I/O: only the log callback.
class GroupPlanner {
  public:
    /// Takes the panels out (logging "展板 …") and orders the labels by capture time.
    GroupPlanner(const std::vector<MediaPipeline::ClassifiedItem>& classified, const core::Log& log);
    /// The labels, in the order their reads must be added.
    const std::vector<MediaPipeline::ClassifiedItem>& labels() const { return m_labels; }
    /// The read of the next label: opens its folder or merges it into an earlier one.
    void addLabel(const LabelRead& read);
    /// The leftover folder, then the plan.
    PlanResult finish();
    /// The failed reads so far.
    const QStringList& errors() const { return m_result.errors; }

  private:
    core::Log m_log;
    std::vector<MediaPipeline::ClassifiedItem> m_stream;
    std::vector<MediaPipeline::ClassifiedItem> m_labels;
    size_t m_next = 0;
    int m_serial = 1;
    std::set<std::filesystem::path> m_assigned;
    std::map<QString, size_t> m_mergeMap;
    PlanResult m_result;
};

/// The plan as a pure function of the classified stream and the label reads (one per label, in
/// the order of GroupPlanner::labels()).
PlanResult planGroups(const std::vector<MediaPipeline::ClassifiedItem>& classified,
                      const std::vector<LabelRead>& reads, const core::Log& log);

/// Reads the label cards in order, logging "抽取标签字段：…" before each and its fields or
/// failure after, and hands each read to `onRead` as it arrives. The next card is prepared while
/// a request is in flight; with several slots, later cards are read while earlier ones are in
/// flight, their lines still written in turn. False when cancelled before the last one.
///
/// `early` holds reads already sent while classification went on; a card found there is not sent
/// again.
class EarlyReads;
bool readLabels(const std::vector<MediaPipeline::ClassifiedItem>& labels, ai::VisionBackend& backend,
                const core::RunContext& context, const std::function<void(const LabelRead&)>& onRead,
                ai::RequestSlots* requests = nullptr, EarlyReads* early = nullptr);

/// Label cards read as soon as their classification came back, with several requests in flight
/// (the reads are written to the log later, in their turn). Safe to use from many threads.
class EarlyReads {
  public:
    /// The read for `classify`'s afterReply: reads every photo classified as a label card.
    MediaPipeline::AfterReply reader(ai::VisionBackend& backend, ai::RequestSlots& requests,
                                     const core::CancelToken& cancel);
    struct Read {
        core::Result<RelicLabelExtracted> extracted;
        QStringList warnings; ///< busy replies that were tried again
    };
    /// The read of this photo, once; nothing when it was not read early.
    std::optional<Read> take(const std::filesystem::path& photo);

  private:
    std::mutex m_mutex;
    std::map<std::filesystem::path, Read> m_reads;
};

struct ExecuteResult {
    int moved = 0;
    bool cancelled = false;
};

/// Carries the plan out inside `folder`; appends failures to `errors`. Checks for cancellation
/// between files; a move that has started completes.
ExecuteResult executeMoves(const std::filesystem::path& folder, const std::vector<PlannedGroup>& groups,
                           const core::RunContext& context, QStringList& errors,
                           MoveObserver* observer = nullptr);

/// Lists a plan: "—— 规划结果 ——", then each folder and its files.
void logPlan(const std::vector<PlannedGroup>& groups, const core::Log& log);

/// Carries out a plan made earlier (by this run or saved and edited) and ends the run's log with
/// its closing count, or "[取消] 已停止：…". `result` holds the groups and the errors so far.
void carryOut(const std::filesystem::path& folder, RunResult& result, const core::RunContext& context,
              MoveObserver* observer);

/// The whole organize run. When cancelled it ends with "[取消] 已停止：…" instead of the
/// closing count.
RunResult run(const std::filesystem::path& folder, ai::VisionBackend& backend,
              const core::RunContext& context, const RunOptions& options = {});

} // namespace AutoOrganizer
