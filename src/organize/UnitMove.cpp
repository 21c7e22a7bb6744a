#include "organize/UnitMove.h"

#include "core/Text.h"
#include "organize/AutoOrganizer.h"
#include "platform/FileSystem.h"

#include <cstring>
#include <string>

namespace AutoOrganizer {

std::optional<QString> safeMoveItem(const std::filesystem::path& from, const std::filesystem::path& to,
                                    const platform::MoveOps& ops) {
    const auto failure = platform::moveNoReplace(from, to, ops);
    if (!failure) return std::nullopt;
    if (failure->kind == platform::MoveFailure::Kind::destinationExists)
        return kDestinationExists.arg(core::displayName(to));
    return QStringLiteral("无法移动（%1）").arg(QString::fromLocal8Bit(std::strerror(failure->error)));
}
namespace {

/// Every upper/lower-case spelling of a short ASCII extension.
std::vector<std::string> spellings(const std::string& lower) {
    std::vector<std::string> out;
    for (unsigned mask = 0; mask < (1u << lower.size()); ++mask) {
        std::string s = lower;
        for (size_t i = 0; i < s.size(); ++i)
            if (mask & (1u << i)) s[i] = char(s[i] - 'a' + 'A');
        out.push_back(s);
    }
    return out;
}

bool isFile(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec));
}

} // namespace

std::vector<FileMove> editSidecars(const std::filesystem::path& photo,
                                   const std::filesystem::path& movedPhoto) {
    const std::filesystem::path dir = photo.parent_path(), newDir = movedPhoto.parent_path();
    const std::string stem = photo.filename().stem().native(), name = photo.filename().native();
    const std::string newStem = movedPhoto.filename().stem().native(),
                      newName = movedPhoto.filename().native();
    std::vector<FileMove> found;
    auto look = [&](const std::string& base, const std::string& newBase, const std::string& extension) {
        for (const std::string& spelled : spellings(extension)) {
            const std::filesystem::path sidecar = dir / (base + "." + spelled);
            if (sidecar != photo && isFile(sidecar))
                found.push_back({sidecar, newDir / (newBase + "." + spelled)});
        }
    };
    look(stem, newStem, "xmp");
    look(stem, newStem, "aae");
    look(name, newName, "xmp");
    return found;
}

int moveUnit(const std::vector<FileMove>& files, const FileMoved& moved, const core::Log& log,
             QStringList& errors) {
    int count = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const FileMove& file = files[i];
        // Looked up before the photo leaves, while they still sit beside it.
        const std::vector<FileMove> sidecars = editSidecars(file.from, file.to);
        const std::optional<QString> error = safeMoveItem(file.from, file.to);
        if (moved) moved(i, error);
        if (error) continue;
        ++count;
        for (const FileMove& sidecar : sidecars) {
            // On a case-insensitive card two spellings name one file, which has gone already.
            if (!platform::itemExists(sidecar.from)) continue;
            if (const auto stayed = safeMoveItem(sidecar.from, sidecar.to)) {
                const QString message = kSidecarStayed.arg(core::displayName(sidecar.from), *stayed);
                log(core::warning(message));
                errors << message;
            }
        }
    }
    return count;
}

} // namespace AutoOrganizer
