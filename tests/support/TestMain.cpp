// Every test program runs inside a widgets application on the offscreen platform (scene rendering
// needs fonts, the window tests widgets), with the user's folders (settings, data, runtime, cache)
// in a private temporary home: the user's own settings, logs and lock stay untouched.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The fake AI service is on loopback; a proxy from the environment must not intercept it.
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    QTemporaryDir home;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"}) {
        const QString dir = QDir(home.path()).filePath(QString::fromLatin1(name).toLower());
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(name, dir.toUtf8());
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vitrino"));
    QCoreApplication::setApplicationName(QStringLiteral("Vitrino"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
