#pragma once

#include <optional>

// The desktop's "AppsUseLightTheme" value. On Windows it is the per-user theme value of the
// registry; elsewhere the program reads the same value name from its own settings file,
// "<config>/Corvane/Personalize.ini", so the dark theme can be chosen there.
class ThemeSetting
{
public:
    static std::optional<int> appsUseLightTheme();
};
