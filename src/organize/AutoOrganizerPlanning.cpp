// Group planning: which photos each label card takes, merged labels, the leftover folder.

#include "organize/AutoOrganizer.h"

#include "core/Dates.h"
#include "intake/WorkUnits.h"
#include "labels/Naming.h"

#include <set>

namespace AutoOrganizer {

using ImageScanner::ImageInfo;
using MediaPipeline::ClassifiedItem;
using MediaPipeline::WorkUnit;

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

} // namespace AutoOrganizer
