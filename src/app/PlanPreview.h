#pragma once

// The preview of an organize run: a contact sheet with one row per folder (the folder name, the
// label's four fields to edit, the thumbnails of its photos with the label card marked). A
// thumbnail dragged to another row moves that file and its companions in the plan; a double
// click shows the photo large. "开始整理" hands the plan as shown to the caller; closing the
// preview moves nothing.

#include "app/PlanPreviewModel.h"
#include "app/ThumbnailCache.h"

#include <QDialog>
#include <QListWidget>
#include <QTimer>

#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

/// One row's thumbnails; files are dragged out of it and dropped into another.
class PhotoStrip : public QListWidget {
    Q_OBJECT

  public:
    static inline const QString kMimeType = QStringLiteral("application/x-vitrino-plan-files");
    PhotoStrip(int row, int side, QWidget* parent = nullptr);
    int row() const { return m_row; }
    /// The files named in a drag's data, as "{row}\n{name}\n{name}…"; false when it is not ours.
    static bool readDrag(const QMimeData* data, int& row, QStringList& names);

  signals:
    void filesDropped(int fromRow, const QStringList& names, int toRow);

  protected:
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    int m_row;
};

class PlanPreview : public QDialog {
    Q_OBJECT

  public:
    static inline const QString kTitle = QStringLiteral("预览");
    static inline const QString kStart = QStringLiteral("开始整理");
    static inline const QString kClose = QStringLiteral("关闭");
    static inline const QString kLabelMark = QStringLiteral("标签");

    PlanPreview(plan::Plan plan, ThumbnailCache& cache, QWidget* parent = nullptr);

    PlanPreviewModel& model() { return m_model; }
    int rowCount() const { return int(m_rows.size()); }
    QLabel* folderLabel(int row) const { return m_rows[size_t(row)].folder; }
    QLineEdit* fieldEdit(int row, PlanPreviewModel::Field field) const {
        return m_rows[size_t(row)].fields[field];
    }
    PhotoStrip* strip(int row) const { return m_rows[size_t(row)].strip; }
    QPushButton* startButton() const { return m_start; }
    /// How many items show their photo's thumbnail.
    int thumbnailsShown() const;

  signals:
    /// "开始整理": the plan as shown.
    void startRequested(const plan::Plan& plan);

  private:
    struct Row {
        QLabel* folder = nullptr;
        std::array<QLineEdit*, 4> fields{};
        PhotoStrip* strip = nullptr;
    };
    void fillStrip(int row);
    void showThumbnail(const QString& file);
    /// Draws arrived thumbnails into their items for at most a few milliseconds, then yields.
    void drawArrived();
    void openLarge(QListWidgetItem* item);
    QIcon iconFor(const plan::Entry& entry) const;

    PlanPreviewModel m_model;
    ThumbnailCache& m_cache;
    std::vector<Row> m_rows;
    QPushButton* m_start = nullptr;
    std::filesystem::path m_folder;
    QStringList m_arrived;
    QTimer m_drawTimer;
};
