// Carrying out a plan: folders made, label files written, every file moved by the safe move.

#include "organize/AutoOrganizer.h"

#include "core/Text.h"
#include "organize/UnitMove.h"

#include <cstring>
#include <set>

namespace AutoOrganizer {

using ImageScanner::ImageInfo;
using MediaPipeline::ClassifiedItem;
using MediaPipeline::WorkUnit;

namespace {

std::vector<PlannedGroup> foldSameNames(const std::vector<PlannedGroup>& groups) {
    std::vector<PlannedGroup> folded;
    std::map<QString, size_t> index;
    for (const auto& group : groups) {
        const auto it = index.find(group.folderName);
        if (it == index.end()) {
            index[group.folderName] = folded.size();
            folded.push_back(group);
            continue;
        }
        PlannedGroup& first = folded[it->second];
        first.files.insert(first.files.end(), group.files.begin(), group.files.end());
        if (!first.labelExtracted) first.labelExtracted = group.labelExtracted;
    }
    return folded;
}

bool isUsableComponent(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

} // namespace

namespace {

/// The label's fields beside its photographs; a failed write is not an error of the run, but the
/// user is told, since the read cost a request. False when a write could not be written down
/// first (the run stops).
bool writeLabelFiles(const std::filesystem::path& target, const PlannedGroup& group, const core::Log& log,
                     MoveObserver* observer) {
    auto sidecar = std::find_if(group.files.begin(), group.files.end(),
                                [](const ImageInfo& i) { return i.fileType != ImageInfo::ImageType::video; });
    if (sidecar == group.files.end()) sidecar = group.files.begin();
    const std::string stem = sidecar->path.filename().stem().native();
    const auto json = group.labelExtracted->toJSONString();
    if (!json) return true;
    const std::pair<std::filesystem::path, QByteArray> files[] = {
        {target / (stem + ".json"), *json},
        {target / (stem + ".txt"), group.labelExtracted->toReadableTxt().toUtf8()},
    };
    for (const auto& [path, bytes] : files) {
        const auto id = observer ? observer->willWrite(path, bytes) : std::nullopt;
        if (observer && !id) return false;
        const auto error = platform::writeFileAtomically(path, bytes);
        if (id) observer->finished(*id, !error);
        if (error)
            log(core::warning(kLabelFileWarning.arg(core::displayName(path),
                                                    QString::fromLocal8Bit(std::strerror(*error)))));
    }
    return true;
}

/// A symbolic link whose target is written relative to its own folder.
bool isRelativeLink(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) return false;
    const auto target = std::filesystem::read_symlink(path, ec);
    return !ec && target.is_relative();
}

/// Relative links stay where they are (one folder down they would point nowhere), with one line.
std::set<std::filesystem::path> linksLeftInPlace(const std::vector<PlannedGroup>& groups,
                                                 const core::Log& log) {
    std::set<std::filesystem::path> links;
    QStringList names;
    for (const PlannedGroup& group : groups)
        for (const ImageInfo& file : group.files)
            if (isRelativeLink(file.path) && links.insert(file.path).second) names << file.fileName;
    if (!links.empty())
        log(core::warning(kLinksLeftInPlace.arg(links.size()).arg(names.join(QStringLiteral("、")))));
    return links;
}

} // namespace

ExecuteResult executeMoves(const std::filesystem::path& folder, const std::vector<PlannedGroup>& groups,
                           const core::RunContext& context, QStringList& errors, MoveObserver* observer) {
    const core::Log& log = context.log;
    ExecuteResult result;
    const std::vector<PlannedGroup> folded = foldSameNames(groups);
    // A run that was killed may have left a temporary file of ours in an exhibit folder.
    for (const PlannedGroup& group : folded)
        if (isUsableComponent(group.folderName))
            platform::removeStaleTemporaries(folder / core::toPath(group.folderName));

    const std::set<std::filesystem::path> links = linksLeftInPlace(folded, log);
    int total = 0, done = 0;
    for (const PlannedGroup& group : folded)
        total += int(group.files.size());
    // A step the history could not write down is not taken: the run stops as a cancel does.
    const auto stopForJournal = [&result] {
        result.cancelled = true;
        return result;
    };
    for (const PlannedGroup& group : folded) {
        if (context.cancelled()) {
            result.cancelled = true;
            break;
        }
        const QString& name = group.folderName;
        auto fail = [&](const QString& message) {
            log(core::failure(message));
            errors << message;
        };
        if (!isUsableComponent(name)) {
            fail(QStringLiteral("创建文件夹失败 %1：文件夹名称无效").arg(name));
            done += int(group.files.size());
            continue;
        }
        const std::filesystem::path target = folder / core::toPath(name);
        std::error_code ec;
        // Announced before it exists, so that a kill right after leaves no folder unrecorded.
        if (observer && !platform::itemExists(target) && !observer->willCreateFolder(target))
            return stopForJournal();
        std::filesystem::create_directories(target, ec);
        if (ec || !std::filesystem::is_directory(target)) {
            const QString reason =
                ec ? QString::fromLocal8Bit(ec.message().c_str()) : QStringLiteral("已有同名文件");
            fail(QStringLiteral("创建文件夹失败 %1：%2").arg(name, reason));
            done += int(group.files.size());
            continue;
        }
        log(QStringLiteral("创建：") + name);

        if (group.labelExtracted && !group.isPanelFolder && !group.files.empty() &&
            !writeLabelFiles(target, group, log, observer))
            return stopForJournal();

        std::set<std::string> used;
        for (const ImageInfo& file : group.files) {
            if (context.cancelled()) {
                result.cancelled = true;
                break;
            }
            context.report(core::stage::move, ++done, total, file.fileName);
            const std::filesystem::path targetName = uniqueName(file.path.filename(), used);
            if (!platform::itemExists(file.path)) {
                log(core::skipped(QStringLiteral("源文件不存在：") + file.fileName));
                continue;
            }
            if (links.count(file.path)) continue;
            const auto id = observer ? observer->willMove(file.path, target / targetName) : std::nullopt;
            if (observer && !id) return stopForJournal();
            // Edit sidecars follow the photo; they are not counted as moves.
            result.moved += moveUnit(
                {{file.path, target / targetName}},
                [&](size_t, const std::optional<QString>& error) {
                    if (id) observer->finished(*id, !error);
                    if (error) fail(QStringLiteral("移动失败 %1：%2").arg(file.fileName, *error));
                },
                log, errors);
        }
        if (result.cancelled) break;
    }
    return result;
}

} // namespace AutoOrganizer
