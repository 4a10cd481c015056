#pragma once

#include <QPalette>
#include <QString>

#include <optional>

class QApplication;
class QObject;

// The dark palette and tooltip style used when the desktop asks applications for a dark theme.
class DarkTheme
{
public:
    static QPalette palette();
    static QString toolTipStyleSheet();

    // Installs the dark theme only when appsUseLightTheme holds 0; a missing value or any other
    // value leaves the platform palette in force. Returns whether the dark theme was installed.
    static bool applyIfRequested(QApplication& application, std::optional<int> appsUseLightTheme);

    // Whether the application carries the dark palette (installed by applyIfRequested).
    static bool isInstalled();

    // A Quick Controls window resolves its palette from the control style, not from the
    // application, so the dark palette reaches it only when given to the window itself. When the
    // dark palette is installed, copies it into the window's "palette", every colour group and
    // role; the window's contents and popups inherit it from there. Returns whether it did.
    static bool applyToWindow(QObject& window);
};
