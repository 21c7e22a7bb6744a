#pragma once

// The small building blocks of the main window: section titles, cards, a label that shortens
// its text, and the spinning progress indicator.

#include <QColor>
#include <QFrame>
#include <QLabel>

class QTimer;

/// A 7 × 7 mark followed by the title in 11-point bold.
class SectionTitle : public QWidget {
  public:
    SectionTitle(const QString& title, QWidget* parent = nullptr);
    QString text() const;

  private:
    QLabel* m_label;
};

/// A rounded card: 1-point outline in the border colour, 10-point corners.
class Card : public QFrame {
  public:
    explicit Card(const QColor& background, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QColor m_background;
};

/// Text shortened with an ellipsis where it does not fit: on one line, or broken between
/// characters over at most `maxLines` lines (a path has few spaces to break at). Drawn in the
/// palette's window-text colour.
class ElidedLabel : public QLabel {
  public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr, int maxLines = 1);
    void setFullText(const QString& text);
    QString fullText() const { return m_full; }
    /// What is drawn at the current width, a line each.
    QStringList shownLines() const;
    /// The same, joined by line feeds.
    QString shownText() const;
    /// At least one line of the text as tall as its fonts (fallbacks included) make it.
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return m_maxLines > 1; }
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QStringList linesFor(int width) const;
    int linesHeight(const QStringList& lines) const;
    Qt::TextElideMode m_mode;
    int m_maxLines;
    QString m_full;
};

/// The small spinning indicator shown while the window is busy.
class Spinner : public QWidget {
  public:
    explicit Spinner(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {16, 16}; }

  protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

  private:
    QTimer* m_timer;
    int m_angle = 0;
};

/// A 1-point line in the separator colour, horizontal or vertical.
QFrame* makeSeparator(Qt::Orientation orientation, QWidget* parent);
/// A font of the application's family at a pixel size and weight.
QFont uiFont(qreal pixelSize, QFont::Weight weight = QFont::Normal);
QFont monoFont(qreal pixelSize);
/// A label in one of the theme's text colours, at a pixel size and weight.
QLabel* themedLabel(const QString& text, const QColor& color, qreal pixelSize, QWidget* parent,
                    QFont::Weight weight = QFont::Normal);
