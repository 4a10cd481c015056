#pragma once

#include <QString>

// What installing an update needs from the desktop: the architecture the release feed is asked
// for, showing the downloaded installer in a file browser, and starting the installer. Both
// processes are started detached, so they outlive the program.
namespace UpdatePlatform {

// The architecture text the release feed filters by, such as "Linux-x86_64".
QString architecture();

// Opens the folder that holds the file in the desktop's file browser. A missing opener is only
// logged: the installer is still started.
void showInFolder(const QString& path);

// Gives the installer its owner's execute bit and starts it with no arguments. On failure returns
// false with the reason in the error text.
bool startInstaller(const QString& path, QString* error);

} // namespace UpdatePlatform
