#pragma once

// Naming one exhibit folder in place: classify its photographs, read the label card, save the
// label fields, rename the artifact photographs after the label, mark every file's role with
// stars, and rename the folder, keeping a leading serial.

#include "ai/VisionBackend.h"
#include "classify/Classification.h"
#include "core/Log.h"
#include "core/Progress.h"
#include "core/RelicLabelExtracted.h"
#include "labels/RatingWriter.h"

#include <QString>
#include <QStringList>

namespace AutoOrganizer {
class MoveObserver;
}

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace FolderProcessor {

/// Writes one star rating to one file: nothing on success, else the reason.
using RateFile = std::function<std::optional<QString>(int stars, const std::filesystem::path& file)>;

/// The files of each role, in the order they are rated.
struct RoleFiles {
    std::vector<std::filesystem::path> labels, panels, artifacts;
};

struct RunResult {
    std::filesystem::path folder; ///< the folder afterwards: its new path when it was renamed
    QStringList errors;           ///< in the order they arose; empty means full success
    int renamedCount = 0;         ///< artifact files renamed
    bool cancelled = false;       ///< stopped on request between files
};

struct RunOptions {
    bool useVisionPrefilter = true;
    QString model; ///< the model identifier shown on the "API：" line
    MediaPipeline::Probe probe = VisionTextProbe::containsAnyText;
    RateFile rate = [](int stars, const std::filesystem::path& file) {
        return RatingWriter::write(stars, file);
    };
    /// Told about every label file, rename and folder rename before it happens (the shoot's
    /// history); a step it cannot write down is not taken.
    AutoOrganizer::MoveObserver* observer = nullptr;
    int requestsInFlight = 1; ///< 1–32; more than one only with a backend that takes them
};

/// Stages of this run beside the shared ones, for the progress display.
namespace stage {
inline const QString rate = QStringLiteral("写星级");
inline const QString rename = QStringLiteral("重命名");
} // namespace stage

inline const QString kNoLabel = QStringLiteral("没有识别到标签图，停止命名");
inline const QString kNoLabelFields = QStringLiteral("标签字段全部抽取失败，停止命名");
inline const QString kEmptyTitle = QStringLiteral("标题为空，停止改名");
inline const QString kLinkedFolder = QStringLiteral("符号链接指向的文件夹不作为文物文件夹处理：%1");
inline const QString kLinkNotRated = QStringLiteral("符号链接不写星级：%1");
inline const QString kRenameFolderFailed = QStringLiteral("重命名文件夹失败：没有上级目录「%1」的写入权限");
/// {reason}: the system's, for any cause other than a missing write permission.
inline const QString kRenameFolderFailedBecause = QStringLiteral("重命名文件夹失败：%1");

/// What a failed folder rename tells the user: the permission text (kRenameFolderFailed with
/// the parent's name) for EACCES, EPERM and EROFS, else the system's reason for `error`.
QString renameFolderFailure(int error, const QString& parentName);

/// Names one folder in place. Never throws; every failure is a log line and, where it matters,
/// an error. Stops early without a label, without readable fields or title, and when cancelled
/// (checked between files; ratings and renames done so far stay).
RunResult run(const std::filesystem::path& folder, ai::VisionBackend& backend,
              const core::RunContext& context, const RunOptions& options = {});

/// Renames a folder within its parent without replacing anything there; the new path, or nothing
/// when the name is not one usable path component or the rename failed.
/// `error`, when given, receives the errno of a failure (EINVAL for an unusable name).
std::optional<std::filesystem::path> renameDirectory(const std::filesystem::path& from, const QString& toName,
                                                     int* error = nullptr);

/// Rates one file, logging "  写 {stars} 星：…" or the warning "写星级失败 …".
void rateFile(int stars, const std::filesystem::path& file, const RateFile& rate, const core::Log& log,
              QStringList& errors);

/// The closing pass: labels 1, panels 2, artifacts 3 stars again, for files that still exist.
/// False when cancelled before the end.
bool restampStars(const RoleFiles& files, const RateFile& rate, const core::RunContext& context,
                  QStringList& errors);

/// Folds a further label card into the first one: merges "其他" when both read the same object,
/// else keeps the first; logs which.
void mergeLabel(RelicLabelExtracted& first, const RelicLabelExtracted& next, const core::Log& log);

/// Writes "{stem}.json" and "{stem}.txt" of the label into the folder.
/// False when a file could not be written down in the history first (nothing was written then).
bool saveLabelFiles(const std::filesystem::path& folder, const std::string& stem,
                    const RelicLabelExtracted& label, const core::Log& log, QStringList& errors,
                    AutoOrganizer::MoveObserver* observer = nullptr);

/// Renames the artifact files after the title, unique within the folder; edit sidecars follow.
struct RenameResult {
    std::vector<std::filesystem::path> files; ///< each file's path afterwards, in order
    int renamed = 0;
    bool cancelled = false; ///< stopped before the last file; `files` holds those handled
};
RenameResult renameArtifacts(const std::filesystem::path& folder, const QString& title,
                             const std::vector<std::filesystem::path>& artifacts,
                             const core::RunContext& context, QStringList& errors,
                             AutoOrganizer::MoveObserver* observer = nullptr);

/// Renames the folder to its serial and the title; returns its path afterwards.
std::filesystem::path renameFolder(const std::filesystem::path& folder, const QString& title,
                                   const core::Log& log, QStringList& errors,
                                   AutoOrganizer::MoveObserver* observer = nullptr);

} // namespace FolderProcessor
