#pragma once

#include <QString>

// Every test program keeps its settings in a folder of its own (set up by the test main), so
// tests never read or write the operator's settings. clearSettings empties the program's store.
namespace TestSettings {
QString configFolder();
void clearSettings();
} // namespace TestSettings
