#include "core/Text.h"
#include "folder/FolderProcessor.h"
#include "platform/FileSystem.h"

namespace FolderProcessor {

std::optional<std::filesystem::path> renameDirectory(const std::filesystem::path& from,
                                                     const QString& toName) {
    if (toName.isEmpty() || toName == QLatin1String(".") || toName == QLatin1String("..") ||
        toName.contains(QLatin1Char('/')) || toName.contains(QChar(0)))
        return std::nullopt;
    // Absolute and without a trailing slash, so that "." or "dir/" have a parent to rename in.
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(from, ec).lexically_normal();
    if (ec) return std::nullopt;
    if (folder.filename().empty()) folder = folder.parent_path();
    const std::filesystem::path target = folder.parent_path() / core::toPath(toName);
    // No sandbox here: the direct rename is the only route, and it never replaces a sibling.
    if (platform::moveNoReplace(folder, target)) return std::nullopt;
    return target;
}

} // namespace FolderProcessor
