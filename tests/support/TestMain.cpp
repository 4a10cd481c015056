#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// The sanitizers read their options before main runs; compiled in, they hold however the test
// program is started. The suppressed leaks are allocations that system libraries keep for the
// life of the process, and the indirect leaks of Qt 6.4's Quick scene graph after a window is
// destroyed (raster images, paint engines, pens, textures and the guards on their objects, kept in
// cycles inside Qt Gui and Quick). Leaks of our own code are still reported: their stacks start
// in our frames, and Qt's libraries, built without frame pointers, end the unwinding.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=1:abort_on_error=0";
}
extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libQt6Gui.so\n"
           "leak:libQt6Quick.so\n"
           "leak:QtSharedPointer::ExternalRefCountData::getAndRef\n";
}

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
