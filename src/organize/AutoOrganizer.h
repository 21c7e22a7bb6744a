#pragma once

// Organizing a shoot by capture time: scan, classify, plan one folder per exhibit around its
// label card, then create the folders, save the label fields and move the photographs.

#include "ai/AIConfig.h"
#include "classify/Classification.h"
#include "core/Log.h"
#include "intake/ImageScanner.h"
#include "labels/RelicLabelExtracted.h"
#include "platform/FileSystem.h"

#include <QStringList>

#include <filesystem>
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
};

/// Hears about every step a run takes on disk, before it happens and after (move journals listen
/// here, so that a run can be undone even when it was killed half-way).
class MoveObserver {
  public:
    virtual ~MoveObserver() = default;
    /// Returns an id for finished(), or nothing when the step could not be written down.
    virtual std::optional<qint64> willMove(const std::filesystem::path& from,
                                           const std::filesystem::path& to) = 0;
    virtual std::optional<qint64> willWrite(const std::filesystem::path& file, const QByteArray& bytes) = 0;
    virtual void finished(qint64 id, bool succeeded) = 0;
    virtual void createdFolder(const std::filesystem::path& folder) = 0;
};

struct RunOptions {
    bool useVisionPrefilter = true;
    bool dryRun = false; ///< plan (classification and label reading included), move nothing
    MediaPipeline::Probe probe = VisionTextProbe::containsAnyText;
    MoveObserver* observer = nullptr; ///< told about every folder, label file and move
};

inline const QString kPanelFolder = QStringLiteral("0 展板");
inline const QString kNoMedia = QStringLiteral("目录中没有可处理的媒体文件");
inline const QString kDestinationExists = QStringLiteral("目标已存在：%1");

/// The application's only file move: never replaces what is at the destination. Nothing on
/// success, else the error text ("目标已存在：{name}" when the destination is taken).
std::optional<QString> safeMoveItem(const std::filesystem::path& from, const std::filesystem::path& to,
                                    const platform::MoveOps& ops = platform::MoveOps::system());

/// `name` when it is not in `used`, else the first free {stem}-2.{ext}, {stem}-3.{ext}, … ({stem}-k
/// without an extension); the chosen name is added to `used`. Names compare byte for byte.
std::filesystem::path uniqueName(const std::filesystem::path& name, std::set<std::string>& used);

/// A folder name made from label text, fitted to one path component of at most 255 bytes: the
/// title after the serial is shortened (never the serial), and "." or ".." cannot result.
QString fitFolderName(const QString& name);

/// Turns the classified stream into planned folders (reads every label card through the model).
PlanResult planGroups(const std::vector<MediaPipeline::ClassifiedItem>& classified,
                      const ai::AISettings& config, const core::Log& log);

/// Carries the plan out inside `folder`; appends failures to `errors`; returns files moved.
int executeMoves(const std::filesystem::path& folder, const std::vector<PlannedGroup>& groups,
                 const core::Log& log, QStringList& errors, MoveObserver* observer = nullptr);

/// The whole organize run.
RunResult run(const std::filesystem::path& folder, const ai::AISettings& config, const core::Log& log,
              const RunOptions& options = {});

} // namespace AutoOrganizer
