#include "shell/Velotrimmer.h"

#include "display/DisplayBase.h"
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
#include "shell/SettingKeys.h"
#include "shell/TileGraderRelay.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QDebug>
#include <QScopedValueRollback>
#include <QSettings>

namespace {

const QString SimulatedDisplayName = QStringLiteral("Simulated Display");
const QString DeviceSwitchRefused = QStringLiteral("Stop the run before switching devices.");

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

    m_updater = new Updater(*this, this);
    m_dummyColorimeter = new Colorimeter(Colorimeter::DummyName, this);
    m_cineMeterII = new CineMeterII(this);
    m_cr100 = new CR100(this);
    setColorimeter(m_colorMeter ? static_cast<Colorimeter*>(m_cr100) : m_cineMeterII);

    m_simulatedDisplay = new SimulatedDisplay(this);
    m_simulatedDisplay->setName(SimulatedDisplayName);
    m_kestra = new Kestra(m_ioContext, this);
    m_dummyCamera = new ImageSource(this);
    m_cameraController = new CameraController(this);
    connect(m_cameraController, &ImageSource::statusReported, this, &Velotrimmer::showCameraStatus);
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
    connect(this, &Velotrimmer::workersRunningChanged, calibrator, &Calibrator::setRunning, Qt::QueuedConnection);
    connectColorimeter(true);

    setDisplay(m_output ? static_cast<DisplayBase*>(m_simulatedDisplay) : m_kestra);
    connectCalibrator();

    // The camera hears the processor's frequency and colour temperature whichever display is current.
    connect(m_kestra, &DisplayBase::outputFrequencyChanged, m_cameraController, &ImageSource::displayFrequency);
    m_cameraController->displayFrequency(m_kestra->outputFrequency());
    connect(m_kestra, &Kestra::cctChanged, m_cameraController,
            [camera = m_cameraController](uint cct) { camera->displayCct(static_cast<int>(cct)); });
    m_cameraController->displayCct(static_cast<int>(m_kestra->cct()));

    connect(this, &Velotrimmer::workersRunningChanged, background, &Background::setRunning);
    connect(&m_adjusterBuilder, &AdjusterBuilder::progressed, this, &Velotrimmer::showSetupProgress);
    connect(&m_adjusterBuilder, &AdjusterBuilder::finished, this, &Velotrimmer::adjustersBuilt);
    connect(&m_adjusterBuilder, &AdjusterBuilder::released, this,
            [this] { onCalibrator([](Calibrator&) { AdjusterBuilder::returnFreedPages(); }); });
    connect(this, &Velotrimmer::ldmArrayInfo, background, &Background::setArrayInfo);
    connect(this, &Velotrimmer::grabImageData, background, &Background::grabImageData);
    connect(background, &Background::grabImageDataDone, this, &Velotrimmer::grabImageDataDone);
    connect(background, &Background::blankDisplay, this, &Velotrimmer::blankDisplay);
    connect(this, &Velotrimmer::lensFileChanged, background->grader(), &TileGrader::setLensFile);
    connectRegistration(*background->grader());
    m_graderRelay = new TileGraderRelay(this);
    m_graderRelay->follow(*background->grader());

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
        const std::chrono::milliseconds timeout = m_colorimeter->readingTimeout();
        onCalibrator([timeout](Calibrator& c) { c.setColorimeterTimeout(timeout); });
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
    m_adjusterBuilder.releaseNow();
    qDebug("Controller shut down; worker threads joined");
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
    if (m_display)
        disconnect(m_display, &DisplayBase::addressChanged, this, &Velotrimmer::forgetDisplayAnswer);
    m_display = display;
    forgetDisplayAnswer();
    if (display)
        connect(display, &DisplayBase::addressChanged, this, &Velotrimmer::forgetDisplayAnswer);
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
    withdrawCameraStatus();
    m_imageSource = imageSource;
    if (imageSource) {
        imageSource->autoControlExposure(m_autoControlExposure || !m_useDebugOptions);
        imageSource->useRawImages(m_useRawImages && m_useDebugOptions);
    }
    resetResumeStep(ResetRule::Uniformity);
    emit imageSourceChanged();
    showCameraTrouble();
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
    const quint64 question = m_displayQuestion;
    ErrorType result = m_display->readStatus();
    if (result.ok())
        result = m_display->fetchOutputConfig();
    if (!result.ok())
        qWarning("Error updating display: %s", qUtf8Printable(result.message));
    noteDisplayAnswer(result, question);
}

void Velotrimmer::noteDisplayAnswer(const ErrorType& result, quint64 question)
{
    if (question != m_displayQuestion)
        return;
    const int answer = result.ok() ? DisplayAnswered : DisplayFailed;
    const QString error = result.ok() ? QString() : result.message;
    if (answer == m_displayAnswer && error == m_displayError)
        return;
    m_displayAnswer = answer;
    m_displayError = error;
    emit displayAnswerChanged();
}

void Velotrimmer::forgetDisplayAnswer()
{
    ++m_displayQuestion;
    if (m_displayAnswer == DisplayNotAsked)
        return;
    m_displayAnswer = DisplayNotAsked;
    m_displayError.clear();
    emit displayAnswerChanged();
}

void Velotrimmer::showCameraTrouble()
{
    const ErrorType cameraError = m_imageSource ? m_imageSource->errorType() : ErrorType();
    if (!cameraError.ok())
        showCameraStatus(cameraError, m_imageSource->statusMessage());
}

void Velotrimmer::withdrawCameraStatus()
{
    if (!m_cameraStatusShown.isEmpty() && m_statusString == m_cameraStatusShown)
        setStatusString(QString());
    m_cameraStatusShown.clear();
}

void Velotrimmer::showCameraStatus(const ErrorType& error, const QString& message)
{
    if (m_imageSource != m_cameraController || !uniformityMode())
        return;
    if (error.ok() && (m_cameraStatusShown.isEmpty() || m_statusString != m_cameraStatusShown))
        return;
    m_cameraStatusShown = message;
    setStatusString(message);
}
