#pragma once

// Naming one exhibit folder in place: classify its photographs, read the label card, save the
// label fields, rename the artifact photographs after the label, mark every file's role with
// stars, and rename the folder, keeping a leading serial.

#include "core/Log.h"
#include "labels/RelicLabelExtracted.h"

#include <QString>
#include <QStringList>

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

inline const QString kRenameFolderFailed = QStringLiteral("重命名文件夹失败：没有上级目录「%1」的写入权限");

/// Renames a folder within its parent without replacing anything there; the new path, or nothing
/// when the name is not one usable path component or the rename failed.
std::optional<std::filesystem::path> renameDirectory(const std::filesystem::path& from,
                                                     const QString& toName);

/// Rates one file, logging "  写 {stars} 星：…" or the warning "写星级失败 …".
void rateFile(int stars, const std::filesystem::path& file, const RateFile& rate, const core::Log& log,
              QStringList& errors);

/// The closing pass: labels 1, panels 2, artifacts 3 stars again, for files that still exist.
void restampStars(const RoleFiles& files, const RateFile& rate, const core::Log& log, QStringList& errors);

/// Folds a further label card into the first one: merges "其他" when both read the same object,
/// else keeps the first; logs which.
void mergeLabel(RelicLabelExtracted& first, const RelicLabelExtracted& next, const core::Log& log);

/// Writes "{stem}.json" and "{stem}.txt" of the label into the folder.
void saveLabelFiles(const std::filesystem::path& folder, const std::string& stem,
                    const RelicLabelExtracted& label, const core::Log& log, QStringList& errors);

/// Renames the artifact files after the title, unique within the folder; edit sidecars follow.
/// Returns each file's path afterwards (new, or unchanged when it stayed). `moved` counts renames.
std::vector<std::filesystem::path> renameArtifacts(const std::filesystem::path& folder, const QString& title,
                                                   const std::vector<std::filesystem::path>& artifacts,
                                                   const core::Log& log, QStringList& errors,
                                                   int* moved = nullptr);

/// Renames the folder to its serial and the title; returns its path afterwards.
std::filesystem::path renameFolder(const std::filesystem::path& folder, const QString& title,
                                   const core::Log& log, QStringList& errors);

} // namespace FolderProcessor
