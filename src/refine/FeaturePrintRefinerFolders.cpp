// The exhibit folders a pass walks, in serial order, and the photographs it weighs in each.

#include "refine/FeaturePrintRefiner.h"

#include "core/Dates.h"
#include "core/Text.h"
#include "intake/ImageScanner.h"

#include <algorithm>
#include <limits>

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
        log(core::warning(QStringLiteral("%1 没有可处理图片").arg(name), 2));
        return std::nullopt;
    }
    const std::vector<WorkUnit> units = MediaPipeline::buildWorkUnits(records);
    const auto label = labelUnit(units, folder);
    if (!label) {
        log(core::warning(QStringLiteral("%1 找不到标签图").arg(name), 2));
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

} // namespace FeaturePrintRefiner
