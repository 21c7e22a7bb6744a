#pragma once

// A plain-text copy of every run's log: one file per session in ~/.local/share/Vitrino/Logs
// (the temporary folder when that is unavailable), the newest five kept.

#include <QDateTime>
#include <QString>

namespace LogStore {

/// The log folder, created when missing (under the temporary folder when the data folder is
/// unavailable or cannot be created).
QString logsDirectory();

/// Prunes, then starts "Vitrino_{yyyyMMdd_HHmmss}.log". A session started in the same second as
/// an earlier one gets "Vitrino_{stamp}-2.log" (then -3, …): the earlier file is never emptied.
QString beginSession(const QDateTime& now = QDateTime::currentDateTime());

/// Appends the line and a line feed; recreates the file if it has gone.
void append(const QString& line, const QString& file);

/// Deletes all but the five most recently modified "*.log" files.
void pruneOldLogs();

/// "HH:mm:ss " before a line, as written to the log list and file; control characters in the
/// line (a line feed in a file name, say) are escaped so that one line stays one line.
QString stamped(const QString& line, const QTime& now = QTime::currentTime());

} // namespace LogStore
