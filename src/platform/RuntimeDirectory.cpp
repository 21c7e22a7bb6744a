#include "platform/RuntimeDirectory.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

/// A real folder (not a link to one) owned by this user with no access for anyone else.
bool isPrivateFolder(const QByteArray& path, bool tightenMode) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & 07777) == 0700) return true;
    return tightenMode && ::chmod(path.constData(), 0700) == 0;
}

QString userName() {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return QFile::decodeName(found->pw_name);
    return QString::number(::geteuid());
}

} // namespace

QString privateRuntimeDirectory(const QString& systemBase, const QString& tempBase) {
    // The session's folder exists whenever the user is logged in anywhere; sharing it keeps the
    // processing lock common with a window in that session.
    const QString system = systemBase + QLatin1Char('/') + QString::number(::geteuid());
    if (isPrivateFolder(QFile::encodeName(system), false)) return system;

    const QString named = tempBase + QStringLiteral("/runtime-") + userName();
    const QByteArray namedBytes = QFile::encodeName(named);
    if (::mkdir(namedBytes.constData(), 0700) == 0 || errno == EEXIST)
        if (isPrivateFolder(namedBytes, true)) return named;

    // Someone else's folder or a link under our name: never use it.
    QByteArray unique = namedBytes + "-XXXXXX";
    if (::mkdtemp(unique.data())) return QFile::decodeName(unique);
    return {};
}

void ensureRuntimeDirectory() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    const QString dir = privateRuntimeDirectory(QStringLiteral("/run/user"), QDir::tempPath());
    if (!dir.isEmpty()) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
}

} // namespace platform
