#include "app/LogPanel.h"

#include "app/Theme.h"
#include "app/Widgets.h"
#include "services/LogStore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

// ---- LogModel

int LogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return line(index.row());
    case StripeRole:
        return stripe(index.row());
    default:
        return {};
    }
}

void LogModel::append(const QStringList& stampedLines) {
    if (stampedLines.isEmpty()) return;
    beginInsertRows({}, count(), count() + int(stampedLines.size()) - 1);
    for (const QString& line : stampedLines) {
        m_stripes.push_back(m_state.next(line));
        m_lines.push_back(line);
    }
    endInsertRows();
}

void LogModel::clear() {
    beginResetModel();
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_stripes.clear();
    m_stripes.shrink_to_fit();
    m_state = {};
    endResetModel();
}

QStringList LogModel::lines() const {
    return QStringList(m_lines.begin(), m_lines.end());
}

// ---- LogDelegate

namespace {
constexpr int kRowInsetX = 13, kRowInsetY = 2;
}

QFont LogDelegate::logFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);
    return font;
}

LogDelegate::LogDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_font(logFont()), m_bold(logFont()) {
    m_bold.setBold(true);
}

QSize LogDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return QSize(100, QFontMetrics(m_font).height() + 2 * kRowInsetY);
}

void LogDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto* model = static_cast<const LogModel*>(index.model());
    const int row = index.row();
    const QColor text = option.palette.color(QPalette::Text);
    p->save();
    p->fillRect(option.rect, model->stripe(row) % 2 == 0 ? Theme::card : Theme::oddBand(text));
    if (option.state & QStyle::State_Selected) {
        QColor selection = Theme::accent;
        selection.setAlphaF(0.18);
        p->fillRect(option.rect, selection);
    }
    const QRect area = option.rect.adjusted(kRowInsetX, kRowInsetY, -kRowInsetX, -kRowInsetY);
    const QString& line = model->line(row);
    const QFontMetrics metrics(m_font);
    int x = area.left();
    const int baseline = area.top() + metrics.ascent();
    const QString ellipsis = QStringLiteral("…");
    for (const ProcessLogStyle::Run& run : ProcessLogStyle::coloredLine(line)) {
        if (run.text.isEmpty()) continue;
        p->setFont(run.bold ? m_bold : m_font);
        p->setPen(run.tint == ProcessLogStyle::Tint::none ? text : ProcessLogStyle::color(run.tint));
        const QFontMetrics runMetrics(p->font());
        const int width = runMetrics.horizontalAdvance(run.text);
        if (x + width > area.right()) {
            // Lines wider than the panel end in an ellipsis; the tooltip and the copy hold all.
            p->drawText(x, baseline, runMetrics.elidedText(run.text, Qt::ElideRight, area.right() - x));
            break;
        }
        p->drawText(x, baseline, run.text);
        x += width;
    }
    p->restore();
}

// ---- LiveDot

LiveDot::LiveDot(QWidget* parent) : QWidget(parent) {
    setFixedSize(13, 13);
}

void LiveDot::setLive(bool live) {
    if (live == m_live) return;
    m_live = live;
    update();
}

void LiveDot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QPointF centre = QRectF(rect()).center();
    if (m_live) {
        QRadialGradient glow(centre, 6.5);
        QColor soft = Theme::live;
        soft.setAlphaF(0.35);
        glow.setColorAt(0.5, soft);
        soft.setAlphaF(0);
        glow.setColorAt(1, soft);
        p.setBrush(glow);
        p.drawEllipse(centre, 6.5, 6.5);
    }
    p.setBrush(m_live ? Theme::live : Theme::muted);
    p.drawEllipse(centre, 3.5, 3.5);
}

// ---- LogPanel

LogPanel::LogPanel(LogModel* model, std::function<void(const QString&)> log, QWidget* parent)
    : QFrame(parent), m_model(model), m_log(std::move(log)) {
    setObjectName(QStringLiteral("logPanel"));
    auto* outer = new QVBoxLayout(this);
    // The list stops short of the rounded bottom corners, which it would otherwise square off.
    outer->setContentsMargins(1, 1, 1, 8);
    outer->setSpacing(0);

    auto* title = new QHBoxLayout;
    title->setContentsMargins(12, 8, 12, 8);
    title->setSpacing(6);
    m_dot = new LiveDot(this);
    title->addWidget(m_dot);
    auto* heading = new QLabel(QStringLiteral("运行日志"), this);
    heading->setFont(uiFont(11, QFont::Bold));
    title->addWidget(heading);
    title->addStretch();
    m_badge = new QLabel(this);
    m_badge->setFont(uiFont(10, QFont::DemiBold));
    m_badge->setStyleSheet(
        QStringLiteral("QLabel { background: %1; border-radius: 8px; padding: 2px 8px; color: %2; }")
            .arg(Theme::badge.name(), Theme::label.name()));
    title->addWidget(m_badge);
    outer->addLayout(title);

    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("logBar"));
    bar->setAutoFillBackground(true);
    QPalette barPalette = bar->palette();
    barPalette.setColor(QPalette::Window, Theme::logBar);
    bar->setPalette(barPalette);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(12, 8, 12, 8);
    QLabel* caption = themedLabel(QStringLiteral("日志"), Theme::muted, 10, bar, QFont::Bold);
    QFont captionFont = caption->font();
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    caption->setFont(captionFont);
    barLayout->addWidget(caption);
    barLayout->addStretch();
    m_copy = new QPushButton(QStringLiteral("复制全部"), bar);
    m_openFolder = new QPushButton(QStringLiteral("打开日志目录"), bar);
    for (QPushButton* button : {m_copy, m_openFolder}) {
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 0 4px; }"
                                             "QPushButton:disabled { color: %2; }")
                                  .arg(Theme::accent.name(), Theme::muted.name()));
        barLayout->addWidget(button);
    }
    outer->addWidget(bar);

    m_view = new QListView(this);
    m_view->setModel(model);
    m_view->setItemDelegate(new LogDelegate(m_view));
    m_view->setUniformItemSizes(true); // lays out 100,000 rows without measuring each
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setSpacing(0);
    // The rows paint their own bands; elsewhere the panel's rounded card shows through.
    m_view->viewport()->setAutoFillBackground(false);
    m_view->setAutoFillBackground(false);
    m_view->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    outer->addWidget(m_view, 1);

    // Ctrl+C copies the selected rows, in list order.
    auto* copySelected = new QAction(m_view);
    copySelected->setShortcut(QKeySequence::Copy);
    copySelected->setShortcutContext(Qt::WidgetShortcut);
    m_view->addAction(copySelected);
    connect(copySelected, &QAction::triggered, this, [this] {
        QModelIndexList rows = m_view->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        QStringList lines;
        for (const QModelIndex& row : rows)
            lines << m_model->line(row.row());
        if (!lines.isEmpty()) QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    });
    connect(m_copy, &QPushButton::clicked, this, &LogPanel::copyAll);
    connect(m_openFolder, &QPushButton::clicked, this, &LogPanel::openLogFolder);

    QScrollBar* scroll = m_view->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this,
            [this, scroll](int value) { m_follow = value >= scroll->maximum(); });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
        refreshCount();
        if (!m_follow || m_scrollPending) return;
        // Many lines can arrive between two frames: one scroll per burst is enough.
        m_scrollPending = true;
        QTimer::singleShot(0, this, [this] {
            m_scrollPending = false;
            if (m_follow) m_view->scrollToBottom();
        });
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        m_follow = true;
        refreshCount();
    });
    refreshCount();
}

void LogPanel::setLive(bool live) {
    m_dot->setLive(live);
}

void LogPanel::refreshCount() {
    m_badge->setText(QStringLiteral("共 %1 条").arg(m_model->count()));
    m_copy->setEnabled(m_model->count() > 0);
}

void LogPanel::copyAll() {
    if (m_beforeCopy) m_beforeCopy();
    const QStringList lines = m_model->lines();
    if (lines.isEmpty()) return;
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    if (m_log) m_log(kCopied.arg(lines.size()));
}

void LogPanel::openLogFolder() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(LogStore::logsDirectory() + QLatin1Char('/')));
}

void LogPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.fillPath(outline, Theme::card);
    p.setPen(QPen(Theme::cardBorder, 1));
    p.drawPath(outline);
}
