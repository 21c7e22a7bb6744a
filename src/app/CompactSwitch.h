#pragma once

// The small on/off control of the option cards: a 26 × 15 track with a 13-point knob that slides
// in 0.15 s. A click flips it only while it is enabled.

#include <QAbstractButton>
#include <QColor>

class QVariantAnimation;

class CompactSwitch : public QAbstractButton {
    Q_OBJECT

  public:
    explicit CompactSwitch(QWidget* parent = nullptr);

    /// The track colour for a state of the switch.
    static QColor trackColor(bool enabled, bool on);
    static constexpr int kAnimationMs = 150;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
    void checkStateSet() override;
    void nextCheckState() override;

  private:
    void animateTo(bool on);
    qreal m_position = 0; ///< 0 = knob at the leading end, 1 = trailing end; moves while animating
    QVariantAnimation* m_animation = nullptr;
};
