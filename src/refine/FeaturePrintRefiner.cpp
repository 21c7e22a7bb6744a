#include "refine/FeaturePrintRefiner.h"

#include "core/Dates.h"
#include "core/Text.h"
#include "intake/ImageScanner.h"
#include "organize/AutoOrganizer.h"
#include "organize/UnitMove.h"
#include "platform/FileSystem.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace FeaturePrintRefiner {

using ImageScanner::ImageInfo;
using MediaPipeline::WorkUnit;
namespace fs = std::filesystem;

namespace {

bool isVideo(const WorkUnit& unit) {
    return unit.primary.fileType == ImageInfo::ImageType::video;
}

/// Space and tab and the other space separators, but not line breaks.
bool isBlank(char32_t c) {
    return c == U'\t' || QChar::category(c) == QChar::Separator_Space;
}

QString fromUcs4(const QList<uint>& codePoints, qsizetype from, qsizetype to) {
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()) + from, to - from);
}

QString trimBlanks(const QString& text) {
    const QList<uint> cps = text.toUcs4();
    qsizetype begin = 0, end = cps.size();
    while (begin < end && isBlank(cps[begin]))
        ++begin;
    while (end > begin && isBlank(cps[end - 1]))
        --end;
    return fromUcs4(cps, begin, end);
}

/// Titles compare as text in one normal form, code point by code point.
bool titleLess(const QString& a, const QString& b) {
    const QList<uint> x = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> y = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
}

std::vector<ImageInfo> scanFolderSync(const fs::path& folder) {
    auto scan = ImageScanner::scanFolder(folder);
    if (!scan) return {};
    return std::move(scan->images);
}

std::set<std::string> sidecarBasenames(const fs::path& folder) {
    std::set<std::string> stems;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const QString ext = ImageScanner::lowerExtension(it->path());
        if (ext == QLatin1String("json") || ext == QLatin1String("txt"))
            stems.insert(it->path().filename().stem().native());
    }
    return stems;
}

std::set<std::string> existingNames(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().native());
    return names;
}

/// The L2-normalised print, or nothing when it has no direction (empty, zero or not finite).
std::optional<FeaturePrint> normalised(FeaturePrint print) {
    double sum = 0;
    for (const float v : print)
        sum += double(v) * double(v);
    if (print.empty() || !(sum > 0) || !std::isfinite(sum)) return std::nullopt;
    const double scale = 1.0 / std::sqrt(sum);
    for (float& v : print)
        v = float(v * scale);
    return print;
}

/// The prints of one pass, by path; only successes are kept.
class PrintCache {
  public:
    explicit PrintCache(const FeaturePrintFn& compute) : m_compute(compute) {}

    const FeaturePrint* observation(const fs::path& file, const core::Log& log) {
        const auto hit = m_prints.find(file.native());
        if (hit != m_prints.end()) return &hit->second;
        std::optional<FeaturePrint> print;
        if (m_compute)
            if (auto computed = m_compute(file)) print = normalised(std::move(computed.value()));
        if (!print) {
            log(QStringLiteral("  [警告] FeaturePrint 失败：") + core::displayName(file));
            return nullptr;
        }
        return &m_prints.emplace(file.native(), std::move(*print)).first->second;
    }

  private:
    const FeaturePrintFn& m_compute;
    std::unordered_map<std::string, FeaturePrint> m_prints;
};

QString threeDecimals(float value) {
    return QString::asprintf("%.3f", double(value));
}

} // namespace

SortKey sortKey(const QString& folderName) {
    const QString trimmed = trimBlanks(folderName);
    const QList<uint> cps = trimmed.toUcs4();
    qsizetype run = 0;
    while (run < cps.size() && QChar::isNumber(cps[run]))
        ++run;
    SortKey key;
    key.title = trimBlanks(fromUcs4(cps, run, cps.size()));
    key.number = std::numeric_limits<std::int64_t>::max();
    if (run == 0) return key;
    std::int64_t number = 0;
    for (qsizetype i = 0; i < run; ++i) {
        const uint c = cps[i];
        if (c < '0' || c > '9') return key;
        const int digit = int(c - '0');
        if (number > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return key;
        number = number * 10 + digit;
    }
    key.number = number;
    return key;
}

std::vector<fs::path> relicFolders(const fs::path& root) {
    struct Folder {
        fs::path path;
        SortKey key;
    };
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        if (name.empty() || name.front() == '.') continue;
        // A link to a folder elsewhere is not one of this root's exhibit folders.
        std::error_code typeError;
        if (!it->is_directory(typeError) || it->is_symlink(typeError)) continue;
        entries.push_back(it->path());
    }
    if (ec) return {};
    // The directory's own order is arbitrary; equal keys keep name order on every run.
    std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().native() < b.filename().native();
    });
    std::vector<Folder> folders;
    for (const fs::path& path : entries) {
        const QString name = core::displayName(path);
        if (name == kPanelFolder) continue;
        SortKey key = sortKey(name);
        if (key.title == kOtherTitle) continue;
        folders.push_back({path, std::move(key)});
    }
    std::stable_sort(folders.begin(), folders.end(), [](const Folder& a, const Folder& b) {
        if (a.key.number != b.key.number) return a.key.number < b.key.number;
        return titleLess(a.key.title, b.key.title);
    });
    std::vector<fs::path> result;
    result.reserve(folders.size());
    for (auto& folder : folders)
        result.push_back(std::move(folder.path));
    return result;
}

std::optional<WorkUnit> labelUnit(const std::vector<WorkUnit>& units, const fs::path& folder) {
    std::vector<const WorkUnit*> candidates;
    for (const WorkUnit& unit : units)
        if (!isVideo(unit)) candidates.push_back(&unit);
    if (candidates.empty()) return std::nullopt;
    const std::set<std::string> stems = sidecarBasenames(folder);
    if (!stems.empty())
        for (const WorkUnit* unit : candidates)
            if (stems.count(unit->primary.path.filename().stem().native())) return *unit;
    const WorkUnit* latest = candidates.front();
    for (const WorkUnit* unit : candidates)
        if (core::earlierCapture(latest->primary.creationDate, unit->primary.creationDate)) latest = unit;
    return *latest;
}

std::optional<std::vector<WorkUnit>> loadPack(const fs::path& folder, const core::Log& log) {
    const QString name = core::displayName(folder);
    const std::vector<ImageInfo> records = scanFolderSync(folder);
    if (records.empty()) {
        log(QStringLiteral("  [警告] %1 没有可处理图片").arg(name));
        return std::nullopt;
    }
    const std::vector<WorkUnit> units = MediaPipeline::buildWorkUnits(records);
    const auto label = labelUnit(units, folder);
    if (!label) {
        log(QStringLiteral("  [警告] %1 找不到标签图").arg(name));
        return std::nullopt;
    }
    const auto& labelDate = label->primary.creationDate;
    std::vector<WorkUnit> pack;
    for (const WorkUnit& unit : units)
        if (!isVideo(unit) && unit.primary.path != label->primary.path &&
            !core::earlierCapture(labelDate, unit.primary.creationDate))
            pack.push_back(unit);
    return pack;
}

std::optional<float> distance(const FeaturePrint& a, const FeaturePrint& b) {
    if (a.empty() || a.size() != b.size()) return std::nullopt;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    return float(std::sqrt(sum));
}

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
            log(QStringLiteral("  [跳过] 源文件不存在：") + file->fileName);
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
            log(QStringLiteral("[失败] ") + message);
            errors << message;
            continue;
        }
        records.push_back({file->path, target});
    }
    return records;
}

RunResult refine(const fs::path& root, const core::RunContext& context, const Options& options) {
    const core::Log& log = context.log;
    RunResult result;
    const std::vector<fs::path> folders = relicFolders(root);
    if (folders.size() < 2) {
        log(kTooFewFolders);
        return result;
    }
    PrintCache cache(options.featurePrint);
    auto cancelled = [&] { return context.cancelled(); };

    for (size_t i = 0; i + 1 < folders.size() && !result.cancelled; ++i) {
        if (cancelled()) {
            result.cancelled = true;
            break;
        }
        const fs::path& folderA = folders[i];
        const fs::path& folderB = folders[i + 1];
        context.report(kStage, int(i + 1), int(folders.size() - 1), core::displayName(folderB));
        log(QStringLiteral("对比：%1 ← %2").arg(core::displayName(folderA), core::displayName(folderB)));

        const auto packA = loadPack(folderA, log);
        if (!packA) continue;
        const auto packB = loadPack(folderB, log);
        if (!packB) continue;

        if (packA->empty()) {
            log(QStringLiteral("  跳过：本夹没有标签前文物"));
            continue;
        }
        const std::vector<WorkUnit> samples(packA->size() > 3 ? packA->end() - 3 : packA->begin(),
                                            packA->end());
        if (packB->empty()) {
            log(QStringLiteral("  跳过：下一夹没有标签前文物"));
            continue;
        }
        const WorkUnit& anchor = packB->back();

        std::vector<const FeaturePrint*> samplePrints;
        QStringList sampleNames;
        for (const WorkUnit& sample : samples) {
            sampleNames << sample.primary.fileName;
            if (const FeaturePrint* print = cache.observation(sample.primary.path, log))
                samplePrints.push_back(print);
        }
        if (samplePrints.empty()) {
            log(QStringLiteral("  跳过：本夹样本无法计算 FeaturePrint"));
            continue;
        }
        log(QStringLiteral("  本夹样本 ") + sampleNames.join(QStringLiteral(", ")));

        // Cache entries keep their address when the cache grows.
        const FeaturePrint* anchorPrint = cache.observation(anchor.primary.path, log);
        if (!anchorPrint) {
            log(QStringLiteral("  跳过：下一夹锚点无法计算 FeaturePrint（%1）").arg(anchor.primary.fileName));
            continue;
        }
        log(QStringLiteral("  下一夹锚点 %1（不搬）").arg(anchor.primary.fileName));

        std::vector<WorkUnit> candidates;
        for (const WorkUnit& unit : *packB)
            if (unit.primary.path != anchor.primary.path) candidates.push_back(unit);
        if (candidates.empty()) {
            log(QStringLiteral("  下一夹没有可比较的其余文物"));
            continue;
        }

        for (const WorkUnit& unit : candidates) {
            if (cancelled()) {
                result.cancelled = true;
                break;
            }
            const QString& file = unit.primary.fileName;
            const FeaturePrint* print = cache.observation(unit.primary.path, log);
            if (!print) {
                log(QStringLiteral("  [留下] %1：无法计算 FeaturePrint").arg(file));
                continue;
            }
            std::optional<float> dA;
            for (const FeaturePrint* sample : samplePrints) {
                const auto d = distance(*print, *sample);
                if (d && (!dA || *d < *dA)) dA = d;
            }
            const auto dB = dA ? distance(*print, *anchorPrint) : std::nullopt;
            if (!dA || !dB) {
                log(QStringLiteral("  [留下] %1：距离计算失败").arg(file));
                continue;
            }
            const QString shownA = threeDecimals(*dA), shownB = threeDecimals(*dB);
            if (*dA < *dB) {
                const auto records = moveUnit(unit, folderA, log, result.errors, options.journal);
                result.moves.insert(result.moves.end(), records.begin(), records.end());
                result.movedCount += int(records.size());
                log(QStringLiteral("  [搬回] %1 dA=%2 dB=%3（更像本夹，%4 个文件）")
                        .arg(file, shownA, shownB, QString::number(records.size())));
            } else {
                log(QStringLiteral("  [留下] %1 dA=%2 dB=%3（更像下一夹或一样近）")
                        .arg(file, shownA, shownB));
            }
        }
    }
    if (result.cancelled)
        log(core::kCancelledLine.arg(result.movedCount));
    else
        log(QStringLiteral("FeaturePrint 后处理结束。移动 %1 个文件，错误 %2 条。")
                .arg(result.movedCount)
                .arg(result.errors.size()));
    return result;
}

UndoResult undoMoves(const std::vector<MoveRecord>& moves, const core::Log& log, const UndoObserver& observer,
                     const std::function<bool()>& cancelled) {
    UndoResult result;
    std::vector<bool> remains(moves.size(), true);
    auto fail = [&](const QString& message) {
        log(QStringLiteral("[失败] ") + message);
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
            log(QStringLiteral("[警告] ") + message);
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
