#pragma once

#include <QString>

// The keys under which the controller keeps its settings in the settings store.
namespace Key {
inline const QString ColorMeter = QStringLiteral("colorMeter");
inline const QString Output = QStringLiteral("output");
inline const QString Camera = QStringLiteral("camera");
inline const QString Mode = QStringLiteral("mode");
inline const QString AmbientBlack = QStringLiteral("ambientBlack");
inline const QString TargetCCT = QStringLiteral("targetCCT");
inline const QString TargetDuv = QStringLiteral("targetDuv");
inline const QString Gamma = QStringLiteral("gamma");
inline const QString ErrorAllowed = QStringLiteral("errAllowed");
inline const QString Brightness = QStringLiteral("bright");
inline const QString Steps = QStringLiteral("steps");
inline const QString StepSpacing = QStringLiteral("stepspacing");
inline const QString ReadDelay = QStringLiteral("readDelay");
inline const QString ReadCount = QStringLiteral("readCount");
inline const QString Filepath = QStringLiteral("filepath");
inline const QString BalanceRed = QStringLiteral("balRed");
inline const QString BalanceGreen = QStringLiteral("balGreen");
inline const QString BalanceBlue = QStringLiteral("balBlue");
inline const QString TargetTime = QStringLiteral("targetTime");
inline const QString UseSrgb = QStringLiteral("useSRGB");
inline const QString Trust1st = QStringLiteral("trust1st");
inline const QString HighGainLimit = QStringLiteral("hiGainLimit");
inline const QString LowGainLimit = QStringLiteral("loGainLimit");
inline const QString Debug = QStringLiteral("debug");
inline const QString AutoControlExposure = QStringLiteral("autoControlExp");
inline const QString RemoveReflections = QStringLiteral("removeRefl");
inline const QString LogImages = QStringLiteral("logImages");
inline const QString RawImages = QStringLiteral("rawImages");
inline const QString LinearGainBoost = QStringLiteral("linearGainBoost");
inline const QString RawInterpolation = QStringLiteral("rawInterpolation");
inline const QString Highlights = QStringLiteral("highlights");
inline const QString BtCompliantIterations = QStringLiteral("btCompliantIterations");
inline const QString BtMinIterations = QStringLiteral("btMinIterations");
inline const QString BtMaxIterations = QStringLiteral("btMaxIterations");
inline const QString TileMeshHeight = QStringLiteral("tileMeshHeight");
inline const QString TileMeshWidth = QStringLiteral("tileMeshWidth");
inline const QString SelectedLdm = QStringLiteral("selectedLdm");
inline const QString LensFile = QStringLiteral("lensFile");
inline const QString LensName = QStringLiteral("lensName");
} // namespace Key
