#pragma once

// The log at the bottom of the main window: the lines since the last organize run began, in
// alternating bands per file or step, newest in view unless the user scrolled up.

#include "app/ProcessLogStyle.h"

#include <QAbstractListModel>
#include <QFrame>
#include <QStyledItemDelegate>

#include <functional>
#include <vector>

class QLabel;
class QListView;
class QPushButton;

/// The stamped lines and their bands. Bands are worked out as lines arrive, so every line is
/// looked at once however often the list is drawn.
class LogModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role { StripeRole = Qt::UserRole + 1 };
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const QStringList& stampedLines);
    void clear();
    QStringList lines() const;
    int count() const { return int(m_lines.size()); }
    const QString& line(int row) const { return m_lines[std::size_t(row)]; }
    int stripe(int row) const { return m_stripes[std::size_t(row)]; }

  private:
    std::vector<QString> m_lines;
    std::vector<int> m_stripes;
    ProcessLogStyle::Stripes m_state;
};

/// Draws one line: its band, then its colour runs in the monospaced log font.
class LogDelegate : public QStyledItemDelegate {
  public:
    explicit LogDelegate(QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    static QFont logFont();

  private:
    QFont m_font, m_bold;
};

/// The 7-point activity dot: green with a glow while a run goes, grey otherwise.
class LiveDot : public QWidget {
  public:
    explicit LiveDot(QWidget* parent = nullptr);
    void setLive(bool live);
    bool isLive() const { return m_live; }
    QSize sizeHint() const override { return {13, 13}; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool m_live = false;
};

class LogPanel : public QFrame {
    Q_OBJECT

  public:
    static inline const QString kCopied = QStringLiteral("已复制全部日志到剪贴板（%1 行）");

    /// log: where the panel's own message (after copying) is written.
    LogPanel(LogModel* model, std::function<void(const QString&)> log, QWidget* parent = nullptr);

    void setLive(bool live);
    /// Called before copying, so lines still on their way to the list are copied too.
    void setBeforeCopy(std::function<void()> beforeCopy) { m_beforeCopy = std::move(beforeCopy); }
    QListView* view() const { return m_view; }
    QPushButton* copyButton() const { return m_copy; }
    QPushButton* openFolderButton() const { return m_openFolder; }
    QLabel* countBadge() const { return m_badge; }
    LiveDot* liveDot() const { return m_dot; }
    /// Whether new lines scroll the list (false once the user scrolled up).
    bool followsNewest() const { return m_follow; }

    /// Puts every line on the clipboard, joined by line feeds, and logs the confirmation.
    void copyAll();
    /// Shows the log folder in the file manager.
    void openLogFolder();

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    void refreshCount();
    LogModel* m_model;
    std::function<void(const QString&)> m_log;
    std::function<void()> m_beforeCopy;
    QListView* m_view;
    QPushButton* m_copy;
    QPushButton* m_openFolder;
    QLabel* m_badge;
    LiveDot* m_dot;
    bool m_follow = true;
    bool m_scrollPending = false;
};
