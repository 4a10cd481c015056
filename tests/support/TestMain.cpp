#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // A settings folder of this process's own, so tests run in parallel never share settings.
    QTemporaryDir configFolder;
    if (!configFolder.isValid())
        return 2;
    qputenv("XDG_CONFIG_HOME", configFolder.path().toLocal8Bit());

    ::testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    QApplication::setApplicationName(QStringLiteral("Velotrim"));
    return RUN_ALL_TESTS();
}
