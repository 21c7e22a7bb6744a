#include "organize/AutoOrganizer.h"

#include "core/Dates.h"
#include "core/Text.h"
#include "intake/WorkUnits.h"

#include <cstring>
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

QString fitFolderName(const QString& name) {
    constexpr qsizetype kMaxBytes = 255;
    QString fitted = name;
    fitted.remove(QChar(0));
    fitted.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (fitted.isEmpty() || fitted == QLatin1String(".") || fitted == QLatin1String(".."))
        return QStringLiteral("_");
    if (fitted.toUtf8().size() <= kMaxBytes) return fitted;
    // Keep the serial (the first word) whole; shorten the title by whole characters.
    const qsizetype space = fitted.indexOf(QLatin1Char(' '));
    const QString serial = space > 0 ? fitted.left(space + 1) : QString();
    QList<uint> title = fitted.mid(serial.size()).toUcs4();
    while (!title.isEmpty() &&
           (serial + QString::fromUcs4(reinterpret_cast<const char32_t*>(title.constData()), title.size()))
                   .toUtf8()
                   .size() > kMaxBytes)
        title.removeLast();
    return (serial + QString::fromUcs4(reinterpret_cast<const char32_t*>(title.constData()), title.size()))
        .trimmed();
}

namespace {

/// The place-once bookkeeping of one planning pass.
struct Placement {
    std::set<std::filesystem::path> assigned;

    bool placed(const ImageInfo& info) const { return assigned.count(info.url) > 0; }
    void appendUnit(const WorkUnit& unit, std::vector<ImageInfo>& files) {
        auto add = [&](const ImageInfo& info) {
            if (assigned.insert(info.url).second) files.push_back(info);
        };
        add(unit.primary);
        for (const auto& companion : unit.companions)
            add(companion);
    }
};

std::string stemOf(const ImageInfo& info) {
    return info.url.filename().stem().native();
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

/// The name a file gets inside a group: its own, or {stem}-{k}.{ext} when taken there.
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

PlanResult planGroups(const std::vector<ClassifiedItem>& classified, const ai::AISettings& config,
                      const core::Log& log) {
    PlanResult result;
    Placement placement;

    // Panels: all into one folder, in input order.
    std::vector<ClassifiedItem> stream;
    std::vector<ImageInfo> panelFiles;
    for (const auto& item : classified) {
        if (item.category != MediaCategory::panel) {
            stream.push_back(item);
            continue;
        }
        panelFiles.push_back(item.unit.primary);
        panelFiles.insert(panelFiles.end(), item.unit.companions.begin(), item.unit.companions.end());
    }
    if (!panelFiles.empty()) {
        result.groups.push_back(PlannedGroup{kPanelFolder, panelFiles, std::nullopt, true, false});
        log(QStringLiteral("展板 %1 个文件 → %2").arg(panelFiles.size()).arg(kPanelFolder));
    }

    // Labels, by capture time.
    std::vector<ClassifiedItem> labels;
    std::copy_if(stream.begin(), stream.end(), std::back_inserter(labels),
                 [](const ClassifiedItem& i) { return i.category == MediaCategory::label; });
    std::stable_sort(labels.begin(), labels.end(), [](const ClassifiedItem& a, const ClassifiedItem& b) {
        return core::earlierCapture(a.unit.primary.creationDate, b.unit.primary.creationDate);
    });

    int serial = 1;
    std::map<QString, size_t> mergeMap;
    const int m = static_cast<int>(labels.size());
    for (int i = 0; i < m; ++i) {
        const ClassifiedItem& label = labels[size_t(i)];
        const QString& file = label.unit.primary.fileName;
        log(QStringLiteral("抽取标签字段：%1 (%2/%3)").arg(file, QString::number(i + 1), QString::number(m)));
        std::optional<RelicLabelExtracted> record;
        const auto extracted = RelicLabelExtracted::extract(label.unit.primary.url, config);
        if (!extracted) {
            const QString message =
                QStringLiteral("字段抽取失败 %1：%2").arg(file, extracted.error().description());
            log(QStringLiteral("[失败] ") + message);
            result.errors << message;
        } else {
            record = extracted->withPersistenceDefaultsForAIOutput();
            log(QStringLiteral("  名称=%1 来源=%2 年代=%3")
                    .arg(record->name, record->source, record->period));
        }

        std::vector<ImageInfo> files;
        placement.appendUnit(label.unit, files);
        // The artifacts shot before the label (an undated label takes every one still free).
        const auto& limit = label.unit.primary.creationDate;
        for (const auto& item : stream) {
            if (placement.placed(item.unit.primary) || item.category == MediaCategory::label) continue;
            if (notLaterThan(item.unit.primary.creationDate, limit)) placement.appendUnit(item.unit, files);
        }
        // Anything shot under the label's own file stem, whatever its kind or time.
        const std::string stem = stemOf(label.unit.primary);
        for (const auto& item : stream) {
            if (placement.placed(item.unit.primary)) continue;
            if (hasStem(item.unit, stem)) placement.appendUnit(item.unit, files);
        }

        const std::optional<QString> signature = record ? record->mergeSignature() : std::nullopt;
        if (signature && mergeMap.count(*signature)) {
            PlannedGroup& existing = result.groups[mergeMap[*signature]];
            existing.files.insert(existing.files.end(), files.begin(), files.end());
            existing.mergedIntoExisting = true;
            log(QStringLiteral("与已有标签相同 → 并入 %1").arg(existing.folderName));
            continue;
        }
        const QString serialText = QString::number(serial);
        const QString name = fitFolderName(record ? record->newFolderName(serialText)
                                                  : serialText + QStringLiteral(" 未识别标签"));
        const size_t fileCount = files.size();
        result.groups.push_back(PlannedGroup{name, std::move(files), record, false, false});
        if (signature) mergeMap[*signature] = result.groups.size() - 1;
        ++serial;
        log(QStringLiteral("新组：%1（%2 个文件）").arg(name, QString::number(fileCount)));
    }

    // What is left after the last label.
    std::vector<ImageInfo> leftovers;
    for (const auto& item : stream)
        if (!placement.placed(item.unit.primary)) placement.appendUnit(item.unit, leftovers);
    if (!leftovers.empty()) {
        const QString name = QString::number(serial) + QStringLiteral(" 其他");
        const size_t count = leftovers.size();
        result.groups.push_back(PlannedGroup{name, std::move(leftovers), std::nullopt, false, false});
        log(QStringLiteral("剩余 %1 个 → %2").arg(count).arg(name));
    }
    return result;
}

int executeMoves(const std::filesystem::path& folder, const std::vector<PlannedGroup>& groups,
                 const core::Log& log, QStringList& errors, MoveObserver* observer) {
    int moved = 0;
    // A run that was killed may have left a temporary file of ours in any exhibit folder.
    platform::removeStaleTemporaries(folder);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) platform::removeStaleTemporaries(it->path());
    for (const PlannedGroup& group : foldSameNames(groups)) {
        const QString& name = group.folderName;
        auto fail = [&](const QString& message) {
            log(QStringLiteral("[失败] ") + message);
            errors << message;
        };
        if (!isUsableComponent(name)) {
            fail(QStringLiteral("创建文件夹失败 %1：文件夹名称无效").arg(name));
            continue;
        }
        const std::filesystem::path target = folder / core::toPath(name);
        const bool existed = platform::itemExists(target);
        std::filesystem::create_directories(target, ec);
        if (ec || !std::filesystem::is_directory(target)) {
            const QString reason =
                ec ? QString::fromLocal8Bit(ec.message().c_str()) : QStringLiteral("已有同名文件");
            fail(QStringLiteral("创建文件夹失败 %1：%2").arg(name, reason));
            continue;
        }
        if (observer && !existed) observer->createdFolder(target);
        log(QStringLiteral("创建：") + name);

        if (group.labelExtracted && !group.isPanelFolder && !group.files.empty()) {
            auto sidecar = std::find_if(group.files.begin(), group.files.end(), [](const ImageInfo& i) {
                return i.fileType != ImageInfo::ImageType::video;
            });
            if (sidecar == group.files.end()) sidecar = group.files.begin();
            const std::string stem = sidecar->url.filename().stem().native();
            if (const auto json = group.labelExtracted->toJSONString()) {
                const std::pair<std::filesystem::path, QByteArray> sidecars[] = {
                    {target / (stem + ".json"), *json},
                    {target / (stem + ".txt"), group.labelExtracted->toReadableTxt().toUtf8()}};
                for (const auto& [file, bytes] : sidecars) {
                    const auto id = observer ? observer->willWrite(file, bytes) : std::nullopt;
                    const bool written = platform::writeFileAtomically(file, bytes);
                    if (id) observer->finished(*id, written);
                }
            }
        }

        std::set<std::string> used;
        for (const ImageInfo& file : group.files) {
            const std::filesystem::path targetName = uniqueName(file.url.filename(), used);
            if (!platform::itemExists(file.url)) {
                log(QStringLiteral("[跳过] 源文件不存在：") + file.fileName);
                continue;
            }
            const auto id = observer ? observer->willMove(file.url, target / targetName) : std::nullopt;
            const auto error = safeMoveItem(file.url, target / targetName);
            if (id) observer->finished(*id, !error);
            if (error) {
                fail(QStringLiteral("移动失败 %1：%2").arg(file.fileName, *error));
                continue;
            }
            ++moved;
        }
    }
    return moved;
}

RunResult run(const std::filesystem::path& folder, const ai::AISettings& config, const core::Log& log,
              const RunOptions& options) {
    RunResult result;
    std::filesystem::path shown = folder.lexically_normal();
    if (shown.filename().empty()) shown = shown.parent_path();
    log(QStringLiteral("开始扫描：") + core::displayName(shown));
    log(options.useVisionPrefilter
            ? QStringLiteral(
                  "模式：按拍摄时间整理 + Vision 预处理（完整解码+提亮；1280 无字再 2560；仍无字→文物）")
            : QStringLiteral("模式：按拍摄时间整理 + 全量 AI 三分类"));

    const auto scan = ImageScanner::scanFolder(folder);
    if (!scan) {
        result.errors << scan.error().description();
        return result;
    }
    log(ImageScanner::summaryLine(*scan));
    if (scan->images.empty()) {
        result.errors << kNoMedia;
        return result;
    }
    const auto units = MediaPipeline::buildWorkUnits(scan->images);
    log(MediaPipeline::taskLine(units));

    const auto classified =
        MediaPipeline::classify(units, options.useVisionPrefilter, config, log, options.probe);
    result.errors << classified.errors;
    if (options.useVisionPrefilter)
        log(QStringLiteral("Vision 预处理：%1 张无文字直接归文物，跳过 AI")
                .arg(classified.visionArtifactCount));

    PlanResult plan = planGroups(classified.items, config, log);
    result.errors << plan.errors;
    result.groups = std::move(plan.groups);

    log(QStringLiteral("—— 规划结果 ——"));
    for (const auto& group : result.groups) {
        // One pass: label text may itself contain "%1"-like sequences.
        log(QStringLiteral("文件夹 %1%2：%3 个文件")
                .arg(group.folderName, group.mergedIntoExisting ? QStringLiteral("（合并）") : QString(),
                     QString::number(group.files.size())));
        for (const auto& file : group.files)
            log(QStringLiteral("  • ") + file.fileName);
    }

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
    result.movedCount = executeMoves(folder, result.groups, log, result.errors, options.observer);
    log(QStringLiteral("全部完成。移动 %1 个文件，错误 %2 条。")
            .arg(result.movedCount)
            .arg(result.errors.size()));
    return result;
}

} // namespace AutoOrganizer
