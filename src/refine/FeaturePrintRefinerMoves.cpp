// Moving a photograph back with its companions, and undoing the moves.

#include "refine/FeaturePrintRefiner.h"

#include "core/Text.h"
#include "organize/AutoOrganizer.h"
#include "organize/UnitMove.h"
#include "platform/FileSystem.h"

namespace FeaturePrintRefiner {

using ImageScanner::ImageInfo;
using MediaPipeline::WorkUnit;
namespace fs = std::filesystem;

namespace {

std::set<std::string> existingNames(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().native());
    return names;
}

} // namespace

std::vector<MoveRecord> moveUnit(const WorkUnit& unit, const fs::path& folder, const core::Log& log,
                                 QStringList& errors, AutoOrganizer::MoveObserver* journal) {
    std::set<std::string> used = existingNames(folder);
    std::vector<const ImageInfo*> files{&unit.primary};
    for (const ImageInfo& companion : unit.companions)
        files.push_back(&companion);
    std::vector<MoveRecord> records;
    for (const ImageInfo* file : files) {
        const fs::path target = folder / AutoOrganizer::uniqueName(file->path.filename(), used);
        if (!platform::itemExists(file->path)) {
            log(core::skipped(QStringLiteral("源文件不存在：") + file->fileName, 2));
            continue;
        }
        const auto entry = journal ? journal->willMove(file->path, target) : std::nullopt;
        // A move the history could not write down is not made; the pass stops at its next check.
        if (journal && !entry) break;
        // Edit sidecars follow the photo under its new name; they are not records of their own.
        std::optional<QString> error;
        AutoOrganizer::moveUnit(
            {{file->path, target}},
            [&](size_t, const std::optional<QString>& failure) {
                error = failure;
                if (entry) journal->finished(*entry, !failure);
            },
            log, errors);
        if (error) {
            const QString message = QStringLiteral("后处理移动失败 %1：%2").arg(file->fileName, *error);
            log(core::failure(message));
            errors << message;
            continue;
        }
        records.push_back({file->path, target});
    }
    return records;
}

UndoResult undoMoves(const std::vector<MoveRecord>& moves, const core::Log& log, const UndoObserver& observer,
                     const std::function<bool()>& cancelled) {
    UndoResult result;
    std::vector<bool> remains(moves.size(), true);
    auto fail = [&](const QString& message) {
        log(core::failure(message));
        result.errors << message;
    };
    for (size_t k = moves.size(); k-- > 0;) {
        if (cancelled && cancelled()) {
            result.cancelled = true;
            break;
        }
        const MoveRecord& record = moves[k];
        const QString name = core::displayName(record.toPath);
        const fs::path fromFolder = record.fromPath.parent_path();
        UndoOutcome outcome = UndoOutcome::failed;
        std::error_code ec;
        const bool folder = fs::is_directory(fs::symlink_status(record.toPath, ec));
        if (!platform::itemExists(record.toPath) && platform::itemExists(record.fromPath)) {
            // Put back already, by an undo that was stopped before it could write that down.
            ++result.restored;
            log(QStringLiteral("  [撤销] %1 → %2/（已在原处）").arg(name, core::displayName(fromFolder)));
            outcome = UndoOutcome::restored;
        } else if (!platform::itemExists(record.toPath)) {
            const QString message = QStringLiteral("撤销跳过（目标已不在）：") + name;
            log(core::warning(message));
            result.errors << message;
            outcome = UndoOutcome::dropped;
        } else if (!platform::itemExists(fromFolder)) {
            fail(QStringLiteral("撤销失败（原文件夹不存在）：") + core::displayName(fromFolder));
        } else {
            // Through the unit move, so edit sidecars that followed the photo come back with it.
            std::optional<QString> error;
            if (folder)
                // A renamed folder comes back as a whole; sidecars belong to photos only.
                error = AutoOrganizer::safeMoveItem(record.toPath, record.fromPath);
            else
                AutoOrganizer::moveUnit(
                    {{record.toPath, record.fromPath}},
                    [&](size_t, const std::optional<QString>& failure) { error = failure; }, log,
                    result.errors);
            if (error) {
                fail(QStringLiteral("撤销失败 %1：%2").arg(name, *error));
            } else {
                ++result.restored;
                log(QStringLiteral("  [撤销] %1 → %2/").arg(name, core::displayName(fromFolder)));
                outcome = UndoOutcome::restored;
            }
        }
        remains[k] = outcome == UndoOutcome::failed;
        if (observer) observer(k, outcome);
    }
    for (size_t k = 0; k < moves.size(); ++k)
        if (remains[k]) result.remaining.push_back(moves[k]);
    return result;
}

QString undoSummaryLine(const UndoResult& result) {
    return QStringLiteral("撤销结束。恢复 %1 个文件，剩余 %2 条，错误 %3 条。")
        .arg(result.restored)
        .arg(result.remaining.size())
        .arg(result.errors.size());
}

UndoResult undo(const std::vector<MoveRecord>& moves, const core::Log& log) {
    UndoResult result = undoMoves(moves, log);
    log(undoSummaryLine(result));
    return result;
}

} // namespace FeaturePrintRefiner
