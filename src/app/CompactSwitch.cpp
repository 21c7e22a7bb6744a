#include "app/CompactSwitch.h"

#include "app/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {
constexpr qreal kTrackWidth = 26, kTrackHeight = 15, kKnob = 13, kInset = 1;
}

CompactSwitch::CompactSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(kAnimationMs);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_position = value.toReal();
        update();
    });
    connect(this, &QAbstractButton::toggled, this, &CompactSwitch::animateTo);
}

QColor CompactSwitch::trackColor(bool enabled, bool on) {
    if (enabled) return on ? Theme::accent : Theme::switchOff;
    if (!on) return Theme::cardBorder;
    QColor faded = Theme::accent;
    faded.setAlphaF(0.35);
    return faded;
}

QSize CompactSwitch::sizeHint() const {
    return QSize(int(kTrackWidth), int(kTrackHeight));
}

void CompactSwitch::checkStateSet() {
    // Set from code (not clicked): no animation, the knob is simply where it belongs.
    m_animation->stop();
    m_position = isChecked() ? 1 : 0;
    update();
}

void CompactSwitch::nextCheckState() {
    if (isEnabled()) setChecked(!isChecked());
}

void CompactSwitch::animateTo(bool on) {
    m_animation->stop();
    m_animation->setStartValue(m_position);
    m_animation->setEndValue(on ? 1.0 : 0.0);
    m_animation->start();
}

void CompactSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track((width() - kTrackWidth) / 2, (height() - kTrackHeight) / 2, kTrackWidth, kTrackHeight);
    p.setPen(Qt::NoPen);
    p.setBrush(trackColor(isEnabled(), isChecked()));
    p.drawRoundedRect(track, kTrackHeight / 2, kTrackHeight / 2);

    const qreal travel = kTrackWidth - kKnob - 2 * kInset;
    const qreal x = isRightToLeft() ? track.right() - kInset - kKnob - m_position * travel
                                    : track.left() + kInset + m_position * travel;
    const QRectF knob(x, track.top() + kInset, kKnob, kKnob);
    p.setBrush(QColor(0, 0, 0, int(255 * 0.18)));
    p.drawEllipse(knob.translated(0, 0.5).adjusted(-0.5, -0.5, 0.5, 0.5));
    p.setBrush(Qt::white);
    p.drawEllipse(knob);
}
