// Test programs run inside a QCoreApplication so that Qt Network and QSettings work as in the
// application.

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VitrinoTests"));
    QCoreApplication::setApplicationName(QStringLiteral("VitrinoTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
