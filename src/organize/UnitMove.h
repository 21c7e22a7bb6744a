#pragma once

// The one operation that moves the files of a work unit. Photographers' RAW editors leave edit
// sidecars beside the photos (IMG_0457.xmp, IMG_0457.CR3.xmp, IMG_0457.AAE); they follow their
// photo and take its new name, so an edit is never separated from its picture.

#include "core/Log.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace AutoOrganizer {

/// A file and where it goes.
struct FileMove {
    std::filesystem::path from;
    std::filesystem::path to;
    bool operator==(const FileMove&) const = default;
};

/// Told after each file's move: nothing when it moved, else the error text.
using FileMoved = std::function<void(size_t index, const std::optional<QString>& error)>;

inline const QString kSidecarStayed = QStringLiteral("编辑附属文件未跟随移动 %1：%2");

/// Moves the files of one unit in order with the safe move; after each moved file, its edit
/// sidecars follow under its new name. A sidecar that cannot follow stays where it is, with a
/// "[警告] " line and an error text; sidecars never count as moves. Returns the files moved.
int moveUnit(const std::vector<FileMove>& files, const FileMoved& moved, const core::Log& log,
             QStringList& errors);

/// The edit sidecars beside `photo` ({stem}.xmp and {stem}.aae in any case, {name}.xmp), each
/// with its name beside `movedPhoto`: {new stem}.{ext}, {new name}.{ext}.
std::vector<FileMove> editSidecars(const std::filesystem::path& photo,
                                   const std::filesystem::path& movedPhoto);

} // namespace AutoOrganizer
