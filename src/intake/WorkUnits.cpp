#include "intake/WorkUnits.h"

#include "core/Dates.h"

#include <QStringList>

#include <algorithm>
#include <map>

namespace MediaPipeline {

using ImageScanner::ImageInfo;
using Type = ImageInfo::ImageType;

namespace {

int priority(Type type) {
    switch (type) {
    case Type::jpg:
        return 0;
    case Type::heic:
        return 1;
    case Type::png:
        return 2;
    case Type::raw:
        return 3;
    case Type::video:
        return 4;
    }
    return 5;
}

/// Plain byte order of the file names, so that names that are not UTF-8 compare too.
bool nameLess(const ImageInfo& a, const ImageInfo& b) {
    return a.path.filename().native() < b.path.filename().native();
}

} // namespace

std::vector<WorkUnit> buildWorkUnits(const std::vector<ImageInfo>& records) {
    std::vector<WorkUnit> videos;
    // Ordered by stem so that the result never depends on hashing.
    std::map<std::string, std::vector<ImageInfo>> groups;
    for (const auto& record : records) {
        if (record.fileType == Type::video) {
            videos.push_back(WorkUnit{record, {}});
            continue;
        }
        groups[record.path.filename().stem().native()].push_back(record);
    }

    std::vector<WorkUnit> photos;
    photos.reserve(groups.size());
    for (auto& [stem, group] : groups) {
        std::vector<ImageInfo> jpgs;
        std::copy_if(group.begin(), group.end(), std::back_inserter(jpgs),
                     [](const ImageInfo& i) { return i.fileType == Type::jpg; });
        ImageInfo primary;
        if (!jpgs.empty()) {
            primary = *std::min_element(jpgs.begin(), jpgs.end(), nameLess);
        } else {
            primary =
                *std::min_element(group.begin(), group.end(), [](const ImageInfo& a, const ImageInfo& b) {
                    if (priority(a.fileType) != priority(b.fileType))
                        return priority(a.fileType) < priority(b.fileType);
                    return nameLess(a, b);
                });
        }
        WorkUnit unit{primary, {}};
        for (const auto& record : group)
            if (record.path != primary.path) unit.companions.push_back(record);
        std::stable_sort(unit.companions.begin(), unit.companions.end(),
                         [](const ImageInfo& a, const ImageInfo& b) {
                             return core::earlierCapture(a.creationDate, b.creationDate);
                         });
        photos.push_back(std::move(unit));
    }
    // Ties at equal dates: photo units by primary name, then the videos in input order.
    std::sort(photos.begin(), photos.end(),
              [](const WorkUnit& a, const WorkUnit& b) { return nameLess(a.primary, b.primary); });

    std::vector<WorkUnit> units = std::move(photos);
    units.insert(units.end(), videos.begin(), videos.end());
    std::stable_sort(units.begin(), units.end(), [](const WorkUnit& a, const WorkUnit& b) {
        return core::earlierCapture(a.primary.creationDate, b.primary.creationDate);
    });
    return units;
}

std::optional<std::vector<WorkUnit>> scanUnits(const std::filesystem::path& folder,
                                               const core::RunContext& context, QStringList& errors) {
    context.report(core::stage::scan, 0, 0);
    const auto scan = ImageScanner::scanFolder(folder);
    if (!scan) {
        errors << scan.error().description();
        return std::nullopt;
    }
    context.log(ImageScanner::summaryLine(*scan));
    if (scan->images.empty()) {
        errors << kNoMedia;
        return std::nullopt;
    }
    return buildWorkUnits(scan->images);
}

QString companionNote(const WorkUnit& unit) {
    if (unit.companions.empty()) return {};
    QStringList names;
    for (const auto& c : unit.companions)
        names << c.fileName;
    return QStringLiteral("；同名跟移：") + names.join(QStringLiteral(", "));
}

int rawCompanionCount(const std::vector<WorkUnit>& units) {
    int count = 0;
    for (const auto& unit : units)
        count += static_cast<int>(std::count_if(unit.companions.begin(), unit.companions.end(),
                                                [](const ImageInfo& i) { return i.fileType == Type::raw; }));
    return count;
}

QString taskLine(const std::vector<WorkUnit>& units) {
    return QStringLiteral(
               "识别任务 %1 个（同名 RAW 跟移 %2 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）")
        .arg(units.size())
        .arg(rawCompanionCount(units));
}

} // namespace MediaPipeline
