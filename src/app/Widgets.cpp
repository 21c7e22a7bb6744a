#include "app/Widgets.h"

#include "app/Theme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

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

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), m_mode(mode) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    m_full = text;
    setText(text);
    setToolTip(text);
    update();
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(m_full, m_mode, contentsRect().width());
}

QSize ElidedLabel::minimumSizeHint() const {
    return QSize(0, QLabel::minimumSizeHint().height());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(contentsRect(), Qt::AlignVCenter | Qt::AlignLeading, shownText());
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
