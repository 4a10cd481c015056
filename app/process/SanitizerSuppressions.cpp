// Compiled into the program only in sanitizer builds. On a real X display (xcb) the graphics
// driver (Mesa's DRI module and the GL libraries it loads) and the D-Bus library the platform
// plugin talks through keep allocations for the life of the process, which LeakSanitizer reports
// at exit; they are not ours and would make every normal exit fail. Only those libraries are
// suppressed: a leak in our own code is still reported.

#include <QCoreApplication>

#include <dlfcn.h>
#include <link.h>

#include <cstring>

extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:_dri.so\n"
           "leak:libgallium\n"
           "leak:libGLX_mesa.so\n"
           "leak:libdbus-1.so\n";
}

namespace {

// Mesa unloads its driver module when the last GL context goes, which is before the leak check at
// exit: the check then names the driver's blocks after whatever library was mapped at their
// addresses later, and the suppression by the driver's name misses them. A reference taken at
// quit keeps each loaded driver module (and so its name in the report) until the process ends.
int keepGraphicsDriver(dl_phdr_info* info, size_t, void*)
{
    const char* name = info->dlpi_name;
    if (name && (std::strstr(name, "_dri.so") || std::strstr(name, "libgallium")))
        dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

void keepGraphicsDriversAtQuit()
{
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     [] { dl_iterate_phdr(keepGraphicsDriver, nullptr); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(keepGraphicsDriversAtQuit)
