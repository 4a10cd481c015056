#include "ui/ThemeSetting.h"

#include <QSettings>

namespace {
constexpr auto kValueName = "AppsUseLightTheme";
}

std::optional<int> ThemeSetting::appsUseLightTheme()
{
#ifdef Q_OS_WIN
    QSettings settings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize"),
                       QSettings::NativeFormat);
#else
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Corvane"),
                       QStringLiteral("Personalize"));
#endif
    const QVariant value = settings.value(QLatin1String(kValueName));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}
