#include "app/ProcessLogStyle.h"

#include <QRegularExpression>

#include <array>
#include <utility>

namespace ProcessLogStyle {
namespace {

const QString kMoveBack = QStringLiteral("搬回");
const QString kArrow = QStringLiteral("→ ");

struct Category {
    QString word;
    Tint tint;
};

const std::array<Category, 3>& categories() {
    static const std::array<Category, 3> table{{{QStringLiteral("标签"), Tint::red},
                                                {QStringLiteral("文物"), Tint::green},
                                                {QStringLiteral("展板"), Tint::blue}}};
    return table;
}

const QStringList& groupStarts() {
    static const QStringList prefixes{QStringLiteral("抽取标签字段："),
                                      QStringLiteral("文件夹 "),
                                      QStringLiteral("新组："),
                                      QStringLiteral("剩余 "),
                                      QStringLiteral("创建："),
                                      QStringLiteral("对比："),
                                      QStringLiteral("—— 开始 FeaturePrint")};
    return prefixes;
}

} // namespace

std::vector<Run> coloredLine(const QString& line) {
    std::vector<Run> runs;
    if (line.contains(kMoveBack)) {
        qsizetype from = 0;
        for (qsizetype at = line.indexOf(kMoveBack); at >= 0; at = line.indexOf(kMoveBack, from)) {
            runs.push_back({line.mid(from, at - from)});
            runs.push_back({kMoveBack, Tint::red, true});
            from = at + kMoveBack.size();
        }
        runs.push_back({line.mid(from)});
        return runs;
    }
    const qsizetype arrow = line.indexOf(kArrow);
    if (arrow >= 0) {
        const qsizetype tail = arrow + kArrow.size();
        for (const Category& category : categories()) {
            if (QStringView(line).mid(tail).startsWith(category.word)) {
                runs.push_back({line.left(tail)});
                runs.push_back({category.word, category.tint});
                runs.push_back({line.mid(tail + category.word.size())});
                return runs;
            }
        }
    }
    runs.push_back({line});
    return runs;
}

QColor color(Tint tint) {
    switch (tint) {
    case Tint::red:
        return QColor(255, 59, 48);
    case Tint::green:
        return QColor(40, 167, 69);
    case Tint::blue:
        return QColor(0, 122, 255);
    case Tint::none:
        break;
    }
    return {};
}

int Stripes::next(const QString& stampedLine) {
    static const QRegularExpression fileIndex(QStringLiteral("\\[(\\d+)/(\\d+)\\]"));
    const QStringView message = stampedLine.size() >= 10 && stampedLine.at(8) == QLatin1Char(' ')
                                    ? QStringView(stampedLine).mid(9)
                                    : QStringView(stampedLine);
    bool startsGroup = false;
    const QRegularExpressionMatch match = fileIndex.match(message);
    bool parsed = false;
    const qint64 index = match.hasMatch() ? match.capturedView(1).toLongLong(&parsed) : 0;
    if (parsed) {
        startsGroup = m_previousHadNoIndex || index != m_lastIndex;
        m_lastIndex = index;
        m_previousHadNoIndex = false;
    } else {
        for (const QString& prefix : groupStarts()) {
            if (message.startsWith(prefix)) {
                startsGroup = true;
                m_lastIndex = 0;
                m_previousHadNoIndex = true;
                break;
            }
        }
    }
    if (startsGroup && !m_first) ++m_stripe;
    m_first = false;
    return m_stripe;
}

std::vector<int> logStripeIndices(const QStringList& lines) {
    std::vector<int> stripes;
    stripes.reserve(lines.size());
    Stripes state;
    for (const QString& line : lines)
        stripes.push_back(state.next(line));
    return stripes;
}

} // namespace ProcessLogStyle
