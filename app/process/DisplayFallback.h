#pragma once

// Without any display to show windows on (a server, a remote shell without X forwarding), Qt's
// window system plugin would abort the program. There it starts on Qt's offscreen platform
// instead, saying so: it then runs as usual, controller, processor and logs, without a window.
class DisplayFallback
{
public:
    // Before the application object exists. Chooses the offscreen platform when no platform was
    // asked for (QT_QPA_PLATFORM, -platform) and neither an X nor a Wayland display is set; true
    // when it did. Only where such displays are the window system (Linux and the other Unixes).
    static bool chooseOffscreenWithoutDisplay(int argc, char** argv);

    // Whether a window the application shows can be seen, and so answered: not on Qt's offscreen
    // or minimal platform. After the application object exists.
    static bool windowsCanBeSeen();
};
