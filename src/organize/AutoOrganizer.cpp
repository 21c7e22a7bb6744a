#include "organize/AutoOrganizer.h"

#include "core/Dates.h"
#include "core/InOrder.h"
#include "core/Text.h"
#include "intake/WorkUnits.h"
#include "labels/Naming.h"
#include "organize/UnitMove.h"

#include <cstring>
#include <future>
#include <map>
#include <set>

namespace AutoOrganizer {

using ImageScanner::ImageInfo;
using MediaPipeline::ClassifiedItem;
using MediaPipeline::WorkUnit;

std::optional<QString> safeMoveItem(const std::filesystem::path& from, const std::filesystem::path& to,
                                    const platform::MoveOps& ops) {
    const auto failure = platform::moveNoReplace(from, to, ops);
    if (!failure) return std::nullopt;
    if (failure->kind == platform::MoveFailure::Kind::destinationExists)
        return kDestinationExists.arg(core::displayName(to));
    return QStringLiteral("无法移动（%1）").arg(QString::fromLocal8Bit(std::strerror(failure->error)));
}

std::filesystem::path uniqueName(const std::filesystem::path& name, std::set<std::string>& used) {
    if (used.insert(name.native()).second) return name;
    const std::string stem = name.stem().native();
    const std::string ext = name.extension().native();
    for (int k = 2;; ++k) {
        const std::string candidate = stem + "-" + std::to_string(k) + ext;
        if (used.insert(candidate).second) return candidate;
    }
}

namespace {

std::string stemOf(const ImageInfo& info) {
    return info.path.filename().stem().native();
}

bool hasStem(const WorkUnit& unit, const std::string& stem) {
    if (stemOf(unit.primary) == stem) return true;
    for (const auto& c : unit.companions)
        if (stemOf(c) == stem) return true;
    return false;
}

/// date ≤ limit, an absent date counting as the earliest and an absent limit as the latest.
bool notLaterThan(const std::optional<QDateTime>& date, const std::optional<QDateTime>& limit) {
    if (!date || !limit) return true;
    return *date <= *limit;
}

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

/// The unit's primary and companions not yet placed, appended in that order and marked placed.
void appendUnit(const WorkUnit& unit, std::vector<ImageInfo>& files,
                std::set<std::filesystem::path>& assigned) {
    auto add = [&](const ImageInfo& info) {
        if (assigned.insert(info.path).second) files.push_back(info);
    };
    add(unit.primary);
    for (const auto& companion : unit.companions)
        add(companion);
}

} // namespace

GroupPlanner::GroupPlanner(const std::vector<ClassifiedItem>& classified, const core::Log& log) : m_log(log) {
    // Panels: all into one folder, in input order.
    std::vector<ImageInfo> panelFiles;
    for (const auto& item : classified) {
        if (item.category != MediaCategory::panel) {
            m_stream.push_back(item);
            continue;
        }
        panelFiles.push_back(item.unit.primary);
        panelFiles.insert(panelFiles.end(), item.unit.companions.begin(), item.unit.companions.end());
    }
    if (!panelFiles.empty()) {
        const size_t count = panelFiles.size();
        m_result.groups.push_back(
            PlannedGroup{kPanelFolder, std::move(panelFiles), std::nullopt, true, false});
        m_log(QStringLiteral("展板 %1 个文件 → %2").arg(count).arg(kPanelFolder));
    }
    // Labels, by capture time.
    std::copy_if(m_stream.begin(), m_stream.end(), std::back_inserter(m_labels),
                 [](const ClassifiedItem& i) { return i.category == MediaCategory::label; });
    std::stable_sort(m_labels.begin(), m_labels.end(), [](const ClassifiedItem& a, const ClassifiedItem& b) {
        return core::earlierCapture(a.unit.primary.creationDate, b.unit.primary.creationDate);
    });
}

void GroupPlanner::addLabel(const LabelRead& read) {
    if (m_next >= m_labels.size()) return;
    const ClassifiedItem& label = m_labels[m_next++];
    if (!read.record) m_result.errors << read.error;
    const std::optional<RelicLabelExtracted>& record = read.record;
    auto placed = [&](const ImageInfo& info) { return m_assigned.count(info.path) > 0; };

    std::vector<ImageInfo> files;
    appendUnit(label.unit, files, m_assigned);
    // The artifacts shot before the label (an undated label takes every one still free).
    const auto& limit = label.unit.primary.creationDate;
    for (const auto& item : m_stream) {
        if (placed(item.unit.primary) || item.category == MediaCategory::label) continue;
        if (notLaterThan(item.unit.primary.creationDate, limit)) appendUnit(item.unit, files, m_assigned);
    }
    // Anything shot under the label's own file stem, whatever its kind or time.
    const std::string stem = stemOf(label.unit.primary);
    for (const auto& item : m_stream) {
        if (placed(item.unit.primary)) continue;
        if (hasStem(item.unit, stem)) appendUnit(item.unit, files, m_assigned);
    }

    const std::optional<QString> signature = record ? record->mergeSignature() : std::nullopt;
    if (signature && m_mergeMap.count(*signature)) {
        PlannedGroup& existing = m_result.groups[m_mergeMap[*signature]];
        existing.files.insert(existing.files.end(), files.begin(), files.end());
        existing.mergedIntoExisting = true;
        m_log(QStringLiteral("与已有标签相同 → 并入 %1").arg(existing.folderName));
        return;
    }
    const QString serialText = QString::number(m_serial);
    const QString name = Naming::fitFolderName(record ? record->newFolderName(serialText)
                                                      : serialText + QStringLiteral(" 未识别标签"));
    const size_t fileCount = files.size();
    m_result.groups.push_back(PlannedGroup{name, std::move(files), record, false, false});
    if (signature) m_mergeMap[*signature] = m_result.groups.size() - 1;
    ++m_serial;
    m_log(QStringLiteral("新组：%1（%2 个文件）").arg(name, QString::number(fileCount)));
}

PlanResult GroupPlanner::finish() {
    // What is left after the last label.
    std::vector<ImageInfo> leftovers;
    for (const auto& item : m_stream)
        if (!m_assigned.count(item.unit.primary.path)) appendUnit(item.unit, leftovers, m_assigned);
    if (!leftovers.empty()) {
        const QString name = QString::number(m_serial) + QStringLiteral(" 其他");
        const size_t count = leftovers.size();
        m_result.groups.push_back(PlannedGroup{name, std::move(leftovers), std::nullopt, false, false});
        m_log(QStringLiteral("剩余 %1 个 → %2").arg(count).arg(name));
    }
    return std::move(m_result);
}

PlanResult planGroups(const std::vector<ClassifiedItem>& classified, const std::vector<LabelRead>& reads,
                      const core::Log& log) {
    GroupPlanner planner(classified, log);
    for (const auto& read : reads)
        planner.addLabel(read);
    return planner.finish();
}

namespace {

using Extracted = core::Result<RelicLabelExtracted>;

/// A card prepared for its read, with what its classification found on it.
core::Result<ai::PreparedPhoto> prepareCard(const ai::VisionBackend& backend, const ClassifiedItem& card) {
    auto prepared = backend.prepare(card.unit.primary.path);
    if (prepared) ai::adoptFound(*prepared, card.found);
    return prepared;
}

Extracted readPrepared(ai::VisionBackend& backend, const ImageInfo& primary,
                       const core::Result<ai::PreparedPhoto>& prepared) {
    if (!prepared) return core::Error{ai::kImagePrepareFailed + prepared.error().description()};
    return backend.readLabel(primary.path, *prepared);
}

/// Writes one card's lines, in the order of one read after another, and hands the read over;
/// `ask` reads it (or hands over a read sent ahead).
void recordLabel(int i, int m, const ImageInfo& primary, const std::function<Extracted()>& ask,
                 const core::RunContext& context, const std::function<void(const LabelRead&)>& onRead) {
    const QString& file = primary.fileName;
    context.report(core::stage::readLabels, i + 1, m, file);
    context.log(
        QStringLiteral("抽取标签字段：%1 (%2/%3)").arg(file, QString::number(i + 1), QString::number(m)));
    const Extracted extracted = ask();
    LabelRead read;
    if (!extracted) {
        read.error = QStringLiteral("字段抽取失败 %1：%2").arg(file, extracted.error().description());
        context.log(core::failure(read.error));
    } else {
        read.record = extracted->withPersistenceDefaultsForAIOutput();
        context.log(QStringLiteral("  名称=%1 来源=%2 年代=%3")
                        .arg(read.record->name, read.record->source, read.record->period));
    }
    onRead(read);
}

/// A card read ahead of its turn.
struct ReadAhead {
    std::optional<Extracted> extracted;
    QStringList warnings;
};

bool readLabelsAhead(const std::vector<ClassifiedItem>& labels, ai::VisionBackend& backend,
                     const core::RunContext& context, const std::function<void(const LabelRead&)>& onRead,
                     ai::RequestSlots& requests, EarlyReads* early) {
    const int m = static_cast<int>(labels.size());
    const std::function<ReadAhead(int)> work = [&](int i) {
        ReadAhead ahead;
        if (context.cancelled()) return ahead;
        const ImageInfo& primary = labels[size_t(i)].unit.primary;
        if (auto read = early ? early->take(primary.path) : std::nullopt) {
            ahead.extracted = std::move(read->extracted);
            ahead.warnings = std::move(read->warnings);
            return ahead;
        }
        const auto prepared = prepareCard(backend, labels[size_t(i)]);
        if (!prepared) {
            ahead.extracted = readPrepared(backend, primary, prepared);
            return ahead;
        }
        if (auto read =
                requests.send<RelicLabelExtracted>([&] { return backend.readLabel(primary.path, *prepared); },
                                                   primary.fileName, context.cancel, ahead.warnings, i))
            ahead.extracted = std::move(*read);
        return ahead;
    };
    int taken = 0;
    const std::function<bool(int, ReadAhead&)> take = [&](int i, ReadAhead& ahead) {
        if (context.cancelled() || !ahead.extracted) return false;
        recordLabel(
            i, m, labels[size_t(i)].unit.primary,
            [&] {
                for (const QString& warning : ahead.warnings)
                    context.log(core::warning(warning));
                return std::move(*ahead.extracted);
            },
            context, onRead);
        ++taken;
        return true;
    };
    core::inOrder<ReadAhead>(m, requests.limit() + MediaPipeline::preparationThreads(), work, take,
                             context.cancel);
    return taken == m;
}

} // namespace

MediaPipeline::AfterReply EarlyReads::reader(ai::VisionBackend& backend, ai::RequestSlots& requests,
                                             const core::CancelToken& cancel) {
    return [this, &backend, &requests, cancel](int index, const WorkUnit& unit,
                                               const ai::PreparedPhoto& prepared,
                                               const ClassificationResult& result) {
        if (result.category != MediaCategory::label) return;
        QStringList warnings;
        auto read =
            requests.send<RelicLabelExtracted>([&] { return backend.readLabel(unit.primary.path, prepared); },
                                               unit.primary.fileName, cancel, warnings, index);
        if (!read) return;
        const std::lock_guard hold(m_mutex);
        m_reads.insert_or_assign(unit.primary.path, Read{std::move(*read), std::move(warnings)});
    };
}

std::optional<EarlyReads::Read> EarlyReads::take(const std::filesystem::path& photo) {
    const std::lock_guard hold(m_mutex);
    const auto it = m_reads.find(photo);
    if (it == m_reads.end()) return std::nullopt;
    Read read = std::move(it->second);
    m_reads.erase(it);
    return read;
}

bool readLabels(const std::vector<ClassifiedItem>& labels, ai::VisionBackend& backend,
                const core::RunContext& context, const std::function<void(const LabelRead&)>& onRead,
                ai::RequestSlots* requests, EarlyReads* early) {
    if (requests && requests->concurrent() && backend.takesConcurrentRequests())
        return readLabelsAhead(labels, backend, context, onRead, *requests, early);
    const int m = static_cast<int>(labels.size());
    // The next cards are prepared during a read, one per core.
    using Prepared = std::optional<core::Result<ai::PreparedPhoto>>;
    const std::function<Prepared(int)> prepare = [&](int i) -> Prepared {
        if (context.cancelled()) return std::nullopt;
        return prepareCard(backend, labels[size_t(i)]);
    };
    int taken = 0;
    const std::function<bool(int, Prepared&)> take = [&](int i, Prepared& prepared) {
        if (context.cancelled() || !prepared) return false;
        const ImageInfo& primary = labels[size_t(i)].unit.primary;
        recordLabel(
            i, m, primary, [&] { return readPrepared(backend, primary, *prepared); }, context, onRead);
        ++taken;
        return true;
    };
    core::inOrder<Prepared>(m, MediaPipeline::preparationThreads(), prepare, take, context.cancel);
    return taken == m;
}

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

RunResult run(const std::filesystem::path& folder, ai::VisionBackend& backend,
              const core::RunContext& context, const RunOptions& options) {
    const core::Log& log = context.log;
    RunResult result;
    std::filesystem::path shown = folder.lexically_normal();
    if (shown.filename().empty()) shown = shown.parent_path();
    log(QStringLiteral("开始扫描：") + core::displayName(shown));
    log(options.useVisionPrefilter
            ? QStringLiteral(
                  "模式：按拍摄时间整理 + Vision 预处理（完整解码+提亮；1280 无字再 2560；仍无字→文物）")
            : QStringLiteral("模式：按拍摄时间整理 + 全量 AI 三分类"));

    const auto scanned = MediaPipeline::scanUnits(folder, context, result.errors);
    if (!scanned) return result;
    const std::vector<MediaPipeline::WorkUnit>& units = *scanned;
    log(MediaPipeline::taskLine(units));
    auto stopHere = [&] {
        result.cancelled = true;
        log(core::kCancelledLine.arg(result.movedCount));
        return result;
    };

    // With several requests in flight, each label card is read as soon as it is known to be one.
    ai::RequestSlots requests(options.requestsInFlight);
    EarlyReads early;
    const auto classified =
        MediaPipeline::classify(units, options.useVisionPrefilter, backend, context, options.probe, &requests,
                                early.reader(backend, requests, context.cancel));
    result.errors << classified.errors;
    if (classified.cancelled) return stopHere();
    if (options.useVisionPrefilter)
        log(QStringLiteral("Vision 预处理：%1 张无文字直接归文物，跳过 AI")
                .arg(classified.visionArtifactCount));

    GroupPlanner planner(classified.items, log);
    const bool read = readLabels(
        planner.labels(), backend, context, [&planner](const LabelRead& label) { planner.addLabel(label); },
        &requests, &early);
    if (!read) {
        result.errors << planner.errors();
        return stopHere();
    }
    PlanResult plan = planner.finish();
    result.classified = classified.items;
    result.errors << plan.errors;
    result.groups = std::move(plan.groups);

    logPlan(result.groups, log);

    if (options.dryRun) {
        qsizetype files = 0;
        for (const auto& group : result.groups)
            files += qsizetype(group.files.size());
        log(QStringLiteral("预演完成：计划 %1 个文件夹、%2 个文件；未创建文件夹，未移动文件。错误 %3 条。")
                .arg(result.groups.size())
                .arg(files)
                .arg(result.errors.size()));
        return result;
    }
    carryOut(folder, result, context, options.observer);
    return result;
}

void logPlan(const std::vector<PlannedGroup>& groups, const core::Log& log) {
    log(QStringLiteral("—— 规划结果 ——"));
    for (const auto& group : groups) {
        // One pass: label text may itself contain "%1"-like sequences.
        log(QStringLiteral("文件夹 %1%2：%3 个文件")
                .arg(group.folderName, group.mergedIntoExisting ? QStringLiteral("（合并）") : QString(),
                     QString::number(group.files.size())));
        for (const auto& file : group.files)
            log(QStringLiteral("  • ") + file.fileName);
    }
}

void carryOut(const std::filesystem::path& folder, RunResult& result, const core::RunContext& context,
              MoveObserver* observer) {
    const ExecuteResult executed = executeMoves(folder, result.groups, context, result.errors, observer);
    result.movedCount = executed.moved;
    if (executed.cancelled) {
        result.cancelled = true;
        context.log(core::kCancelledLine.arg(result.movedCount));
        return;
    }
    context.log(QStringLiteral("全部完成。移动 %1 个文件，错误 %2 条。")
                    .arg(result.movedCount)
                    .arg(result.errors.size()));
}

} // namespace AutoOrganizer
