#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace core {

/// Parses an EXIF/TIFF date text ("yyyy:MM:dd HH:mm:ss") in the local time zone.
std::optional<QDateTime> parseExifDate(const QString& text);

/// Capture-time order: an absent date counts as the earliest possible date.
inline bool earlierCapture(const std::optional<QDateTime>& a, const std::optional<QDateTime>& b) {
    if (!a) return b.has_value();
    if (!b) return false;
    return *a < *b;
}

/// ISO 8601 local time without zone ("2024-05-01T10:20:30"), or "-" when absent.
QString isoOrDash(const std::optional<QDateTime>& date);

} // namespace core
