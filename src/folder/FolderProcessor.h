#pragma once

// Naming one exhibit folder in place: classify its photographs, read the label card, save the
// label fields, rename the artifact photographs after the label, mark every file's role with
// stars, and rename the folder, keeping a leading serial.

#include <QString>

#include <filesystem>
#include <optional>

namespace FolderProcessor {

inline const QString kRenameFolderFailed = QStringLiteral("重命名文件夹失败：没有上级目录「%1」的写入权限");

/// Renames a folder within its parent without replacing anything there; the new path, or nothing
/// when the name is not one usable path component or the rename failed.
std::optional<std::filesystem::path> renameDirectory(const std::filesystem::path& from,
                                                     const QString& toName);

} // namespace FolderProcessor
