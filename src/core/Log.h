#pragma once

#include <QString>

#include <functional>

namespace core {

/// How much a log line matters. Counting and styling read this, never the line's text.
enum class Severity { info, warning, failure, skipped };

/// One line of a run's log: its severity and its text. The prefix that shows the severity
/// ("[警告] ", "[失败] ", "[跳过] ") is added only when the line is shown or written.
struct LogLine {
    Severity severity = Severity::info;
    QString text;
    /// Lines about one item of the line above are set in by this many spaces, before the prefix.
    int indent = 0;

    LogLine() = default;
    LogLine(QString info) : text(std::move(info)) {} // NOLINT: a plain text is an info line
    LogLine(Severity s, QString t, int in = 0) : severity(s), text(std::move(t)), indent(in) {}

    /// The line as the user reads it: indent, prefix, text.
    QString shown() const;
    operator QString() const { return shown(); } // NOLINT: sinks that only show lines take text
    bool operator==(const LogLine&) const = default;
};

inline LogLine warning(QString text, int indent = 0) {
    return {Severity::warning, std::move(text), indent};
}
inline LogLine failure(QString text, int indent = 0) {
    return {Severity::failure, std::move(text), indent};
}
inline LogLine skipped(QString text, int indent = 0) {
    return {Severity::skipped, std::move(text), indent};
}

/// A run's log: one complete line per call (no stamp, no line break); may be called from any
/// thread, and the caller keeps the lines in order.
using Log = std::function<void(const LogLine&)>;

} // namespace core
