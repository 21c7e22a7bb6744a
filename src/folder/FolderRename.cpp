#include "core/Text.h"
#include "folder/FolderProcessor.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>

namespace FolderProcessor {

QString renameFolderFailure(int error, const QString& parentName) {
    if (error == EACCES || error == EPERM || error == EROFS) return kRenameFolderFailed.arg(parentName);
    return kRenameFolderFailedBecause.arg(QString::fromLocal8Bit(std::strerror(error)));
}

std::optional<std::filesystem::path> renameDirectory(const std::filesystem::path& from, const QString& toName,
                                                     int* error) {
    const auto fail = [error](int code) -> std::optional<std::filesystem::path> {
        if (error) *error = code;
        return std::nullopt;
    };
    if (toName.isEmpty() || toName == QLatin1String(".") || toName == QLatin1String("..") ||
        toName.contains(QLatin1Char('/')) || toName.contains(QChar(0)))
        return fail(EINVAL);
    // Absolute and without a trailing slash, so that "." or "dir/" have a parent to rename in.
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(from, ec).lexically_normal();
    if (ec) return fail(ec.value());
    if (folder.filename().empty()) folder = folder.parent_path();
    const std::filesystem::path target = folder.parent_path() / core::toPath(toName);
    // No sandbox here: the direct rename is the only route, and it never replaces a sibling.
    if (const auto failure = platform::moveNoReplace(folder, target))
        return fail(failure->error != 0 ? failure->error : EIO);
    return target;
}

} // namespace FolderProcessor
