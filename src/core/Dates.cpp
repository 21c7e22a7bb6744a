#include "core/Dates.h"

namespace core {

std::optional<QDateTime> parseExifDate(const QString& text) {
    static const QString pattern = QStringLiteral("yyyy:MM:dd HH:mm:ss");
    QDateTime date = QDateTime::fromString(text, pattern);
    if (!date.isValid()) return std::nullopt;
    date.setTimeSpec(Qt::LocalTime);
    return date;
}

QString isoOrDash(const std::optional<QDateTime>& date) {
    if (!date) return QStringLiteral("-");
    return date->toString(Qt::ISODate);
}

} // namespace core
