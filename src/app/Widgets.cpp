#include "app/Widgets.h"

#include "app/Theme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cmath>

QFont uiFont(qreal pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(qRound(pixelSize));
    font.setWeight(weight);
    return font;
}

QFont monoFont(qreal pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(qRound(pixelSize));
    return font;
}

namespace {

class Mark : public QWidget {
  public:
    explicit Mark(QWidget* parent) : QWidget(parent) { setFixedSize(7, 7); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::accent);
        p.drawRoundedRect(QRectF(rect()), 2, 2);
    }
};

} // namespace

SectionTitle::SectionTitle(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(new Mark(this), 0, Qt::AlignVCenter);
    m_label = new QLabel(title, this);
    m_label->setFont(uiFont(11, QFont::Bold));
    m_label->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::muted.name()));
    layout->addWidget(m_label);
    layout->addStretch();
}

QString SectionTitle::text() const {
    return m_label->text();
}

Card::Card(const QColor& background, QWidget* parent) : QFrame(parent), m_background(background) {}

void Card::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.fillPath(outline, m_background);
    p.setPen(QPen(Theme::cardBorder, 1));
    p.drawPath(outline);
}

namespace {

/// The positions between the text's graphemes, 0 and its length included.
QList<qsizetype> graphemeBounds(const QString& text) {
    QList<qsizetype> bounds{0};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary())
        bounds << next;
    return bounds;
}

/// Breaks the text between graphemes into lines no wider than `width` (a line holds at least
/// one grapheme).
QStringList breakLines(const QString& text, const QFontMetrics& metrics, int width) {
    QStringList lines;
    QString line;
    const QList<qsizetype> bounds = graphemeBounds(text);
    for (qsizetype i = 1; i < bounds.size(); ++i) {
        const QString piece = text.mid(bounds[i - 1], bounds[i] - bounds[i - 1]);
        if (!line.isEmpty() && metrics.horizontalAdvance(line + piece) > width) {
            lines << line;
            line.clear();
        }
        line += piece;
    }
    lines << line;
    return lines;
}

/// The height one line of text takes in the font, fallback fonts included: a line that holds
/// Chinese is taller than the Latin font's line spacing, and drawn in a rect of that spacing
/// it loses what lies low, such as an underscore.
int lineHeight(const QString& text, const QFont& font) {
    const int spacing = QFontMetrics(font).lineSpacing();
    if (text.isEmpty()) return spacing;
    QTextLayout layout(text, font);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    return line.isValid() ? std::max(spacing, int(std::ceil(line.height()))) : spacing;
}

} // namespace

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent, int maxLines)
    : QLabel(parent), m_mode(mode), m_maxLines(std::max(1, maxLines)) {
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    policy.setHeightForWidth(m_maxLines > 1);
    setSizePolicy(policy);
}

void ElidedLabel::setFullText(const QString& text) {
    m_full = text;
    setText(text);
    setToolTip(text);
    updateGeometry();
    update();
}

QStringList ElidedLabel::linesFor(int width) const {
    const QFontMetrics metrics = fontMetrics();
    if (m_maxLines == 1) return {metrics.elidedText(m_full, m_mode, width)};
    const QStringList whole = breakLines(m_full, metrics, width);
    if (whole.size() <= m_maxLines) return whole;
    // Keep as many graphemes as still fit the lines once "…" stands for the others.
    const QList<qsizetype> bounds = graphemeBounds(m_full);
    const qsizetype count = bounds.size() - 1;
    const QString ellipsis(QChar(0x2026));
    const auto shortened = [&](qsizetype keep) {
        const qsizetype head = m_mode == Qt::ElideLeft ? 0 : m_mode == Qt::ElideRight ? keep : (keep + 1) / 2;
        const qsizetype tail = keep - head;
        return m_full.left(bounds[head]) + ellipsis + m_full.mid(bounds[count - tail]);
    };
    qsizetype low = 0;
    qsizetype high = count - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (breakLines(shortened(middle), metrics, width).size() <= m_maxLines)
            low = middle;
        else
            high = middle - 1;
    }
    return breakLines(shortened(low), metrics, width);
}

QStringList ElidedLabel::shownLines() const {
    return linesFor(contentsRect().width());
}

QString ElidedLabel::shownText() const {
    return shownLines().join(QLatin1Char('\n'));
}

int ElidedLabel::linesHeight(const QStringList& lines) const {
    int height = 0;
    for (const QString& line : lines)
        height += lineHeight(line, font());
    return height;
}

QSize ElidedLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    return QSize(0, std::max(QLabel::minimumSizeHint().height(),
                             lineHeight(m_full, font()) + margins.top() + margins.bottom()));
}

QSize ElidedLabel::sizeHint() const {
    return QLabel::sizeHint().expandedTo(minimumSizeHint());
}

int ElidedLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    return linesHeight(linesFor(width - margins.left() - margins.right())) + margins.top() + margins.bottom();
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    const QStringList lines = shownLines();
    const QRect area = contentsRect();
    // The lines as one block, centred vertically, each as tall as its fonts make it.
    int top = area.top() + (area.height() - linesHeight(lines)) / 2;
    for (const QString& line : lines) {
        const int height = lineHeight(line, font());
        p.drawText(QRect(area.left(), top, area.width(), height), Qt::AlignVCenter | Qt::AlignLeading, line);
        top += height;
    }
}

Spinner::Spinner(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this)) {
    setFixedSize(16, 16);
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void Spinner::showEvent(QShowEvent*) {
    m_timer->start();
}
void Spinner::hideEvent(QHideEvent*) {
    m_timer->stop();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(width() / 2.0, height() / 2.0);
    p.rotate(m_angle);
    for (int i = 0; i < 12; ++i) {
        QColor c = Theme::muted;
        c.setAlphaF(0.15 + 0.85 * (i / 11.0));
        p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -3.5), QPointF(0, -6.5));
        p.rotate(30);
    }
}

QFrame* makeSeparator(Qt::Orientation orientation, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::NoFrame);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, Theme::rowLine);
    line->setPalette(palette);
    if (orientation == Qt::Horizontal)
        line->setFixedHeight(1);
    else
        line->setFixedWidth(1);
    return line;
}

QLabel* themedLabel(const QString& text, const QColor& color, qreal pixelSize, QWidget* parent,
                    QFont::Weight weight) {
    auto* label = new QLabel(text, parent);
    label->setFont(uiFont(pixelSize, weight));
    label->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
    return label;
}
