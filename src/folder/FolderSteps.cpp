#include "core/Text.h"
#include "folder/FolderProcessor.h"
#include "labels/Naming.h"
#include "organize/AutoOrganizer.h"
#include "organize/UnitMove.h"
#include "platform/FileSystem.h"

#include <QSet>

#include <cerrno>
#include <cstring>

namespace FolderProcessor {
namespace {

void report(core::Severity severity, const QString& message, const core::Log& log, QStringList& errors) {
    log({severity, message});
    errors << message;
}

} // namespace

void rateFile(int stars, const std::filesystem::path& file, const RateFile& rate, const core::Log& log,
              QStringList& errors) {
    const QString name = core::displayName(file);
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec))) {
        // Both ways of rating would write into the link's target, which may lie anywhere.
        log(core::skipped(kLinkNotRated.arg(name)));
        return;
    }
    if (const auto failure = rate(stars, file))
        report(core::Severity::warning, QStringLiteral("写星级失败 %1：%2").arg(name, *failure), log, errors);
    else
        log(QStringLiteral("  写 %1 星：%2").arg(QString::number(stars), name));
}

bool restampStars(const RoleFiles& files, const RateFile& rate, const core::RunContext& context,
                  QStringList& errors) {
    const struct {
        const std::vector<std::filesystem::path>& files;
        int stars;
        QString word;
    } groups[] = {{files.labels, 1, QStringLiteral("标签")},
                  {files.panels, 2, QStringLiteral("展板")},
                  {files.artifacts, 3, QStringLiteral("文物")}};
    const int count = int(files.labels.size() + files.panels.size() + files.artifacts.size());
    int index = 0;
    for (const auto& group : groups)
        for (const auto& file : group.files) {
            if (context.cancelled()) return false;
            const QString name = core::displayName(file);
            context.report(stage::rate, ++index, count, name);
            std::error_code ec;
            if (!platform::itemExists(file) ||
                std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec)))
                continue;
            const QString stars = QString::number(group.stars);
            if (const auto failure = rate(group.stars, file))
                report(core::Severity::warning,
                       QStringLiteral("收尾写%1星失败 %2：%3").arg(stars, name, *failure), context.log,
                       errors);
            else
                context.log(QStringLiteral("  收尾确认 %1 %2 星：%3").arg(group.word, stars, name));
        }
    return true;
}

void mergeLabel(RelicLabelExtracted& first, const RelicLabelExtracted& next, const core::Log& log) {
    const auto a = first.mergeSignature(), b = next.mergeSignature();
    if (!a || !b || *a != *b) {
        log(QStringLiteral("  与首张标签不一致，仍用首张结果命名"));
        return;
    }
    log(QStringLiteral("  与已有标签相同，合并「其他」"));
    if (next.other.isEmpty() || first.other.contains(next.other)) return;
    first.other = first.other.isEmpty() ? next.other : first.other + QLatin1Char('\n') + next.other;
}

bool saveLabelFiles(const std::filesystem::path& folder, const std::string& stem,
                    const RelicLabelExtracted& label, const core::Log& log, QStringList& errors,
                    AutoOrganizer::MoveObserver* observer) {
    const auto json = label.toJSONString();
    if (!json) return true;
    const std::string jsonName = stem + ".json", txtName = stem + ".txt";
    // The JSON file first; a failure of the text file leaves it in place.
    std::optional<int> error;
    for (const auto& [name, bytes] :
         {std::pair{jsonName, *json}, std::pair{txtName, label.toReadableTxt().toUtf8()}}) {
        const auto id = observer ? observer->willWrite(folder / name, bytes) : std::nullopt;
        if (observer && !id) return false;
        error = platform::writeFileAtomically(folder / name, bytes);
        if (id) observer->finished(*id, !error);
        if (error) break;
    }
    if (error) {
        report(core::Severity::failure,
               QStringLiteral("写入 json/txt 失败：%1").arg(QString::fromLocal8Bit(std::strerror(*error))),
               log, errors);
        return true;
    }
    log(QStringLiteral("已写入 %1 / %2").arg(core::displayPath(jsonName), core::displayPath(txtName)));
    return true;
}

RenameResult renameArtifacts(const std::filesystem::path& folder, const QString& title,
                             const std::vector<std::filesystem::path>& artifacts,
                             const core::RunContext& context, QStringList& errors,
                             AutoOrganizer::MoveObserver* observer) {
    const core::Log& log = context.log;
    QSet<QString> used;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        used.insert(core::displayName(it->path()));

    RenameResult result;
    const int count = int(artifacts.size());
    for (const auto& file : artifacts) {
        if (context.cancelled()) {
            result.cancelled = true;
            break;
        }
        const QString oldName = core::displayName(file);
        context.report(stage::rename, int(result.files.size()) + 1, count, oldName);
        used.remove(oldName);
        const QString newName = Naming::uniquify(Naming::artifactFileName(title, file), used);
        if (newName == oldName) {
            log(QStringLiteral("文物文件名已是目标：%1").arg(newName));
            result.files.push_back(file);
            continue;
        }
        const std::filesystem::path target = folder / core::toPath(newName);
        // Told before the sidecars follow, so that their warnings come after the rename's line.
        const auto told = [&](size_t, const std::optional<QString>& failure) {
            if (!failure) {
                log(QStringLiteral("重命名：%1 → %2").arg(oldName, newName));
                result.files.push_back(target);
                return;
            }
            report(core::Severity::failure, QStringLiteral("重命名失败 %1：%2").arg(oldName, *failure), log,
                   errors);
            // The file still holds its old name on disk; no later file may be moved onto it.
            used.insert(oldName);
            result.files.push_back(file);
        };
        const auto id = observer ? observer->willMove(file, target) : std::nullopt;
        if (observer && !id) {
            result.cancelled = true;
            break;
        }
        result.renamed += AutoOrganizer::moveUnit(
            {{file, target}},
            [&](size_t index, const std::optional<QString>& failure) {
                if (id) observer->finished(*id, !failure);
                told(index, failure);
            },
            log, errors);
    }
    return result;
}

std::filesystem::path renameFolder(const std::filesystem::path& folder, const QString& title,
                                   const core::Log& log, QStringList& errors,
                                   AutoOrganizer::MoveObserver* observer) {
    std::error_code ec;
    std::filesystem::path current = std::filesystem::absolute(folder, ec).lexically_normal();
    if (current.filename().empty()) current = current.parent_path();
    const QString oldName = core::displayName(current);
    const QString newName = Naming::folderName(Naming::leadingSerial(oldName), title);
    if (newName == oldName) {
        log(QStringLiteral("文件夹名已是目标：%1").arg(newName));
        return folder;
    }
    if (!newName.isEmpty() && platform::itemExists(current.parent_path() / core::toPath(newName))) {
        report(core::Severity::warning, QStringLiteral("目标文件夹已存在：%1，未改文件夹名").arg(newName),
               log, errors);
        return folder;
    }
    const std::filesystem::path target = current.parent_path() / core::toPath(newName);
    const auto id = observer && !newName.isEmpty() ? observer->willMoveFolder(current, target) : std::nullopt;
    if (observer && !newName.isEmpty() && !id) return folder;
    int error = 0;
    const auto renamed = renameDirectory(current, newName, &error);
    if (id) observer->finished(*id, bool(renamed));
    if (renamed) {
        log(QStringLiteral("文件夹：%1 → %2").arg(oldName, newName));
        return *renamed;
    }
    report(core::Severity::failure, renameFolderFailure(error, core::displayName(current.parent_path())), log,
           errors);
    return folder;
}

} // namespace FolderProcessor
