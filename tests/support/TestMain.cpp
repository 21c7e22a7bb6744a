// Test programs run inside a Qt application so that Qt Network, QSettings and fonts work as in
// the application.

#include <QGuiApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The fake AI service is on loopback; a proxy from the environment must not intercept it.
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    // Scene rendering needs fonts, hence a GUI application on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VitrinoTests"));
    QCoreApplication::setApplicationName(QStringLiteral("VitrinoTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
