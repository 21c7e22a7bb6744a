#include "core/Log.h"

namespace core {

QString LogLine::shown() const {
    QString prefix;
    switch (severity) {
    case Severity::info:
        break;
    case Severity::warning:
        prefix = QStringLiteral("[警告] ");
        break;
    case Severity::failure:
        prefix = QStringLiteral("[失败] ");
        break;
    case Severity::skipped:
        prefix = QStringLiteral("[跳过] ");
        break;
    }
    return QString(indent, QLatin1Char(' ')) + prefix + text;
}

} // namespace core
