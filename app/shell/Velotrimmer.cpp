#include "shell/Velotrimmer.h"

#include "display/Kestra.h"
#include "display/SimulatedDisplay.h"
#include "engine/Background.h"
#include "engine/Calibrator.h"
#include "engine/TileGrader.h"
#include "instruments/CameraController.h"
#include "instruments/CineMeterII.h"
#include "instruments/Colorimeter.h"
#include "instruments/CR100.h"
#include "instruments/ImageSource.h"
#include "shell/CalibrationFile.h"
#include "shell/CorrectionCurves.h"
#include "shell/Updater.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QScopedValueRollback>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Key {
const QString ColorMeter = QStringLiteral("colorMeter");
const QString Output = QStringLiteral("output");
const QString Camera = QStringLiteral("camera");
const QString Mode = QStringLiteral("mode");
const QString AmbientBlack = QStringLiteral("ambientBlack");
const QString TargetCCT = QStringLiteral("targetCCT");
const QString TargetDuv = QStringLiteral("targetDuv");
const QString Gamma = QStringLiteral("gamma");
const QString ErrorAllowed = QStringLiteral("errAllowed");
const QString Brightness = QStringLiteral("bright");
const QString Steps = QStringLiteral("steps");
const QString StepSpacing = QStringLiteral("stepspacing");
const QString ReadDelay = QStringLiteral("readDelay");
const QString ReadCount = QStringLiteral("readCount");
const QString Filepath = QStringLiteral("filepath");
const QString BalanceRed = QStringLiteral("balRed");
const QString BalanceGreen = QStringLiteral("balGreen");
const QString BalanceBlue = QStringLiteral("balBlue");
const QString TargetTime = QStringLiteral("targetTime");
const QString UseSrgb = QStringLiteral("useSRGB");
const QString Trust1st = QStringLiteral("trust1st");
const QString HighGainLimit = QStringLiteral("hiGainLimit");
const QString LowGainLimit = QStringLiteral("loGainLimit");
const QString Debug = QStringLiteral("debug");
const QString AutoControlExposure = QStringLiteral("autoControlExp");
const QString RemoveReflections = QStringLiteral("removeRefl");
const QString LogImages = QStringLiteral("logImages");
const QString RawImages = QStringLiteral("rawImages");
const QString LinearGainBoost = QStringLiteral("linearGainBoost");
const QString RawInterpolation = QStringLiteral("rawInterpolation");
const QString Highlights = QStringLiteral("highlights");
const QString BtCompliantIterations = QStringLiteral("btCompliantIterations");
const QString BtMinIterations = QStringLiteral("btMinIterations");
const QString BtMaxIterations = QStringLiteral("btMaxIterations");
const QString TileMeshHeight = QStringLiteral("tileMeshHeight");
const QString TileMeshWidth = QStringLiteral("tileMeshWidth");
const QString SelectedLdm = QStringLiteral("selectedLdm");
const QString LensFile = QStringLiteral("lensFile");
} // namespace Key

namespace {

const QString SimulatedDisplayName = QStringLiteral("Simulated Display");
const QString SdrPreserve = QStringLiteral("sdrPreserve");
const QString SdrPower = QStringLiteral("sdrPower");
const QString LensResourceFolder = QStringLiteral(":src/lenscomp");
const QString DeviceSwitchRefused = QStringLiteral("Stop the run before switching devices.");
const QString RunStillEnding = QStringLiteral("The last run is still ending; try again in a moment.");

// Smallest settings that keep the level spacing, the mesh and the progress fraction defined.
constexpr double MinStepSpacing = 0.1;
constexpr uint MinMeshCells = 1;
constexpr uint MinIterations = 1;
constexpr int TargetExposureGreen = 175;
constexpr double GreenPerClick = 20.0;
constexpr int ExposureSettleMs = 1500;
constexpr int ExposureChangedSettleMs = 500;

bool sameValue(double a, double b)
{
    return qFuzzyCompare(a, b);
}

bool sameValue(float a, float b)
{
    return qFuzzyCompare(a, b);
}

template <typename T>
bool sameValue(const T& a, const T& b)
{
    return a == b;
}

// A stored mode from an older or damaged store falls back to the colorimeter correction.
Velotrimmer::Mode validMode(uint value)
{
    return value <= Velotrimmer::Template ? static_cast<Velotrimmer::Mode>(value) : Velotrimmer::Linearity;
}

QString defaultFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // The trailing slash makes the folder accessor keep the documents folder itself.
    return documents.isEmpty() ? QString() : documents + QLatin1Char('/');
}

} // namespace

Velotrimmer::Velotrimmer(boost::asio::io_context& ioContext, QObject* parent)
    : QObject(parent)
    , m_ioContext(ioContext)
{
    QSettings settings;
    m_appLog = LogModel::appLog();

    m_colorMeter = settings.value(Key::ColorMeter, true).toBool();
    m_output = settings.value(Key::Output, false).toBool();
    m_camera = settings.value(Key::Camera, false).toBool();
    m_mode = validMode(settings.value(Key::Mode, 0u).toUInt());

    m_updater = new Updater(this);
    m_dummyColorimeter = new Colorimeter(Colorimeter::DummyName, this);
    m_cineMeterII = new CineMeterII(this);
    m_cr100 = new CR100(this);
    setColorimeter(m_colorMeter ? static_cast<Colorimeter*>(m_cr100) : m_cineMeterII);

    m_simulatedDisplay = new SimulatedDisplay(this);
    m_simulatedDisplay->setName(SimulatedDisplayName);
    m_kestra = new Kestra(m_ioContext, this);
    m_dummyCamera = new ImageSource(this);
    m_cameraController = new CameraController(this);
    m_dummyCamera->connect();
    m_cameraController->connect();
    connect(m_cameraController, &ImageSource::cameraNameChanged, this, &Velotrimmer::setCameraName);

    auto* background = new Background;
    m_background = background;
    m_tileGraderProfiling = background->grader()->profiling(); // read before the thread starts
    background->moveToThread(&m_backgroundThread);
    connect(&m_backgroundThread, &QThread::finished, background, &QObject::deleteLater);

    setImageSource(m_camera ? m_dummyCamera : m_cameraController);
    restoreSettings();

    connect(&m_timer, &QTimer::timeout, this, &Velotrimmer::pollDevices, Qt::QueuedConnection);
    m_timer.start(PollIntervalMs);

    auto* calibrator = new Calibrator(0, 0, nullptr);
    m_calibrator = calibrator;
    calibrator->moveToThread(&m_calibratorThread);
    connect(&m_calibratorThread, &QThread::finished, calibrator, &QObject::deleteLater);
    connect(this, &Velotrimmer::runningChanged, calibrator, &Calibrator::setRunning, Qt::QueuedConnection);
    connectColorimeter(true);

    setDisplay(m_output ? static_cast<DisplayBase*>(m_simulatedDisplay) : m_kestra);
    connectCalibrator();

    // The camera hears the processor's frequency and colour temperature whichever display is current.
    connect(m_kestra, &DisplayBase::outputFrequencyChanged, m_cameraController, &ImageSource::displayFrequency);
    m_cameraController->displayFrequency(m_kestra->outputFrequency());
    connect(m_kestra, &Kestra::cctChanged, m_cameraController,
            [camera = m_cameraController](uint cct) { camera->displayCct(static_cast<int>(cct)); });
    m_cameraController->displayCct(static_cast<int>(m_kestra->cct()));

    connect(this, &Velotrimmer::runningChanged, background, &Background::setRunning);
    connect(this, &Velotrimmer::ldmArrayInfo, background, &Background::setArrayInfo);
    connect(this, &Velotrimmer::grabImageData, background, &Background::grabImageData);
    connect(background, &Background::grabImageDataDone, this, &Velotrimmer::grabImageDataDone);
    connect(background, &Background::blankDisplay, this, &Velotrimmer::blankDisplay);
    connect(this, &Velotrimmer::lensFileChanged, background->grader(), &TileGrader::setLensFile);

    qDebug("backgrounded, not waitlooped");
    m_calibratorThread.start(QThread::InheritPriority);
    m_backgroundThread.start(QThread::HighestPriority);

    getLensFiles();
}

Velotrimmer::~Velotrimmer()
{
    qDebug("~Velotrimmer()");
    aboutToQuit();
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

void Velotrimmer::connectCalibrator()
{
    Calibrator* calibrator = m_calibrator;
    connect(calibrator, &Calibrator::done, this, &Velotrimmer::calibratorDone);
    connect(calibrator, &Calibrator::getLdmsObserved, this, &Velotrimmer::getLdmsObserved);
    connect(calibrator, &Calibrator::getTilesObserved, this, &Velotrimmer::getTilesObserved);
    connect(this, &Velotrimmer::ldmsObserved, calibrator, &Calibrator::macropixelsObserved);
    connect(this, &Velotrimmer::tilesObserved, calibrator, &Calibrator::tilesObserved);
    connect(calibrator, &Calibrator::statusStringChanged, this, &Velotrimmer::updateStatusString);
    connect(calibrator, &Calibrator::progressChanged, this, &Velotrimmer::setProgress);
    connect(calibrator, &Calibrator::updateProgress, this, &Velotrimmer::updateProgress);
    connect(calibrator, &Calibrator::clearLinearityLog, this, &Velotrimmer::clearLinearityLog);
    connect(calibrator, &Calibrator::appendLinearityLog, this, &Velotrimmer::appendLinearityLog);
}

void Velotrimmer::connectColorimeter(bool connected)
{
    if (!m_colorimeter || !m_calibrator)
        return;
    Calibrator* calibrator = m_calibrator;
    if (connected) {
        connect(m_colorimeter, &Colorimeter::dataAvailable, calibrator, &Calibrator::readColorimeterData);
        connect(calibrator, &Calibrator::takeReading, m_colorimeter, &Colorimeter::read);
    } else {
        disconnect(m_colorimeter, &Colorimeter::dataAvailable, calibrator, &Calibrator::readColorimeterData);
        disconnect(calibrator, &Calibrator::takeReading, m_colorimeter, &Colorimeter::read);
    }
}

void Velotrimmer::aboutToQuit()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_timer.stop();
    endRunning();
    // Nothing may stay waiting on the network or on the GUI thread while the workers are joined:
    // not the current display (whichever it is), nor any the controller owns.
    QList<DisplayBase*> displays = findChildren<DisplayBase*>(Qt::FindDirectChildrenOnly);
    if (m_display && !displays.contains(m_display))
        displays.append(m_display);
    for (DisplayBase* display : displays) {
        display->cancelPending();
        display->closeToOtherThreads();
    }
    m_calibratorThread.quit();
    m_calibratorThread.wait();
    m_backgroundThread.quit();
    m_backgroundThread.wait();
    deleteAdjusters();
    // Reports the workers queued before they ended have no sender left to describe.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
}

// ---- Device switching --------------------------------------------------------------------------

void Velotrimmer::switchInput()
{
    if (refuseWhileBusy(DeviceSwitchRefused))
        return;
    m_colorMeter = !m_colorMeter;
    setColorimeter(m_colorMeter ? static_cast<Colorimeter*>(m_cr100) : m_cineMeterII);
    QSettings().setValue(Key::ColorMeter, m_colorMeter);
}

void Velotrimmer::switchOutput()
{
    if (refuseWhileBusy(DeviceSwitchRefused))
        return;
    m_output = !m_output;
    setDisplay(m_output ? static_cast<DisplayBase*>(m_simulatedDisplay) : m_kestra);
    QSettings().setValue(Key::Output, m_output);
    if (uniformityMode())
        fetchLdms();
}

void Velotrimmer::switchCamera()
{
    if (refuseWhileBusy(DeviceSwitchRefused))
        return;
    m_camera = !m_camera;
    setImageSource(m_camera ? m_dummyCamera : static_cast<ImageSource*>(m_cameraController));
    QSettings().setValue(Key::Camera, m_camera);
}

void Velotrimmer::setColorimeter(Colorimeter* colorimeter)
{
    if (colorimeter == m_colorimeter)
        return;
    if (refuseWhileBusy(DeviceSwitchRefused))
        return;
    connectColorimeter(false);
    m_colorimeter = colorimeter;
    connectColorimeter(true);
    resetResumeStep(ResetRule::Linearity);
    emit colorimeterChanged();
}

void Velotrimmer::setDisplay(DisplayBase* display)
{
    if (display == m_display)
        return;
    if (refuseWhileBusy(DeviceSwitchRefused))
        return;
    if (m_display && m_calibrator)
        disconnect(m_display, &DisplayBase::fetchedOutputConfig, this, &Velotrimmer::fetchedOutputConfig);
    m_display = display;
    if (m_calibrator) {
        // The engine's display pointer may be written from this thread at any time.
        m_calibrator->setDisplay(display);
        const bool simulated = display != m_kestra;
        onCalibrator([simulated](Calibrator& calibrator) { calibrator.setSimulatedDisplay(simulated); });
    }
    if (display && m_calibrator)
        connect(display, &DisplayBase::fetchedOutputConfig, this, &Velotrimmer::fetchedOutputConfig);
    if (display)
        m_selectedLdm = QSettings().value(Key::SelectedLdm + display->address(), 0).toInt();
    resetResumeStep(ResetRule::Always);
    emit displayChanged();
}

void Velotrimmer::setImageSource(ImageSource* imageSource)
{
    if (imageSource == m_imageSource)
        return;
    if (refuseWhileBusy(DeviceSwitchRefused))
        return;
    m_imageSource = imageSource;
    if (imageSource) {
        imageSource->autoControlExposure(m_autoControlExposure || !m_useDebugOptions);
        imageSource->useRawImages(m_useRawImages && m_useDebugOptions);
    }
    resetResumeStep(ResetRule::Uniformity);
    emit imageSourceChanged();
}

void Velotrimmer::setKestra(Kestra* kestra)
{
    if (kestra == m_kestra)
        return;
    m_kestra = kestra;
    emit kestraChanged();
}

Calibrator* Velotrimmer::calibrator() const
{
    return m_calibrator;
}

Background* Velotrimmer::background() const
{
    return m_background;
}

TileGrader* Velotrimmer::tileGrader() const
{
    return m_background ? m_background->grader() : nullptr;
}

Colorimeter* Velotrimmer::cineMeterII() const
{
    return m_cineMeterII;
}

bool Velotrimmer::showSimulatedDisplay() const
{
    return m_display != m_kestra;
}

bool Velotrimmer::kestraIsCurrent() const
{
    return m_kestra && m_display == m_kestra;
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
    QSettings().setValue(QStringLiteral("lensName"), lensName);
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

// ---- Calls into the worker threads -------------------------------------------------------------

void Velotrimmer::onCalibrator(std::function<void(Calibrator&)> call)
{
    if (!m_calibrator)
        return;
    QMetaObject::invokeMethod(
        m_calibrator, [calibrator = m_calibrator.data(), call = std::move(call)] { call(*calibrator); },
        Qt::QueuedConnection);
}

void Velotrimmer::onBackground(std::function<void(Background&)> call)
{
    if (!m_background)
        return;
    QMetaObject::invokeMethod(
        m_background, [background = m_background.data(), call = std::move(call)] { call(*background); },
        Qt::QueuedConnection);
}

void Velotrimmer::onTileGrader(std::function<void(TileGrader&)> call)
{
    onBackground([call = std::move(call)](Background& background) { call(*background.grader()); });
}

void Velotrimmer::setTask(int task)
{
    m_task = task;
    onCalibrator([task](Calibrator& calibrator) { calibrator.setTask(static_cast<Calibrator::TaskType>(task)); });
}

// ---- Runs --------------------------------------------------------------------------------------

bool Velotrimmer::refuseWhileBusy(const QString& duringRun)
{
    if (m_running) {
        if (!duringRun.isEmpty())
            setStatusString(duringRun);
        return true;
    }
    if (m_awaitingDone) {
        setStatusString(RunStillEnding);
        return true;
    }
    return false;
}

bool Velotrimmer::refuseStart()
{
    return m_shutDown || refuseWhileBusy(QString());
}

void Velotrimmer::startCalibrator()
{
    // Every task but the empty one ends with the calibrator's done, which settles the run.
    m_awaitingDone = m_task != Calibrator::Nothing;
    emit runningChanged(true);
}

void Velotrimmer::endRunning()
{
    if (!m_running)
        return;
    m_running = false;
    emit runningChanged(false);
}

void Velotrimmer::waitWhileRunning(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired() && m_running) {
        QCoreApplication::processEvents();
        QThread::msleep(WaitSliceMs);
    }
}

void Velotrimmer::setRunning(bool running)
{
    if (running == m_running || (running && refuseStart()))
        return;
    m_running = running;
    if (!running) {
        emit runningChanged(false);
        return;
    }
    setStatus(0);
    const bool simulated = !kestraIsCurrent();
    onCalibrator([simulated](Calibrator& calibrator) { calibrator.setSimulatedDisplay(simulated); });

    if (uniformityMode()) {
        setResumeStep(0);
        if (!setupBalance()) {
            setStatus(-1);
            setRunningSilently(false);
            return;
        }
    } else {
        setupKestra();
        // The program may have begun to quit while the processor was being prepared.
        if (m_shutDown) {
            setRunningSilently(false);
            return;
        }
        const double gamma = kestraIsCurrent() ? m_kestraGamma : m_gamma;
        const bool srgb = useSrgb();
        if (srgb && gamma != SrgbProcessorGamma) {
            qInfo("Correction canceled: KESTRA Gamma (HDR) is %.2f, must be 1.0 for sRGB corrections.",
                  gamma / SrgbProcessorGamma);
            setStatusString(QStringLiteral("Correction canceled: KESTRA Gamma (HDR) must be 1.0 to correct using sRGB."));
            // Put the processor back while still marked running, so that the refusal is never
            // announced as a start and an end.
            resetKestra(true);
            setRunningSilently(false);
            return;
        }
        qInfo(srgb ? "Correcting to sRGB." : "Correcting to KESTRA gamma.");
        setupCalibrator();
    }
    startCalibrator();
}

void Velotrimmer::resume()
{
    if (refuseStart())
        return;
    setRunningSilently(true);
    setStatus(0);
    if (uniformityMode()) {
        if (!setupBalance()) {
            setRunningSilently(false);
            return;
        }
    } else {
        qInfo("======== Resuming correction ========");
        setupKestra();
        if (m_shutDown) {
            setRunningSilently(false);
            return;
        }
        setupCalibrator();
        setTask(Calibrator::Resume);
    }
    startCalibrator();
}

void Velotrimmer::test()
{
    if (refuseStart())
        return;
    setRunningSilently(true);
    setStatus(0);
    setupCalibrator();
    setTask(Calibrator::TestReadCounts);
    setResumeStep(0);
    startCalibrator();
}

void Velotrimmer::takeMeasurement()
{
    if (refuseStart())
        return;
    setRunningSilently(true);
    setStatus(0);
    // Consecutive measurements accumulate in one log.
    if (m_task != Calibrator::Measure)
        m_linearityLog.clear();
    setupCalibrator();
    setTask(Calibrator::Measure);
    startCalibrator();
}

void Velotrimmer::runNothing()
{
    if (refuseStart())
        return;
    setRunningSilently(true);
    setStatus(0);
    // The task is shared by every calibrator: one write reaches the adjusters too.
    setTask(Calibrator::Nothing);
    startCalibrator();
}

void Velotrimmer::stop()
{
    m_display->cancelPending();
}

void Velotrimmer::setupCalibrator()
{
    m_display->setCycling(false);
    setTask(Calibrator::Calibrate);

    uint targetCCT = m_targetCCT;
    double targetDuv = m_targetDuv;
    double gamma = m_gamma;
    double targetLum = m_brightnessLevel;
    if (kestraIsCurrent()) {
        targetCCT = static_cast<uint>(m_kestraCct);
        targetDuv = m_kestraDuv;
        gamma = m_kestraGamma;
        targetLum = m_kestra->lumaMax() * m_kestraPercentBrightness / 100.0;
    }
    const bool srgb = useSrgb();
    const bool trustFirst = m_trust1stPoint;
    const double gainRed = m_display->displayGainRed();
    const double gainGreen = m_display->displayGainGreen();
    const double gainBlue = m_display->displayGainBlue();
    const uint readCount = m_colorimeter && m_colorimeter->isSpectrometer() ? 1u : m_readCount;
    // Copies only: the call runs on the calibrator's thread while this one may change the settings.
    const uint readDelay = m_readDelay;
    const uint steps = m_steps;
    m_runSteps = steps;
    const bool ambientBlack = m_ambientBlack;
    const double stepSpacing = m_stepSpacing;
    const double errorAllowed = m_errorAllowed;
    onCalibrator([=](Calibrator& calibrator) {
        calibrator.setMode(Linearity);
        calibrator.setTargetCCT(targetCCT);
        calibrator.setTargetDuv(targetDuv);
        calibrator.setGamma(gamma);
        calibrator.setUseSRGB(srgb);
        calibrator.setAssumeTargets(trustFirst);
        calibrator.setBalanceRGB(gainRed, gainGreen, gainBlue);
        calibrator.setTargetLum(targetLum);
        calibrator.setReadDelay(readDelay);
        calibrator.setReadCount(readCount);
        calibrator.setSteps(steps);
        calibrator.setAmbientBlack(ambientBlack);
        calibrator.setStepSpacing(stepSpacing);
        calibrator.setErrorAllowed(errorAllowed);
    });
}

void Velotrimmer::deleteAdjusters()
{
    if (m_adjusterSet.isEmpty() && m_adjusterSet.macropixels().isEmpty())
        return;
    // The calibrator lets go of the lists before their objects go.
    onCalibrator([](Calibrator& calibrator) {
        calibrator.setAdjusters({});
        calibrator.setMacropixels({});
        calibrator.setTiles({});
    });
    m_adjusterSet.clear();
}

// ---- The processor around a correction ---------------------------------------------------------

void Velotrimmer::setupKestra()
{
    if (!kestraIsCurrent())
        return;
    m_pollDisplay = false;
    qDebug("Setting up KESTRA for correction.");
    m_kestraPercentBrightness = m_kestra->percentBrightness();
    m_kestraCct = m_kestra->cct();
    m_kestraDuv = m_kestra->duv();
    m_kestraGamma = m_kestra->gamma();
    m_kestraEotfType = m_kestra->eotfType();
    m_kestra->setSendingEnabled(false);
    m_kestra->setRGB(0, 0.0, 0.0, 0.0);
    m_kestra->setCurvesEnabled(false);
    m_kestra->setTestPatternEnabled(true);
    qInfo("Velotrimmer::setupKestra(): updating kestra");
    updateKestra_();
}

void Velotrimmer::updateKestra_()
{
    m_kestra->setSendingEnabled(true);
    const bool wasRunning = m_running;
    if (!wasRunning)
        runNothing();
    const ErrorType result = m_kestra->sendDisplaySettings();
    if (!result.ok())
        qWarning("Velotrimmer::updateKestra_: error %s", qUtf8Printable(result.message));
    if (!wasRunning)
        setRunning(false);
}

void Velotrimmer::resetKestra(bool completed)
{
    if (!kestraIsCurrent())
        return;
    qInfo("Resetting KESTRA after correction.");
    m_kestra->setSendingEnabled(false);
    m_kestra->setTestPatternEnabled(false);
    m_kestra->setCurvesEnabled(true);
    m_kestra->setRGB(0, 1.0, 1.0, 1.0);
    qInfo("resume %d, completed %d", m_resumeStep, completed ? 1 : 0);

    const bool zeroGain = m_kestra->displayGainRed() == 0.0 || m_kestra->displayGainGreen() == 0.0
                          || m_kestra->displayGainBlue() == 0.0;
    bool reset = false;
    if (zeroGain) {
        if (completed || m_resumeStep != 0)
            qInfo("Display gains zero; resetting");
        else
            qInfo("Cancelled in first step; reset display gains");
        reset = true;
    } else if (!completed && m_resumeStep == 0 && !m_trust1stPoint) {
        qInfo("Cancelled in first step; reset display gains");
        reset = true;
    }
    if (reset)
        m_kestra->setDisplayGainRGB(1.0, 1.0, 1.0);

    updateKestra_();
    m_pollDisplay = true;
}

// ---- Target LDM and tile -----------------------------------------------------------------------

void Velotrimmer::chooseTargetLdm(int ldmNumber)
{
    if (busy())
        return;
    if (ldmNumber < 1 || static_cast<uint>(ldmNumber) > m_display->ldmCount()) {
        qDebug("Velotrimmer::chooseTargetLdm(): no LDM #%d", ldmNumber);
        setStatusString(QStringLiteral("There is no LDM #%1.").arg(ldmNumber));
        return;
    }
    setStatusString(QStringLiteral("Testing target LDM..."));
    m_targetLdmPending = true;
    setSelectedLdm(ldmNumber);
}

void Velotrimmer::chooseTargetTile(int tileNumber)
{
    const uint count = m_display->ldmCount();
    for (uint number = 1; number <= count; ++number) {
        if (tileNumber >= 0 && m_display->ldm(number).tileNumber == static_cast<quint32>(tileNumber)) {
            qDebug("Velotrimmer::chooseTargetTile() -> LDM %d", number);
            chooseTargetLdm(static_cast<int>(number));
            return;
        }
    }
    qDebug("Velotrimmer::chooseTargetTile() didn't find LDM!");
}

void Velotrimmer::setSelectedLdm(int selectedLdm)
{
    if (busy())
        return;
    const bool valid = selectedLdm >= 1 && static_cast<uint>(selectedLdm) <= m_display->ldmCount();
    if (selectedLdm != 0 && !valid) {
        qDebug("setSelectedLDM: no LDM #%d", selectedLdm);
        m_targetLdmPending = false;
        return;
    }
    m_selectedLdm = selectedLdm;
    qDebug("setSelectedLDM #%d", selectedLdm);
    QSettings().setValue(Key::SelectedLdm + m_display->address(), selectedLdm);
    emit selectedLdmChanged();
    if (selectedLdm == 0)
        return;

    deleteAdjusters();
    auto record = std::make_unique<Macropixel>(static_cast<quint32>(selectedLdm), 0.0f, 0.0f, 100.0f, 100.0f);
    *record = m_display->ldm(static_cast<uint>(selectedLdm));
    m_adjusterSet.appendRecord(std::move(record));
    runNothing();
    m_aeCount = 0;
    m_grabContinuation = [this](bool success) { targetLdmGrabbed(success); };
    if (!getImageLdmRGBData(false))
        targetLdmGrabbed(false);
}

void Velotrimmer::targetLdmGrabbed(bool success)
{
    if (success && !m_adjusterSet.macropixels().isEmpty()) {
        if (adjustExposureClicks()) {
            ++m_aeCount;
            qDebug("aeCount %d", m_aeCount);
            if (m_aeCount < MaxExposureAdjustments) {
                if (getImageLdmRGBData(false))
                    return;
                success = false;
            }
        }
    }
    if (success && !m_adjusterSet.macropixels().isEmpty()) {
        const Macropixel& target = *m_adjusterSet.macropixels().constFirst();
        if (acceptTargetLdm(target)) {
            setBalanceTargetRed(target.redObserved);
            setBalanceTargetGreen(target.greenObserved);
            setBalanceTargetBlue(target.blueObserved);
            setTargetTime(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss yyyy-MM-dd")));
            qInfo("LDM #%d: %s", target.number, qUtf8Printable(m_display->dumpLdm(target.number)));
            m_imageSource->saveExposure();
        }
    } else {
        qWarning("Error: unable to get RGB values for selected LDM");
    }
    deleteAdjusters();
    endRunning();
    emit selectedLdmChanged();
    emit m_display->ldmDataChanged();
    m_targetLdmPending = false;
}

bool Velotrimmer::acceptTargetLdm(const Macropixel& ldm)
{
    if (!m_targetLdmPending)
        return true;
    const int red = static_cast<int>(ldm.redObserved);
    const int green = static_cast<int>(ldm.greenObserved);
    const int blue = static_cast<int>(ldm.blueObserved);
    QString title;
    QString advice;
    if (green < TargetMinGreen || red < TargetMinRedBlue || blue < TargetMinRedBlue) {
        title = QStringLiteral("Target LDM too dark");
        advice = QStringLiteral("Increase camera\u2019s exposure or KESTRA\u2019s brightness");
    } else if (green > TargetMaxGreen || red > TargetMaxRedBlue || blue > TargetMaxRedBlue) {
        title = QStringLiteral("Target LDM too bright");
        advice = QStringLiteral("Decrease camera\u2019s exposure or KESTRA\u2019s brightness");
    } else {
        setStatusString(QStringLiteral("Using target LDM\u2019s RGB %1, %2, %3").arg(red).arg(green).arg(blue));
        return true;
    }
    setStatusString(title);
    emit showMessageBox(title,
                        QStringLiteral("This LDM's RGB values are %2, %3, %4. Target RGB values<br>must be between %5, "
                                       "%6, %5 and %7, %8, %7.<br><br>%1.<br>Aim for an exposure between middle gray "
                                       "and 75% peak white,<br>or a reading of +0.3 to +0.7 on the camera\u2019s "
                                       "exposure meter.")
                            .arg(advice)
                            .arg(red)
                            .arg(green)
                            .arg(blue)
                            .arg(TargetMinRedBlue)
                            .arg(TargetMinGreen)
                            .arg(TargetMaxRedBlue)
                            .arg(TargetMaxGreen));
    return false;
}

bool Velotrimmer::adjustExposureClicks()
{
    if (!m_targetLdmPending || m_imageSource != m_cameraController)
        return false;
    if (!m_autoControlExposure && m_useDebugOptions)
        return false;
    if (m_adjusterSet.macropixels().isEmpty())
        return false;
    const int green = static_cast<int>(m_adjusterSet.macropixels().constFirst()->greenObserved);
    const int clicks = static_cast<int>(std::round(static_cast<float>(TargetExposureGreen - green) / GreenPerClick));
    waitWhileRunning(ExposureSettleMs);
    qDebug("******* %+d clicks: green is %d  (target %d, diff %+d) *******", clicks, green, TargetExposureGreen,
           TargetExposureGreen - green);
    const bool changed = m_imageSource->changeExposure(clicks) != 0;
    qDebug("requested %+d clicks, got %schanges", clicks, changed ? "" : "NO ");
    if (changed)
        waitWhileRunning(ExposureChangedSettleMs);
    if (clicks == 0 || changed)
        return changed;
    qDebug("exposure didn't change; camera at limits.");
    setStatusString(QStringLiteral("Can't properly expose target LDM; please adjust KESTRA brightness."));
    return false;
}

void Velotrimmer::displayLdm(int ldmNumber)
{
    const uint number = static_cast<uint>(std::max(ldmNumber, 0));
    QString text = m_display->dumpLdm(number);
    if (m_balanceTargetRed != 0.0 && m_balanceTargetGreen != 0.0 && m_balanceTargetBlue != 0.0) {
        text += QStringLiteral(";  errors %1%, %2%, %3%")
                    .arg(100.0 * ldmRedError(ldmNumber), 7, 'f', 3, QLatin1Char(' '))
                    .arg(100.0 * ldmGreenError(ldmNumber), 7, 'f', 3, QLatin1Char(' '))
                    .arg(100.0 * ldmBlueError(ldmNumber), 7, 'f', 3, QLatin1Char(' '));
    }
    setStatusString(text);
    qInfo("%s", qUtf8Printable(text));
    setLoggableAdjuster(number);
}

void Velotrimmer::displayTile(int tileNumber)
{
    const uint number = static_cast<uint>(std::max(tileNumber, 0));
    const QString text = m_display->dumpTile(number);
    setStatusString(text);
    qInfo("%s", qUtf8Printable(text));
    setLoggableAdjuster(number);
}

void Velotrimmer::setLoggableAdjuster(uint number)
{
    for (Calibrator* adjuster : m_adjusterSet.adjusters())
        adjuster->setLoggable(adjuster->number() == number);
}

double Velotrimmer::ldmError(int ldmNumber, double target, double (DisplayBase::*observed)(uint))
{
    if (target == 0.0)
        return 0.0;
    const uint number = static_cast<uint>(std::max(ldmNumber, 0));
    return ((m_display->*observed)(number) - target) / target;
}

double Velotrimmer::ldmRedError(int ldmNumber)
{
    return ldmError(ldmNumber, m_balanceTargetRed, &DisplayBase::ldmRedObserved);
}

double Velotrimmer::ldmGreenError(int ldmNumber)
{
    return ldmError(ldmNumber, m_balanceTargetGreen, &DisplayBase::ldmGreenObserved);
}

double Velotrimmer::ldmBlueError(int ldmNumber)
{
    return ldmError(ldmNumber, m_balanceTargetBlue, &DisplayBase::ldmBlueObserved);
}

// ---- Display configuration, polling and small slots --------------------------------------------

void Velotrimmer::fetchLdms()
{
    if (!uniformityMode())
        return;
    qInfo("Getting LDM configuration...");
    setRunningSilently(true);
    waitWhileRunning(FetchLdmsDelayMs);
    setRunningSilently(false);
    // The program may have begun to quit during the wait: no new request then.
    if (m_shutDown)
        return;
    const ErrorType result = m_display->fetchOutputConfig();
    if (!result.ok())
        qWarning("Fetch LDMs failed: %s", qUtf8Printable(result.message));
}

void Velotrimmer::fetchedOutputConfig()
{
    if (m_mode == Template)
        m_display->recallLitTiles();
}

void Velotrimmer::pollDevices()
{
    // A poll waiting for a slow processor lets later ticks through its event loop: they skip.
    if (busy() || m_polling || m_shutDown)
        return;
    const QScopedValueRollback<bool> polling(m_polling, true);
    if (m_mode == Linearity && m_pollColorimeter && m_colorimeter)
        m_colorimeter->read();
    if (!m_pollDisplay)
        return;
    ErrorType result = m_display->readStatus();
    if (result.ok())
        result = m_display->fetchOutputConfig();
    if (!result.ok())
        qWarning("Error updating display: %s", qUtf8Printable(result.message));
}

void Velotrimmer::blankDisplay(bool blank)
{
    m_display->lightLitLdms(!blank);
}

bool Velotrimmer::usingRawImages() const
{
    return m_useRawImages && m_useDebugOptions;
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

void Velotrimmer::updateProgress()
{
    const QString items = m_mode == Template ? QStringLiteral("macropixels") : QStringLiteral("LDMs");
    uint active = 0;
    uint smallest = std::numeric_limits<uint>::max();
    for (Calibrator* adjuster : m_adjusterSet.adjusters()) {
        if (!adjuster->running())
            continue;
        ++active;
        smallest = std::min(smallest, adjuster->iteration());
    }
    // With no adjuster running there is no iteration to show.
    if (active == 0)
        return;
    const double fraction = static_cast<double>(smallest) / static_cast<double>(m_btMaxIterations);
    const QString remaining = Calibrator::updateStatusTimeRemaining(m_runStartTime, fraction);
    const QString text = smallest == 0
                             ? QStringLiteral("%1 %2 of %3 %4: setting initial gains%5...")
                                   .arg(QStringLiteral("Uniformity"))
                                   .arg(active)
                                   .arg(m_configuredAdjusters)
                                   .arg(items, remaining)
                             : QStringLiteral("%1 %2 of %3 %4: iteration %5%6...")
                                   .arg(QStringLiteral("Uniformity"))
                                   .arg(active)
                                   .arg(m_configuredAdjusters)
                                   .arg(items)
                                   .arg(smallest)
                                   .arg(remaining);
    setStatusString(text);
    setProgress(fraction);
}

// ---- Camera observations -----------------------------------------------------------------------

bool Velotrimmer::getImageLdmRGBData(bool verbose)
{
    if (m_display->ldmCount() == 0) {
        qInfo("Velotrimmer::getImageLdmRGBData: No LDMs found, so no capture or processing performed.");
        return false;
    }
    if (m_imageSource->isDummy()) {
        if (verbose)
            qInfo("Dummy camera used; \"capture\" succeeded.");
        emit m_display->needFakeLdmRGBsChanged();
        QList<Macropixel*> records = m_adjusterSet.macropixels();
        m_display->getLdmObservedRGBs(records);
        emit m_display->ldmDataChanged();
        if (m_grabContinuation)
            m_grabContinuation(true);
        return true;
    }
    const Macropixel& reference = m_display->litLdm(1);
    const int width = static_cast<int>(reference.width);
    const int height = static_cast<int>(reference.height);
    return describeArrayAndGrab(width, height, 1, 1, GrabLdms, verbose, "LDM");
}

bool Velotrimmer::getImageTileRGBData(bool verbose)
{
    if (m_display->tileCount() == 0) {
        qInfo("Velotrimmer::getImageTileRGBData: No Tiles found, so no capture or processing performed.");
        return false;
    }
    if (m_imageSource->isDummy()) {
        if (verbose)
            qInfo("Dummy camera used; tile \"capture\" cannot be done.");
        return false;
    }
    const Tile& reference = m_display->litTile(1);
    const int width = static_cast<int>(reference.width);
    const int height = static_cast<int>(reference.height);
    return describeArrayAndGrab(width, height, static_cast<int>(m_tileMeshWidth), static_cast<int>(m_tileMeshHeight),
                                GrabTiles, verbose, "Tile");
}

bool Velotrimmer::describeArrayAndGrab(int width, int height, int subColumns, int subRows, int kind, bool verbose,
                                       const char* what)
{
    if (width == 0 || height == 0) {
        endRunning();
        qWarning("Error: reference %s has a zero dimension: %d w, %d h", what, width, height);
        return false;
    }
    const int spanX = m_display->maxLitLdmX() - m_display->minLitLdmX();
    const int spanY = m_display->maxLitLdmY() - m_display->minLitLdmY();
    const int columns = spanX / width;
    const int rows = spanY / height;
    const float aspect = static_cast<float>(spanX) / static_cast<float>(spanY);
    if (verbose)
        qInfo("%s array is %d x %d (one %s is %d x %d)", what, columns, rows, what, width, height);
    ImageSource* source = m_imageSource;
    onBackground([source, columns, rows, aspect, subColumns, subRows](Background& background) {
        background.setImageSource(source);
        background.setArrayInfo(columns, rows, aspect);
        background.setSubarrayInfo(subColumns, subRows);
    });
    m_grabKind = kind;
    emit grabImageData(verbose);
    return true;
}

void Velotrimmer::grabImageDataDone(bool success, QList<cv::Mat*>* averagesArrayList)
{
    if (success)
        success = mapAverages(averagesArrayList);
    if (m_grabContinuation)
        m_grabContinuation(success);
}

bool Velotrimmer::mapAverages(const QList<cv::Mat*>* averages)
{
    const Macropixel& reference = m_display->litLdm(1);
    const int width = static_cast<int>(reference.width);
    const int height = static_cast<int>(reference.height);
    if (width == 0 || height == 0 || !averages) {
        qWarning("Error: no averages (%p), or reference LDM has a zero dimension: %d w, %d h",
                 static_cast<const void*>(averages), width, height);
        endRunning();
        return false;
    }
    const int minX = m_display->minLitLdmX();
    const int minY = m_display->minLitLdmY();
    // The cell under an item's centre holds its average.
    auto cellOf = [&](float x, float y, int w, int h, int columns) -> const cv::Mat* {
        const int column = static_cast<int>((static_cast<float>(w / 2) + x - static_cast<float>(minX)) / static_cast<float>(w));
        const int row = static_cast<int>((static_cast<float>(h / 2) + y - static_cast<float>(minY)) / static_cast<float>(h));
        const qsizetype index = static_cast<qsizetype>(row) * columns + column;
        if (column < 0 || row < 0 || column >= columns || index >= averages->size())
            return nullptr;
        return averages->at(index);
    };

    if (m_grabKind == GrabLdms) {
        const int columns = (m_display->maxLitLdmX() - minX) / width;
        const uint count = m_display->ldmCount();
        for (uint number = 1; number <= count; ++number) {
            const Macropixel& ldm = m_display->ldm(number);
            if (!ldm.isOn())
                continue;
            const cv::Mat* cell = cellOf(ldm.x, ldm.y, width, height, columns);
            if (!cell || cell->empty())
                continue;
            const cv::Vec3f pixel = cell->at<cv::Vec3f>(0, 0);
            m_display->setLdmRGBObserved(number, pixel[2], pixel[1], pixel[0]);
        }
        emit m_display->ldmDataChanged();
        if (!m_adjusterSet.macropixels().isEmpty()) {
            QList<Macropixel*> records = m_adjusterSet.macropixels();
            m_display->getLdmObservedRGBs(records);
        }
        return true;
    }

    const Tile& referenceTile = m_display->litTile(1);
    const int tileWidth = static_cast<int>(referenceTile.width);
    const int tileHeight = static_cast<int>(referenceTile.height);
    if (tileWidth == 0 || tileHeight == 0)
        return false;
    const int columns = (m_display->maxLitLdmX() - minX) / tileWidth;
    const qsizetype cells = static_cast<qsizetype>(m_tileMeshWidth) * m_tileMeshHeight;
    for (Tile* tile : m_adjusterSet.tiles()) {
        if (!tile->lit)
            continue;
        if (tile->ldms.size() != cells) {
            qWarning("grabImageDataDone(): tile %d mpel count is %lld, not %zu!", tile->number,
                     static_cast<long long>(tile->ldms.size()), static_cast<size_t>(cells));
            continue;
        }
        const cv::Mat* cell = cellOf(tile->x, tile->y, tileWidth, tileHeight, columns);
        if (!cell || cell->rows < static_cast<int>(m_tileMeshHeight) || cell->cols < static_cast<int>(m_tileMeshWidth))
            continue;
        for (uint row = 0; row < m_tileMeshHeight; ++row) {
            for (uint column = 0; column < m_tileMeshWidth; ++column) {
                const cv::Vec3f pixel = cell->at<cv::Vec3f>(static_cast<int>(row), static_cast<int>(column));
                Macropixel* record = tile->ldms.at(static_cast<qsizetype>(row * m_tileMeshWidth + column));
                record->redObserved = pixel[2];
                record->greenObserved = pixel[1];
                record->blueObserved = pixel[0];
            }
        }
    }
    return true;
}

void Velotrimmer::getLdmsObserved()
{
    if (!m_running)
        return;
    if (!m_imageSource->isDummy()) {
        m_grabContinuation = [this](bool ok) { getLdmsObservedPart2(ok); };
        if (!getImageLdmRGBData(false))
            getLdmsObservedPart2(false);
        return;
    }
    emit m_display->needFakeLdmRGBsChanged();
    QList<Macropixel*> records = m_adjusterSet.macropixels();
    m_display->getLdmObservedRGBs(records);
    emit ldmsObserved(m_adjusterSet.macropixels());
}

void Velotrimmer::getLdmsObservedPart2(bool ok)
{
    if (ok) {
        emit ldmsObserved(m_adjusterSet.macropixels());
        return;
    }
    qWarning("Velotrimmer::getLdmsObservedPart2() failed; terminating balance");
    endRunning();
}

void Velotrimmer::getTilesObserved()
{
    if (!m_running)
        return;
    if (m_mode == Template && !m_imageSource->isDummy()) {
        m_grabContinuation = [this](bool ok) { getTilesObservedPart2(ok); };
        if (!getImageTileRGBData(true))
            getTilesObservedPart2(false);
        return;
    }
    qWarning(m_mode == Template ? "getTilesObserved: not usable with dummy camera." : "getTilesObserved: not Template mode.");
    endRunning();
}

void Velotrimmer::getTilesObservedPart2(bool ok)
{
    if (ok) {
        emit tilesObserved(m_adjusterSet.tiles());
        return;
    }
    qWarning("Velotrimmer::getTilesObservedPart2() failed; terminating balance");
    endRunning();
}

void Velotrimmer::getLensFiles()
{
    m_lensFileList.clear();
    m_lensNameList.clear();
    if (!QDir(LensResourceFolder).exists())
        qInfo("getLensFiles: Can't open image resource directory!");
    else
        qInfo("getLensFiles: lens compensation lists are not available in this build.");
    // A stored lens file that is no longer offered is dropped.
    const QString stored = QSettings().value(Key::LensFile, QString()).toString();
    QString kept;
    for (qsizetype i = 0; i < m_lensFileList.count(); ++i) {
        if (m_lensFileList.at(i)->type() == stored) {
            kept = stored;
            break;
        }
    }
    setLensFile(kept);
}

// ---- Uniformity set-up -------------------------------------------------------------------------

bool Velotrimmer::setupBalance()
{
    if (!uniformityMode())
        return false;
    if (m_display->ldmCount() == 0) {
        setStatusString(QStringLiteral("The display has no LDMs to adjust."));
        return false;
    }
    m_imageSource->useSavedExposure(true);
    m_runStartTime = QDateTime::currentDateTime();
    if (m_mode == Template)
        qInfo("Adjustable Tiles: %d,  Ldms: %d", m_display->adjustableTileCount(), m_display->adjustableLdmCount());
    const bool built = m_mode == Balance ? buildBalancers() : buildTemplaters();
    if (!built)
        return false;
    if (m_adjusterSet.isEmpty()) {
        setStatusString(QStringLiteral("Nothing to adjust: the display has no adjustable LDMs or tiles."));
        return false;
    }
    configureBalancers_(m_mode);
    return true;
}

bool Velotrimmer::buildBalancers()
{
    deleteAdjusters();
    const uint count = m_display->adjustableLdmCount();
    m_adjusterSet.reserve(count);
    for (uint index = 1; index <= count; ++index) {
        auto record = std::make_unique<Macropixel>(m_display->adjustableLdm(index));
        auto adjuster = std::make_unique<Calibrator>(Calibrator::BalanceMode, record->number);
        if (index == 1)
            adjuster->setLoggable(true);
        m_adjusterSet.append(std::move(adjuster), std::move(record));
    }
    qInfo("buildBalancers: %lld balancers,  %lld ldms", static_cast<long long>(m_adjusterSet.adjusters().size()),
          static_cast<long long>(m_adjusterSet.macropixels().size()));
    return true;
}

bool Velotrimmer::buildTemplaters()
{
    deleteAdjusters();
    const uint cells = m_tileMeshWidth * m_tileMeshHeight;
    const uint tileCount = m_display->adjustableTileCount();
    qInfo("buildTemplaters after deletion: %lld balancers, %lld ldms",
          static_cast<long long>(m_adjusterSet.adjusters().size()),
          static_cast<long long>(m_adjusterSet.macropixels().size()));
    m_adjusterSet.reserve(static_cast<qsizetype>(tileCount) * cells, tileCount);

    quint32 cellNumber = 1;
    for (uint k = 1; k <= tileCount; ++k) {
        Tile* tile = m_adjusterSet.appendTile(std::make_unique<Tile>(m_display->adjustableTile(k)));
        // A tile without an LDM grid cannot be divided into cells that fit its LDMs.
        if (tile->ldmColumns == 0 || tile->ldmRows == 0) {
            setStatusString(tr("Tile %1 has no LDM grid (%2, %3), so it cannot be divided into cells")
                                .arg(tile->name)
                                .arg(tile->ldmColumns)
                                .arg(tile->ldmRows));
            return false;
        }
        if (m_tileMeshWidth % tile->ldmColumns != 0 || m_tileMeshHeight % tile->ldmRows != 0) {
            setStatusString(tr("Tile %1 cell size (%2, %3) not divisible by LDM size (%4, %5)")
                                .arg(tile->name)
                                .arg(m_tileMeshWidth)
                                .arg(m_tileMeshHeight)
                                .arg(tile->ldmColumns)
                                .arg(tile->ldmRows));
            return false;
        }
        const float cellWidth = tile->width / static_cast<float>(m_tileMeshWidth);
        const float cellHeight = tile->height / static_cast<float>(m_tileMeshHeight);
        for (uint j = 0; j < cells; ++j, ++cellNumber) {
            auto cell = std::make_unique<Macropixel>();
            cell->number = cellNumber;
            cell->x = static_cast<float>(j % m_tileMeshWidth) * cellWidth + tile->x;
            cell->y = static_cast<float>(j / m_tileMeshWidth) * cellHeight + tile->y;
            cell->width = cellWidth;
            cell->height = cellHeight;
            const Macropixel* holder =
                m_display->findLdm(tile->number, static_cast<int>(cell->x), static_cast<int>(cell->y));
            cell->indexInTile = holder ? holder->number : 0;
            cell->name = tile->name;
            cell->tileNumber = tile->number;
            cell->adjustable = true;
            tile->ldms.append(cell.get());
            m_adjusterSet.append(std::make_unique<Calibrator>(Calibrator::TemplateMode, cellNumber), std::move(cell));
        }
    }
    qInfo("buildTemplaters: %lld balancers,  %lld tiles,  %lld macropixels",
          static_cast<long long>(m_adjusterSet.adjusters().size()), static_cast<long long>(m_adjusterSet.tiles().size()),
          static_cast<long long>(m_adjusterSet.macropixels().size()));
    return true;
}

void Velotrimmer::configureBalancers_(Mode mode)
{
    if (m_adjusterSet.isEmpty())
        return;
    m_configuredAdjusters = static_cast<uint>(m_adjusterSet.size());
    m_display->setCycling(false);
    setTask(mode == Balance ? Calibrator::Balance : Calibrator::Template);

    const double red = m_balanceTargetRed;
    const double green = m_balanceTargetGreen;
    const double blue = m_balanceTargetBlue;
    const uint readDelay = m_removeReflections ? 0u : m_readDelay;
    const double highGainLimit = m_highGainLimit;
    const double lowGainLimit = m_lowGainLimit;
    auto configure = [=](Calibrator& calibrator) {
        calibrator.setStepRGB(red, green, blue);
        calibrator.setReadDelay(readDelay);
        calibrator.setReadCount(1);
        calibrator.setErrorAllowed(0.0);
        calibrator.setHighGainLimit(highGainLimit);
        calibrator.setLowGainLimit(lowGainLimit);
    };
    // The adjusters live on this thread until the main calibrator drives them.
    for (Calibrator* adjuster : m_adjusterSet.adjusters())
        configure(*adjuster);
    const QList<Calibrator*> adjusters = m_adjusterSet.adjusters();
    const QList<Macropixel*> macropixels = m_adjusterSet.macropixels();
    const QList<Tile*> tiles = m_adjusterSet.tiles();
    onCalibrator([=](Calibrator& calibrator) {
        calibrator.setMode(mode);
        configure(calibrator);
        calibrator.setLoggable(true);
        calibrator.setAdjusters(adjusters);
        calibrator.setMacropixels(macropixels);
        calibrator.setTiles(tiles);
    });
}

// ---- Completion --------------------------------------------------------------------------------

void Velotrimmer::calibratorDone(uint number, bool completed)
{
    Q_UNUSED(number)
    m_awaitingDone = false;
    const bool wasRunning = m_running;
    if (uniformityMode()) {
        qInfo("calibratorDone: all done.");
        summarizeUniformity();
        if (wasRunning)
            setResumeStep(0);
        setProgress(-1.0);
        m_imageSource->useSavedExposure(false);
        // Only a run that nobody stopped and that the engine finished counts as done.
        const bool succeeded = wasRunning && completed;
        setStatusString((succeeded ? QStringLiteral("%1 completed.")
                                   : QStringLiteral("%1 cancelled; display left in indeterminate state."))
                            .arg(QStringLiteral("Uniformity")));
        setStatus(succeeded ? 1 : -1);
        qInfo("%s took%s.", "Uniformity", qUtf8Printable(elapsedTimeString()));
        deleteAdjusters();
    } else if ((m_task == Calibrator::Calibrate || m_task == Calibrator::Resume) && m_calibrator) {
        const int task = m_task;
        // Keep the interface locked while the correction is finished.
        if (!wasRunning)
            runNothing();
        qInfo("Velotrimmer: Correction %s.", completed ? "completed" : "cancelled");
        m_points = m_calibrator->levelPoints();
        setResumeStep(m_calibrator->resumeStep());
        resetKestra(completed);
        const bool good = buildCurves_();
        const qsizetype steps = m_points.size() - 1;
        // Measured against the steps the run was given, whatever the setting says by now.
        setStatus(completed && good && steps == static_cast<qsizetype>(m_runSteps) ? 1 : -1);
        qInfo("%lld point%s %s.", static_cast<long long>(steps), steps == 1 ? " is" : "s are",
              good ? "good" : "not useful");
        if (good) {
            summarizeCorrection();
            setFilename(QStringLiteral("%1KestraCal-%2.tsv").arg(m_filepath, fileTimestamp().chopped(1)));
            setCalibrationAvailable(true);
            sendCalibration_();
        }
        m_task = task;
    }
    endRunning();
}

void Velotrimmer::summarizeUniformity()
{
    const QList<Calibrator*>& adjusters = m_adjusterSet.adjusters();
    if (adjusters.isEmpty()) {
        qInfo("%s had no adjusters; nothing to summarize.", "Uniformity");
        return;
    }
    uint fewestIterations = std::numeric_limits<uint>::max();
    uint mostIterations = 0;
    qint64 iterationSum = 0;
    uint fewestPoints = std::numeric_limits<uint>::max();
    uint mostPoints = 0;
    qint64 pointSum = 0;
    for (Calibrator* adjuster : adjusters) {
        const uint iterations = adjuster->iteration();
        const uint points = adjuster->pointsWithinError(0.0);
        fewestIterations = std::min(fewestIterations, iterations);
        mostIterations = std::max(mostIterations, iterations);
        iterationSum += iterations;
        fewestPoints = std::min(fewestPoints, points);
        mostPoints = std::max(mostPoints, points);
        pointSum += points;
    }
    qInfo("%s took %d - %d iterations; %lld on average.", "Uniformity", fewestIterations, mostIterations,
          static_cast<long long>(iterationSum / adjusters.size()));
    if (m_configuredAdjusters == 0)
        qInfo("%s had %d - %d weighted points; n/a on average.", "Uniformity", fewestPoints, mostPoints);
    else
        qInfo("%s had %d - %d weighted points; %d on average.", "Uniformity", fewestPoints, mostPoints,
              static_cast<int>(pointSum / m_configuredAdjusters));
}

void Velotrimmer::summarizeCorrection()
{
    const qsizetype n = m_points.size();
    if (n < 2)
        return;
    double iterations = 0.0;
    double seconds = 0.0;
    double cctError = 0.0;
    double duvError = 0.0;
    double luminanceError = 0.0;
    int luminancePoints = 0;
    // The errors are measured against the targets the run used: the processor's own with the processor.
    const double targetCCT = kestraIsCurrent() ? std::trunc(m_kestraCct) : m_targetCCT;
    const double targetDuv = kestraIsCurrent() ? m_kestraDuv : m_targetDuv;
    for (qsizetype i = 1; i < n; ++i) {
        const CalibrationPoint& point = m_points.at(i);
        iterations += point.iterations;
        seconds += point.seconds;
        cctError += std::abs(point.cct - targetCCT);
        duvError += std::abs(point.duv - targetDuv);
        // A level without a target luminance has no relative error.
        if (point.luminanceTarget != 0.0) {
            luminanceError += 100.0 * std::abs(point.luminance - point.luminanceTarget) / point.luminanceTarget;
            ++luminancePoints;
        }
    }
    const double m = static_cast<double>(n - 1);
    Calibrator::formatTimeRemaining(QStringLiteral("Including setup time, correction took"),
                                    m_calibrator ? m_calibrator->elapsedSeconds() : 0);
    const QString luminance = luminancePoints == 0 ? QStringLiteral("n/a")
                                                   : QString::asprintf("%.2f%%", luminanceError / luminancePoints);
    qInfo("Averages over %d point%s: %u iterations, %u seconds; errors %.0f K CCT, %.4f duv, %s luminance",
          static_cast<int>(n - 1), n - 1 == 1 ? "" : "s", static_cast<uint>(std::lround(iterations / m)),
          static_cast<uint>(std::lround(seconds / m)), cctError / m, duvError / m, qUtf8Printable(luminance));
}

QString Velotrimmer::elapsedTimeText(qint64 seconds)
{
    if (seconds < 1)
        return QStringLiteral(" no time at all");
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds - 3600 * hours) / 60;
    const qint64 rest = seconds - 60 * (60 * hours + minutes);
    auto part = [](qint64 value, const char* unit) {
        return QStringLiteral(" %1 %2%3").arg(value).arg(QLatin1String(unit)).arg(value == 1 ? "" : "s");
    };
    QString text;
    if (hours != 0)
        text += part(hours, "hour");
    if (minutes != 0)
        text += part(minutes, "minute");
    text += part(rest, "second");
    return text;
}

QString Velotrimmer::elapsedTimeString() const
{
    return elapsedTimeText(m_runStartTime.secsTo(QDateTime::currentDateTime()));
}

QString Velotrimmer::fileTimestamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).replace(QLatin1Char(':'), QLatin1Char('-'));
}

QString Velotrimmer::defaultLogFileName() const
{
    return QStringLiteral("%1VelotrimLog-%2").arg(m_filepath, fileTimestamp());
}

// ---- Curves and the hand-off to the display ----------------------------------------------------

bool Velotrimmer::buildCurves_()
{
    return CorrectionCurves::build(m_points, m_stepSpacing);
}

void Velotrimmer::sendCalibration_()
{
    if (m_points.isEmpty()) {
        setStatusString(QStringLiteral("There is no correction to send."));
        return;
    }
    const CalibrationPoint& last = m_points.constLast();
    const ErrorType result = m_display->sendCalibration(CorrectionCurves::curvePoints(m_points), last.redDisplayGain,
                                                        last.greenDisplayGain, last.blueDisplayGain);
    if (result.ok())
        return;
    qWarning("sendCalibration: error %s", qUtf8Printable(result.message));
    setStatusString(QStringLiteral("Sending the correction to the display failed: %1").arg(result.message));
}

// ---- Files -------------------------------------------------------------------------------------

bool Velotrimmer::saveCalibration(QUrl url)
{
    const QString path = url.toLocalFile();
    setFilepath(path);
    const QString error = CalibrationFile::write(path, m_points);
    if (!error.isEmpty()) {
        qWarning("Unable to open file %s: %s", qUtf8Printable(path), qUtf8Printable(error));
        setStatusString(QStringLiteral("Unable to open file %1").arg(path));
        return false;
    }
    setStatusString(QStringLiteral("Correction saved to %1").arg(path));
    return true;
}

bool Velotrimmer::readCalibration(QUrl url)
{
    const QString path = url.toLocalFile();
    qInfo("read file at %s", qUtf8Printable(path));
    if (refuseWhileBusy(QStringLiteral("Stop the run before reading a correction.")))
        return false;
    setFilename(path);
    setFilepath(path);
    const QString shortName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);

    // Every failure keeps the correction in hand.
    CalibrationFile::ReadResult file = CalibrationFile::read(path);
    switch (file.status) {
    case CalibrationFile::ReadStatus::CannotOpen:
        setStatusString(QStringLiteral("Can\u2019t open file %1: %2").arg(shortName, file.error));
        qWarning("Unable to open file %s: %s", qUtf8Printable(path), qUtf8Printable(file.error));
        return false;
    case CalibrationFile::ReadStatus::Empty:
        setStatusString(QStringLiteral("File %1 is empty").arg(shortName));
        qWarning("%s", qUtf8Printable(m_statusString));
        return false;
    case CalibrationFile::ReadStatus::MissingCurves:
        setStatusString(
            QStringLiteral("File is missing one or more px, py, mx, or my columns, so it can\u2019t be used"));
        qWarning("%s", qUtf8Printable(m_statusString));
        return false;
    case CalibrationFile::ReadStatus::NoPoints:
        setStatusString(QStringLiteral("File %1 holds no correction points").arg(shortName));
        qWarning("%s", qUtf8Printable(m_statusString));
        return false;
    case CalibrationFile::ReadStatus::Read:
        break;
    }

    m_points = std::move(file.points);
    for (qsizetype i = 0; i < m_points.size(); ++i) {
        const CalibrationPoint& point = m_points.at(i);
        qInfo("#%2d: %.6f, %.6f, %.6f", static_cast<int>(i), point.red, point.green, point.blue);
    }
    const QList<CalibrationPoint> points = m_points;
    onCalibrator([shortName, points](Calibrator& calibrator) { calibrator.describePoint(shortName, points); });
    setResumeStep(0);
    setCalibrationAvailable(true);
    runNothing();
    sendCalibration_();
    endRunning();
    return true;
}

bool Velotrimmer::saveLog(QUrl url)
{
    const QString path = url.toLocalFile();
    setFilepath(path);
    setStatusString(QStringLiteral("Saving log to %1...").arg(path));
    const QString error = m_appLog->saveTo(path);
    setStatusString(error.isEmpty() ? QStringLiteral("Log saved to %1").arg(path)
                                    : QStringLiteral("Unable to open file %1").arg(path));
    return true;
}
