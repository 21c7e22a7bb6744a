// Test programs run inside a QCoreApplication so that Qt Network and QSettings work as in the
// application.

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The fake AI service is on loopback; a proxy from the environment must not intercept it.
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VitrinoTests"));
    QCoreApplication::setApplicationName(QStringLiteral("VitrinoTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
