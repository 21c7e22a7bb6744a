#pragma once

// The plan a preview shows, as the user changes it: one row per group, the label's four fields as
// typed, and the files of each row. Folder names follow the fields at once, made by the same rules
// as a run's; moving a file moves its companions with it. No widgets here.

#include "organize/Plan.h"

#include <QObject>

#include <array>
#include <vector>

class PlanPreviewModel : public QObject {
    Q_OBJECT

  public:
    enum Field { name = 0, source = 1, period = 2, other = 3 };
    /// The label file's own keys, in field order.
    static const std::array<QString, 4>& fieldKeys();

    explicit PlanPreviewModel(plan::Plan plan, QObject* parent = nullptr);

    int rowCount() const { return int(m_plan.groups.size()); }
    const plan::Group& row(int row) const { return m_plan.groups[size_t(row)]; }
    /// Whether the row has fields to edit (every row but the panel folder's).
    bool hasFields(int row) const;
    QString field(int row, Field field) const { return m_texts[size_t(row)][field]; }
    /// The folder the row goes to, with the fields as they are now.
    QString folderName(int row) const;
    int fileCount() const;

    void setField(int row, Field field, const QString& text);
    /// Moves the row's file (with its companions) to the end of another row; false when nothing moved.
    bool moveFile(int fromRow, const std::string& name, int toRow);
    /// The row holding the file, or -1.
    int rowOf(const std::string& name) const;

    /// The plan as it is now, fields through the rules of a label read.
    plan::Plan plan() const;

  signals:
    void folderNameChanged(int row);
    void filesChanged(int row);

  private:
    plan::Group groupAt(int row) const;
    plan::Plan m_plan;
    std::vector<std::array<QString, 4>> m_texts;
};
