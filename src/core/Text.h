#pragma once

#include <QString>

#include <filesystem>

namespace core {

/// A path as text for display and logs. Bytes that are not UTF-8 become U+FFFD; the path
/// itself is always kept as std::filesystem::path so such files are still reachable.
QString displayPath(const std::filesystem::path& path);

/// The last path component as text.
QString displayName(const std::filesystem::path& path);

/// The path of a text (UTF-8) name, for building new files.
std::filesystem::path toPath(const QString& text);

/// Replaces control characters (line feeds in file names, say) with visible escapes so that
/// one record stays on one output line.
QString escapeControls(const QString& text);

} // namespace core
