#include "support/TestSettings.h"

#include <QSettings>

namespace TestSettings {

QString configFolder()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}

void clearSettings()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

} // namespace TestSettings
