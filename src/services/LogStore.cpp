#include "services/LogStore.h"

#include "core/Text.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace LogStore {

QString logsDirectory() {
    return platform::userDataDirectory(QStringLiteral("Vitrino/Logs"));
}

QString beginSession(const QDateTime& now) {
    pruneOldLogs();
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd_HHmmss"));
    const QDir dir(logsDirectory());
    QString path = dir.filePath(QStringLiteral("Vitrino_%1.log").arg(stamp));
    // O_EXCL: a second session in the same second must not empty the first one's file.
    for (int k = 2; k < 1000; ++k) {
        const auto error = platform::createNewFile(core::toPath(path), 0644);
        if (!error || *error != EEXIST) break;
        path = dir.filePath(QStringLiteral("Vitrino_%1-%2.log").arg(stamp).arg(k));
    }
    return path;
}

void append(const QString& line, const QString& file) {
    const QByteArray bytes = line.toUtf8() + '\n';
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Append)) {
        out.write(bytes);
        return;
    }
    QFile fallback(file);
    if (fallback.open(QIODevice::WriteOnly | QIODevice::Truncate)) fallback.write(bytes);
}

void pruneOldLogs() {
    const QDir dir(logsDirectory());
    if (!dir.exists()) return;
    QFileInfoList logs;
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (info.suffix().toLower() == QLatin1String("log") && !info.completeBaseName().isEmpty())
            logs << info;
    std::stable_sort(logs.begin(), logs.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() > b.lastModified();
    });
    for (qsizetype i = 5; i < logs.size(); ++i)
        QFile::remove(logs.at(i).absoluteFilePath());
}

QString stamped(const QString& line, const QTime& now) {
    // Every line of a log passes here: a line feed (or any control character) in a file name it
    // holds must not split it.
    return now.toString(QStringLiteral("HH:mm:ss ")) + core::escapeControls(line);
}

} // namespace LogStore
