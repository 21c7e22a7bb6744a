#include "app/PlanPreviewModel.h"

const std::array<QString, 4>& PlanPreviewModel::fieldKeys() {
    static const std::array<QString, 4> keys = {QStringLiteral("文物名称"), QStringLiteral("文物来源"),
                                                QStringLiteral("年代"), QStringLiteral("其他")};
    return keys;
}

PlanPreviewModel::PlanPreviewModel(plan::Plan plan, QObject* parent)
    : QObject(parent), m_plan(std::move(plan)) {
    for (const plan::Group& group : m_plan.groups) {
        std::array<QString, 4> texts;
        if (group.label)
            texts = {group.label->name, group.label->source, group.label->period, group.label->other};
        m_texts.push_back(texts);
    }
}

bool PlanPreviewModel::hasFields(int row) const {
    return m_plan.groups[size_t(row)].kind != plan::GroupKind::panel;
}

plan::Group PlanPreviewModel::groupAt(int row) const {
    plan::Group group = m_plan.groups[size_t(row)];
    const auto& texts = m_texts[size_t(row)];
    const bool typed = std::any_of(texts.begin(), texts.end(), [](const QString& t) { return !t.isEmpty(); });
    // An unread label or the leftovers get fields only when the user gives them some.
    if (hasFields(row) && (group.kind == plan::GroupKind::label || typed))
        group.label = plan::labelFromFields(texts[name], texts[source], texts[period], texts[other]);
    else
        group.label.reset();
    return group;
}

QString PlanPreviewModel::folderName(int row) const {
    return plan::folderName(groupAt(row));
}

int PlanPreviewModel::fileCount() const {
    int count = 0;
    for (const plan::Group& group : m_plan.groups)
        for (const plan::Entry& entry : group.entries)
            count += 1 + int(entry.companions.size());
    return count;
}

void PlanPreviewModel::setField(int row, Field field, const QString& text) {
    if (row < 0 || row >= rowCount() || !hasFields(row)) return;
    const QString before = folderName(row);
    m_texts[size_t(row)][field] = text;
    if (folderName(row) != before) emit folderNameChanged(row);
}

bool PlanPreviewModel::moveFile(int fromRow, const std::string& name, int toRow) {
    if (fromRow == toRow || fromRow < 0 || toRow < 0 || fromRow >= rowCount() || toRow >= rowCount())
        return false;
    auto& from = m_plan.groups[size_t(fromRow)].entries;
    const auto it = std::find_if(from.begin(), from.end(),
                                 [&](const plan::Entry& entry) { return entry.file.name == name; });
    if (it == from.end()) return false;
    m_plan.groups[size_t(toRow)].entries.push_back(std::move(*it));
    from.erase(it);
    emit filesChanged(fromRow);
    emit filesChanged(toRow);
    return true;
}

int PlanPreviewModel::rowOf(const std::string& name) const {
    for (int row = 0; row < rowCount(); ++row)
        for (const plan::Entry& entry : m_plan.groups[size_t(row)].entries)
            if (entry.file.name == name) return row;
    return -1;
}

plan::Plan PlanPreviewModel::plan() const {
    plan::Plan out = m_plan;
    for (int row = 0; row < rowCount(); ++row)
        out.groups[size_t(row)] = groupAt(row);
    return out;
}
