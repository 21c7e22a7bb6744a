#pragma once

// How a log line is shown: the colour runs inside one line and the alternating bands that group
// the lines about one file or one step. Display only; the stored lines stay plain text.

#include <QColor>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace ProcessLogStyle {

enum class Tint : std::uint8_t { none, red, green, blue };

/// One piece of a line: its text, its colour (none = the list's text colour) and weight.
struct Run {
    QString text;
    Tint tint = Tint::none;
    bool bold = false;
    bool operator==(const Run&) const = default;
};

/// The runs of one line; concatenated they give the line back unchanged. Every "搬回" is red
/// and bold; otherwise a category word ("标签" red, "文物" green, "展板" blue) right after the
/// line's first "→ " is coloured.
std::vector<Run> coloredLine(const QString& line);

/// The colour a tint stands for (the desktop's usual red, green and blue, readable on white).
QColor color(Tint tint);

/// The band numbers of a log, computed line by line: feed each stamped line in order.
class Stripes {
  public:
    /// The band of the next line.
    int next(const QString& stampedLine);

  private:
    int m_stripe = 0;
    qint64 m_lastIndex = 0;
    bool m_previousHadNoIndex = true;
    bool m_first = true;
};

/// The band number of every line, in one pass.
std::vector<int> logStripeIndices(const QStringList& lines);

} // namespace ProcessLogStyle
