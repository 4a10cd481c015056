#pragma once

#include <QPalette>
#include <QString>

#include <optional>

class QApplication;

// The dark palette and tooltip style used when the desktop asks applications for a dark theme.
class DarkTheme
{
public:
    static QPalette palette();
    static QString toolTipStyleSheet();

    // Installs the dark theme only when appsUseLightTheme holds 0; a missing value or any other
    // value leaves the platform palette in force. Returns whether the dark theme was installed.
    static bool applyIfRequested(QApplication& application, std::optional<int> appsUseLightTheme);
};
