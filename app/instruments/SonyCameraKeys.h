#pragma once

#include <QString>

// The camera driver's settings keys: the exposure it restores on the next connection, and the
// image files it deletes then.
namespace SonyCameraKeys {
inline const QString SavedShutter = QStringLiteral("savedShutter");
inline const QString SavedFNumber = QStringLiteral("savedFNumber");
inline const QString SavedIso = QStringLiteral("savedIso");
inline const QString LastImage = QStringLiteral("lastImage");
inline const QString SavedImage = QStringLiteral("savedImage");
} // namespace SonyCameraKeys
