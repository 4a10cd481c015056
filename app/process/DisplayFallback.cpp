#include "process/DisplayFallback.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGlobal>

#include <cstring>

bool DisplayFallback::chooseOffscreenWithoutDisplay(int argc, char** argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return false;
    }
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    qWarning("No display found; starting on Qt's offscreen platform (no window is shown).");
    return true;
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return false;
#endif
}

bool DisplayFallback::windowsCanBeSeen()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}
