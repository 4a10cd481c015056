#include "shell/Velotrimmer.h"

#include "common/SameValue.h"
#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "display/SimulatedDisplay.h"
#include "engine/Background.h"
#include "engine/TileGrader.h"
#include "instruments/CameraController.h"
#include "instruments/ImageSource.h"
#include "shell/SettingKeys.h"

#include <QDebug>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace {

const QString SdrPreserve = QStringLiteral("sdrPreserve");
const QString SdrPower = QStringLiteral("sdrPower");

// Smallest settings that keep the level spacing, the mesh and the progress fraction defined.
constexpr double MinStepSpacing = 0.1;
constexpr uint MinMeshCells = 1;
constexpr uint MinIterations = 1;

// Any other value type: plain equality (floating point values take common/SameValue.h's).
template <typename T>
bool sameValue(const T& a, const T& b)
{
    return a == b;
}

QString defaultFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // The trailing slash makes the folder accessor keep the documents folder itself.
    return documents.isEmpty() ? QString() : documents + QLatin1Char('/');
}

} // namespace

// A stored mode from an older or damaged store falls back to the colorimeter correction.
Velotrimmer::Mode Velotrimmer::validMode(uint value)
{
    return value <= Velotrimmer::Template ? static_cast<Velotrimmer::Mode>(value) : Velotrimmer::Linearity;
}

void Velotrimmer::restoreSettings()
{
    QSettings settings;
    setAmbientBlack(settings.value(Key::AmbientBlack, false).toBool());
    setTargetCCT(settings.value(Key::TargetCCT, 6500u).toUInt());
    setTargetDuv(settings.value(Key::TargetDuv, 0.0).toDouble());
    setGamma(settings.value(Key::Gamma, 2.4).toDouble());
    setErrorAllowed(settings.value(Key::ErrorAllowed, 0.3).toDouble());
    setBrightnessLevel(settings.value(Key::Brightness, 100u).toUInt());
    setSteps(settings.value(Key::Steps, 17u).toUInt());
    setStepSpacing(settings.value(Key::StepSpacing, 2.0).toDouble());
    setReadDelay(settings.value(Key::ReadDelay, 1500u).toUInt());
    setReadCount(settings.value(Key::ReadCount, 4u).toUInt());
    setFilepath(settings.value(Key::Filepath, defaultFolder()).toString());
    setBalanceTargetRed(settings.value(Key::BalanceRed, 0.0).toDouble());
    setBalanceTargetGreen(settings.value(Key::BalanceGreen, 0.0).toDouble());
    setBalanceTargetBlue(settings.value(Key::BalanceBlue, 0.0).toDouble());
    setTargetTime(settings.value(Key::TargetTime, QString()).toString());
    setUseSrgb(settings.value(Key::UseSrgb, true).toBool());
    setTrust1stPoint(settings.value(Key::Trust1st, false).toBool());
    setHighGainLimit(settings.value(Key::HighGainLimit, 0.5).toDouble());
    setLowGainLimit(settings.value(Key::LowGainLimit, 0.25).toDouble());
    setUseDebugOptions(settings.value(Key::Debug, false).toBool());
    setAutoControlExposure(settings.value(Key::AutoControlExposure, true).toBool());
    setRemoveReflections(settings.value(Key::RemoveReflections, false).toBool());
    setUseLogImages(settings.value(Key::LogImages, false).toBool());
    setUseRawImages(settings.value(Key::RawImages, false).toBool());
    setLinearGainBoost(settings.value(Key::LinearGainBoost, 2u).toUInt());
    setRawInterpolation(settings.value(Key::RawInterpolation, 0u).toUInt());
    setHighlightRecovery(settings.value(Key::Highlights, 1u).toUInt());
    setBtCompliantIterations(settings.value(Key::BtCompliantIterations, 20u).toUInt());
    setBtMinIterations(settings.value(Key::BtMinIterations, 50u).toUInt());
    setBtMaxIterations(settings.value(Key::BtMaxIterations, 400u).toUInt());
    setTileMeshWidth(settings.value(Key::TileMeshWidth, 20u).toUInt());
    setTileMeshHeight(settings.value(Key::TileMeshHeight, 20u).toUInt());
}

// ---- Persisted settings ------------------------------------------------------------------------

template <typename T>
bool Velotrimmer::storeSetting(T& field, const T& given, const T& kept, const QString& key)
{
    if (sameValue(field, given))
        return false;
    field = kept;
    QSettings().setValue(key, QVariant::fromValue(kept));
    return true;
}

void Velotrimmer::resetResumeStep(ResetRule rule)
{
    bool applies = false;
    switch (rule) {
    case ResetRule::Linearity:
        applies = m_mode == Linearity;
        break;
    case ResetRule::LinearitySimulated:
        applies = m_mode == Linearity && m_display == m_simulatedDisplay;
        break;
    case ResetRule::Balance:
        applies = m_mode == Balance;
        break;
    case ResetRule::Uniformity:
        applies = uniformityMode();
        break;
    case ResetRule::Always:
        applies = true;
        break;
    }
    if (applies)
        setResumeStep(0);
}

void Velotrimmer::setFilepath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? path.left(slash + 1) : QString();
    if (folder == m_filepath)
        return;
    m_filepath = folder;
    QSettings().setValue(Key::Filepath, folder);
}

void Velotrimmer::setTargetCCT(uint targetCCT)
{
    if (!storeSetting(m_targetCCT, targetCCT, std::clamp(targetCCT, MinTargetCCT, MaxTargetCCT), Key::TargetCCT))
        return;
    resetResumeStep(ResetRule::LinearitySimulated);
    emit targetCCTChanged(m_targetCCT);
}

void Velotrimmer::setTargetDuv(double targetDuv)
{
    if (!storeSetting(m_targetDuv, targetDuv, std::clamp(targetDuv, -MaxAbsTargetDuv, MaxAbsTargetDuv), Key::TargetDuv))
        return;
    resetResumeStep(ResetRule::LinearitySimulated);
    emit targetDuvChanged();
}

void Velotrimmer::setReadDelay(uint readDelay)
{
    const uint clamped = std::clamp(readDelay, MinReadDelayMs, MaxReadDelayMs);
    // The grabber always hears the delay, so that it has it even when the setting is unchanged.
    onBackground([clamped](Background& background) { background.setReadDelay(static_cast<int>(clamped)); });
    if (!storeSetting(m_readDelay, clamped, clamped, Key::ReadDelay))
        return;
    emit readDelayChanged(m_readDelay);
}

void Velotrimmer::setReadCount(uint readCount)
{
    if (!storeSetting(m_readCount, readCount, std::clamp(readCount, 1u, MaxReadCount), Key::ReadCount))
        return;
    emit readCountChanged();
}

void Velotrimmer::setSteps(uint steps)
{
    if (!storeSetting(m_steps, steps, std::max(steps, 1u), Key::Steps))
        return;
    resetResumeStep(ResetRule::Linearity);
    emit stepsChanged();
}

void Velotrimmer::setGamma(double gamma)
{
    if (!storeSetting(m_gamma, gamma, std::clamp(gamma, MinGamma, MaxGamma), Key::Gamma))
        return;
    resetResumeStep(ResetRule::LinearitySimulated);
    emit gammaChanged();
}

void Velotrimmer::setAmbientBlack(bool ambientBlack)
{
    if (!storeSetting(m_ambientBlack, ambientBlack, ambientBlack, Key::AmbientBlack))
        return;
    emit ambientBlackChanged();
}

void Velotrimmer::setStepSpacing(double stepSpacing)
{
    // Equal or falling levels would divide by zero when the curves are built.
    const double kept = stepSpacing > MinStepSpacing ? stepSpacing : MinStepSpacing;
    if (!storeSetting(m_stepSpacing, stepSpacing, kept, Key::StepSpacing))
        return;
    resetResumeStep(ResetRule::Linearity);
    emit stepSpacingChanged();
}

void Velotrimmer::setBrightnessLevel(uint brightnessLevel)
{
    if (m_kestra && brightnessLevel > m_kestra->lumaMax())
        brightnessLevel = static_cast<uint>(m_kestra->lumaMax());
    if (!storeSetting(m_brightnessLevel, brightnessLevel, brightnessLevel, Key::Brightness))
        return;
    resetResumeStep(ResetRule::LinearitySimulated);
    emit brightnessLevelChanged();
}

bool Velotrimmer::useSrgb()
{
    bool processorAnswer = true;
    if (kestraIsCurrent()) {
        m_kestraEotfType = m_kestra->eotfType();
        if (m_kestraEotfType != SdrPreserve && m_kestraEotfType != SdrPower)
            qDebug("*** WARNING: unknown Kestra eotfType %s; assuming sdrPower ***", qUtf8Printable(m_kestraEotfType));
        processorAnswer = m_kestraEotfType == SdrPreserve;
    }
    return m_useDebugOptions ? m_useSrgb : processorAnswer;
}

void Velotrimmer::setUseSrgb(bool useSrgb)
{
    if (!storeSetting(m_useSrgb, useSrgb, useSrgb, Key::UseSrgb))
        return;
    resetResumeStep(ResetRule::Linearity);
    emit useSrgbChanged();
}

void Velotrimmer::setTrust1stPoint(bool trust1stPoint)
{
    if (!storeSetting(m_trust1stPoint, trust1stPoint, trust1stPoint, Key::Trust1st))
        return;
    resetResumeStep(ResetRule::Linearity);
    emit trust1stPointChanged();
}

void Velotrimmer::setStatusString(const QString& statusString)
{
    if (statusString == m_statusString)
        return;
    m_statusString = statusString;
    emit statusStringChanged();
}

void Velotrimmer::setStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void Velotrimmer::setFilename(const QString& filename)
{
    if (filename == m_filename)
        return;
    m_filename = filename;
    emit filenameChanged();
}

void Velotrimmer::setCalibrationAvailable(bool calibrationAvailable)
{
    if (calibrationAvailable == m_calibrationAvailable)
        return;
    m_calibrationAvailable = calibrationAvailable;
    emit calibrationAvailableChanged();
}

void Velotrimmer::setProgress(double progress)
{
    if (sameValue(progress, m_progress))
        return;
    m_progress = progress;
    emit progressChanged();
}

void Velotrimmer::setResumeStep(uint resumeStep)
{
    if (resumeStep == m_resumeStep)
        return;
    m_resumeStep = resumeStep;
    emit resumeStepChanged();
}

void Velotrimmer::setErrorAllowed(double errorAllowed)
{
    if (!storeSetting(m_errorAllowed, errorAllowed, errorAllowed, Key::ErrorAllowed))
        return;
    emit errorAllowedChanged();
}

void Velotrimmer::setMode(Mode mode)
{
    if (refuseWhileBusy(QString())) {
        qDebug("Can't switch modes while running!");
        return;
    }
    mode = validMode(mode);
    if (mode == m_mode)
        return;
    m_mode = mode;
    setStatus(0);
    setStatusString(QStringLiteral(" "));
    // A camera already in trouble says so as its mode comes up.
    showCameraTrouble();
    deleteAdjusters();
    QSettings().setValue(Key::Mode, static_cast<uint>(mode));
    if (uniformityMode())
        fetchLdms();
    setResumeStep(0);
    emit modeChanged();
}

void Velotrimmer::setBalanceTargetRed(double value)
{
    if (!storeSetting(m_balanceTargetRed, value, value, Key::BalanceRed))
        return;
    resetResumeStep(ResetRule::Balance);
    emit balanceTargetRedChanged();
}

void Velotrimmer::setBalanceTargetGreen(double value)
{
    if (!storeSetting(m_balanceTargetGreen, value, value, Key::BalanceGreen))
        return;
    resetResumeStep(ResetRule::Balance);
    emit balanceTargetGreenChanged();
}

void Velotrimmer::setBalanceTargetBlue(double value)
{
    if (!storeSetting(m_balanceTargetBlue, value, value, Key::BalanceBlue))
        return;
    resetResumeStep(ResetRule::Balance);
    emit balanceTargetBlueChanged();
}

void Velotrimmer::setTargetTime(const QString& targetTime)
{
    if (!storeSetting(m_targetTime, targetTime, targetTime, Key::TargetTime))
        return;
    emit targetTimeChanged();
}

void Velotrimmer::setFakeLdmVariation(double fakeLdmVariation)
{
    if (sameValue(fakeLdmVariation, m_fakeLdmVariation))
        return;
    m_fakeLdmVariation = fakeLdmVariation;
    emit fakeLdmVariationChanged();
}

void Velotrimmer::setColorimeterType(int colorimeterType)
{
    const int before = this->colorimeterType();
    if (colorimeterType == before)
        return;
    switchInput(); // refused, with the reason in the status line, while a run is under way
    if (this->colorimeterType() != before)
        emit colorimeterTypeChanged();
}

void Velotrimmer::setCameraType(int cameraType)
{
    const int before = this->cameraType();
    if (cameraType == before)
        return;
    switchCamera(); // refused, with the reason in the status line, while a run is under way
    if (this->cameraType() != before)
        emit cameraTypeChanged();
}

void Velotrimmer::setOutputType(int outputType)
{
    const int before = this->outputType();
    if (outputType == before)
        return;
    switchOutput(); // refused, with the reason in the status line, while a run is under way
    if (this->outputType() != before)
        emit outputTypeChanged();
}

void Velotrimmer::setTileGraderProfiling(bool tileGraderProfiling)
{
    if (tileGraderProfiling == m_tileGraderProfiling)
        return;
    m_tileGraderProfiling = tileGraderProfiling;
    onTileGrader([tileGraderProfiling](TileGrader& grader) { grader.setProfiling(tileGraderProfiling); });
    emit tileGraderProfilingChanged();
}

void Velotrimmer::setCameraName(const QString& cameraName)
{
    if (cameraName == m_cameraName)
        return;
    m_cameraName = cameraName;
    emit cameraNameChanged();
    getLensFiles();
}

void Velotrimmer::setLensName(const QString& lensName)
{
    m_lensName = lensName;
    emit lensNameChanged();
    QSettings().setValue(Key::LensName, lensName);
}

void Velotrimmer::setLensFile(const QString& lensFile)
{
    m_lensFile = lensFile;
    emit lensFileChanged(lensFile);
    QSettings().setValue(Key::LensFile, lensFile);
}

void Velotrimmer::setUseDebugOptions(bool useDebugOptions)
{
    if (useDebugOptions == m_useDebugOptions)
        return;
    m_useDebugOptions = useDebugOptions;
    emit useDebugOptionsChanged();
    emit useSrgbChanged();

    m_cameraController->autoControlExposure(m_autoControlExposure || !useDebugOptions);
    const bool removeReflections = m_removeReflections && useDebugOptions;
    const bool logImages = m_useLogImages && useDebugOptions;
    onBackground([removeReflections, logImages](Background& background) {
        background.removeReflections(removeReflections);
        background.useLogImages(logImages);
    });
    if (m_imageSource)
        m_imageSource->useRawImages(m_useRawImages && useDebugOptions);
    emit removeReflectionsChanged();
    emit useLogImagesChanged();
    emit useRawImagesChanged();

    if (!useDebugOptions && m_mode == Template)
        setMode(Balance);
    setStatusString(useDebugOptions ? QStringLiteral("Developer options are on.")
                                    : QStringLiteral("Developer options are off."));
    QSettings().setValue(Key::Debug, useDebugOptions);
}

void Velotrimmer::setHighGainLimit(double highGainLimit)
{
    if (!storeSetting(m_highGainLimit, highGainLimit, highGainLimit, Key::HighGainLimit))
        return;
    emit highGainLimitChanged();
}

void Velotrimmer::setLowGainLimit(double lowGainLimit)
{
    if (!storeSetting(m_lowGainLimit, lowGainLimit, lowGainLimit, Key::LowGainLimit))
        return;
    emit lowGainLimitChanged();
}

void Velotrimmer::setBtCompliantIterations(uint iterations)
{
    if (!storeSetting(m_btCompliantIterations, iterations, iterations, Key::BtCompliantIterations))
        return;
    emit btCompliantIterationsChanged();
}

void Velotrimmer::setBtMinIterations(uint iterations)
{
    if (!storeSetting(m_btMinIterations, iterations, iterations, Key::BtMinIterations))
        return;
    emit btMinIterationsChanged();
}

void Velotrimmer::setBtMaxIterations(uint iterations)
{
    // The progress of a uniformity run is a fraction of this number.
    if (!storeSetting(m_btMaxIterations, iterations, std::max(iterations, MinIterations), Key::BtMaxIterations))
        return;
    emit btMaxIterationsChanged();
}

void Velotrimmer::setTileMeshWidth(uint width)
{
    // Cell sizes are tile sizes divided by the mesh.
    if (!storeSetting(m_tileMeshWidth, width, std::max(width, MinMeshCells), Key::TileMeshWidth))
        return;
    emit tileMeshWidthChanged();
}

void Velotrimmer::setTileMeshHeight(uint height)
{
    if (!storeSetting(m_tileMeshHeight, height, std::max(height, MinMeshCells), Key::TileMeshHeight))
        return;
    emit tileMeshHeightChanged();
}

void Velotrimmer::setAutoControlExposure(bool autoControlExposure)
{
    if (autoControlExposure == m_autoControlExposure)
        return;
    m_autoControlExposure = autoControlExposure;
    emit autoControlExposureChanged();
    QSettings().setValue(Key::AutoControlExposure, autoControlExposure);
    m_cameraController->autoControlExposure(autoControlExposure || !m_useDebugOptions);
}

void Velotrimmer::setRemoveReflections(bool removeReflections)
{
    const bool applied = removeReflections && m_useDebugOptions;
    onBackground([applied](Background& background) { background.removeReflections(applied); });
    if (!storeSetting(m_removeReflections, removeReflections, removeReflections, Key::RemoveReflections))
        return;
    emit removeReflectionsChanged();
}

void Velotrimmer::setUseLogImages(bool useLogImages)
{
    const bool applied = useLogImages && m_useDebugOptions;
    onBackground([applied](Background& background) { background.useLogImages(applied); });
    if (!storeSetting(m_useLogImages, useLogImages, useLogImages, Key::LogImages))
        return;
    emit useLogImagesChanged();
}

void Velotrimmer::setUseRawImages(bool useRawImages)
{
    if (m_imageSource)
        m_imageSource->useRawImages(useRawImages && m_useDebugOptions);
    if (useRawImages == m_useRawImages)
        return;
    m_useRawImages = useRawImages;
    emit useRawImagesChanged();
    qDebug("Velotrimmer:useRawImages %d", useRawImages ? 1 : 0);
    QSettings().setValue(Key::RawImages, useRawImages);
}

void Velotrimmer::setLinearGainBoost(uint linearGainBoost)
{
    onTileGrader([linearGainBoost](TileGrader& grader) { grader.setLinearGainBoost(linearGainBoost); });
    if (!storeSetting(m_linearGainBoost, linearGainBoost, linearGainBoost, Key::LinearGainBoost))
        return;
    emit linearGainBoostChanged();
}

void Velotrimmer::setRawInterpolation(uint rawInterpolation)
{
    onTileGrader([rawInterpolation](TileGrader& grader) { grader.setRawInterpolation(rawInterpolation); });
    if (!storeSetting(m_rawInterpolation, rawInterpolation, rawInterpolation, Key::RawInterpolation))
        return;
    emit rawInterpolationChanged();
}

void Velotrimmer::setHighlightRecovery(uint highlightRecovery)
{
    onTileGrader([highlightRecovery](TileGrader& grader) { grader.setHighlightRecovery(highlightRecovery); });
    if (!storeSetting(m_highlightRecovery, highlightRecovery, highlightRecovery, Key::Highlights))
        return;
    emit highlightRecoveryChanged();
}

void Velotrimmer::setGainTweak(float gainTweak)
{
    onTileGrader([gainTweak](TileGrader& grader) { grader.setGainTweak(gainTweak); });
    if (sameValue(gainTweak, m_gainTweak))
        return;
    m_gainTweak = gainTweak;
    emit gainTweakChanged();
}

void Velotrimmer::appendLinearityLog(QString text)
{
    m_linearityLog.appendEntry(QDateTime::currentDateTime(), QString(), LogModel::Info, QString(), text);
}

void Velotrimmer::clearLinearityLog()
{
    m_linearityLog.clear();
}

void Velotrimmer::updateStatusString(QString newString)
{
    setStatusString(newString);
}
