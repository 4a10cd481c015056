// Compiled into the program only in sanitizer builds. On a real X display (xcb) the graphics
// driver (Mesa's DRI module and the GL libraries it loads) and the D-Bus library the platform
// plugin talks through keep allocations for the life of the process, which LeakSanitizer reports
// at exit; they are not ours and would make every normal exit fail. Only those libraries are
// suppressed: a leak in our own code is still reported.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:_dri.so\n"
           "leak:libgallium\n"
           "leak:libGLX_mesa.so\n"
           "leak:libdbus-1.so\n";
}
