#include "platform/ModelFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <unistd.h>

namespace platform {
namespace {

QString buildModelsDir() {
#ifdef VITRINO_BUILD_MODELS_DIR
    return QStringLiteral(VITRINO_BUILD_MODELS_DIR);
#else
    return {};
#endif
}

QString executableDir() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return QFileInfo(QString::fromLocal8Bit(buffer, n)).absolutePath();
}

} // namespace

QString modelsDirectory() {
    const QString fromEnv = qEnvironmentVariable("VITRINO_MODELS_DIR");
    if (!fromEnv.isEmpty()) return fromEnv;
    // Beside the program first, so an installed or unpacked tree uses its own models wherever it
    // lies (bin/../share/vitrino/models), and a build tree's program the build tree's copy.
    const QString exe = executableDir();
    const QString installed = exe + QStringLiteral("/../share/vitrino/models");
    for (const QString& dir : {installed, exe + QStringLiteral("/models"), buildModelsDir()})
        if (!dir.isEmpty() && QFileInfo::exists(dir + QStringLiteral("/SHA256SUMS")))
            return QDir::cleanPath(dir);
    return QDir::cleanPath(installed);
}

core::Result<bool> verifyModelFiles(const QString& directory, const QStringList& names,
                                    const QString& prefix) {
    const QDir dir(directory);
    QFile sums(dir.filePath(QStringLiteral("SHA256SUMS")));
    if (!sums.open(QIODevice::ReadOnly))
        return core::Error{prefix + QStringLiteral("找不到 ") + sums.fileName() +
                           QStringLiteral("（请运行 scripts/models）")};
    QHash<QString, QByteArray> expected;
    for (const QByteArray& line : sums.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() == 2) expected.insert(QString::fromUtf8(parts[1]), parts[0]);
    }
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!expected.contains(name))
            return core::Error{prefix + QStringLiteral("清单中没有 ") + name +
                               QStringLiteral("（请运行 scripts/models）")};
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file) ||
            hash.result().toHex() != expected[name])
            return core::Error{prefix + QStringLiteral("文件缺失或已损坏：") + file.fileName()};
    }
    return true;
}

} // namespace platform
