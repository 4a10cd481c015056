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
    // application, and a window declared inside another does not inherit it either: the dark
    // palette reaches them only when given to each window. When the dark palette is installed,
    // copies it into the "palette" of the window and of every window it holds, every colour group
    // and role, the tool-tip roles in the style sheet's colours (Quick tool tips draw with the
    // palette, never with a style sheet); their contents and popups inherit it from there.
    // Returns whether it did.
    static bool applyToWindows(QObject& root);
};
