#include "instruments/SonyCamera.h"

#include "instruments/SonyCameraKeys.h"
#include "instruments/camera/CameraSdk.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <algorithm>

using namespace SCRSDK;

const QString SonyCamera::SdkInitFailedMessage = QStringLiteral("Failed to initialize Sony Remote SDK.");
const QString SonyCamera::NoCameraMessage = QStringLiteral("No camera detected");
const QString SonyCamera::CameraReadyMessage = QStringLiteral("Camera ready");

namespace {

namespace Key = SonyCameraKeys;

QString hex(std::uint32_t code)
{
    return QString::number(code, 16).toUpper();
}

} // namespace

SonyCamera::SonyCamera(bool liveView, QObject* parent)
    : QObject(parent)
    , m_liveView(liveView)
{
    ErrorType::registerMetaType();

    const std::uint32_t version = GetSDKVersion();
    qInfo("Sony Remote SDK version %u.%u.%u", (version >> 24) & 0xFF, (version >> 16) & 0xFF, (version >> 8) & 0xFF);
    m_sdkReady = Init(0);
    m_sdkInitialised = true;
    QString text;
    if (m_sdkReady) {
        qInfo("Sony Remote SDK successfully initialized.");
        text = NoCameraMessage;
    } else {
        qInfo("Failed to initialize Sony Remote SDK.");
        releaseSdk();
        text = SdkInitFailedMessage;
    }
    // Nobody listens yet; connectCamera repeats a failed start-up where the operator sees it.
    setStatus(ErrorType::Fatal, text);

    const QSettings settings;
    m_savedShutter = settings.value(Key::SavedShutter, 0).toULongLong();
    m_savedAperture = settings.value(Key::SavedFNumber, 0).toULongLong();
    m_savedIso = settings.value(Key::SavedIso, 0).toULongLong();
    // Photos left behind by an earlier run.
    deleteFile(settings.value(Key::LastImage).toString());
    deleteFile(settings.value(Key::SavedImage).toString());

    // Both may be emitted on an SDK thread, and then reach the camera's thread queued.
    QObject::connect(this, &SonyCamera::propertiesChanged, this, &SonyCamera::updateProperties);
    QObject::connect(this, &SonyCamera::pleaseFetchProperies, this, &SonyCamera::fetchProperties);
}

SonyCamera::~SonyCamera()
{
    qInfo("~SonyCamera()");
    disconnectCamera();
    m_cameraInfo.reset();
    releaseSdk();
    deleteFile(m_imagePath);
    deleteFile(m_savedImagePath);
}

void SonyCamera::releaseSdk()
{
    if (!m_sdkInitialised)
        return;
    m_sdkInitialised = false;
    m_sdkReady = false;
    Release();
}

// ---- Properties --------------------------------------------------------------------------------

void SonyCamera::setImagePath(const QString& path)
{
    if (path == m_imagePath)
        return;
    m_imagePath = path;
    QSettings().setValue(Key::LastImage, path);
    emit imagePathChanged(path);
}

void SonyCamera::setSavedImagePath(const QString& path)
{
    if (path == m_savedImagePath)
        return;
    m_savedImagePath = path;
    QSettings().setValue(Key::SavedImage, path);
    emit savedImagePathChanged(path);
}

bool SonyCamera::cameraReady() const
{
    return m_device != 0 && m_connected.load() && !m_shutterDown.load() && !m_busy.load() && m_errorType.ok();
}

void SonyCamera::setErrorType(const ErrorType& errorType)
{
    if (m_errorType.ok() == errorType.ok())
        return;
    m_errorType = errorType;
    emit errorTypeChanged();
}

void SonyCamera::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit nameChanged(name);
}

void SonyCamera::setVerbose(bool verbose)
{
    if (verbose == m_verbose)
        return;
    m_verbose = verbose;
    emit verboseChanged();
}

// ---- Status ------------------------------------------------------------------------------------

void SonyCamera::setStatus(const ErrorType& error, const QString& message)
{
    setErrorType(error);
    if (message != m_statusMessage) {
        m_statusMessage = message;
        emit statusMessageChanged();
        if (!message.isEmpty() && !m_errorType.ok()) {
            if (message.startsWith(QStringLiteral("~ ")))
                qDebug("%s", qUtf8Printable(message));
            else
                qDebug("*** %s ***", qUtf8Printable(message));
        }
    }
    emit status(error, message);
}

void SonyCamera::setStatus(qint32 kind, const QString& message)
{
    setStatus(kind == ErrorType::Success ? ErrorType{} : ErrorType::failure(kind, message), message);
}

bool SonyCamera::exchangeBusy(bool busy)
{
    return m_busy.exchange(busy) != busy;
}

void SonyCamera::setBusy(bool busy)
{
    if (!exchangeBusy(busy))
        return;
    emit cameraBusyChanged(busy);
    emitReady();
}

void SonyCamera::emitReady()
{
    emit cameraReadyChanged(cameraReady());
}

template <typename Step>
void SonyCamera::onCameraThread(Step step)
{
    QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void SonyCamera::waitFor(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(WaitSleepMs);
    }
}

void SonyCamera::waitForConnection()
{
    for (int step = 0; step < WaitSteps && !m_connected.load() && m_lastSdkCode.load() == 0; ++step)
        waitFor(WaitStepMs);
}

// ---- Connection --------------------------------------------------------------------------------

bool SonyCamera::connectCamera()
{
    if (!m_sdkReady) {
        // The report made while the camera was built reached nobody.
        setStatus(ErrorType::Fatal, SdkInitFailedMessage);
        return false;
    }
    m_connecting = true;
    const auto connected = qScopeGuard([this] { m_connecting = false; });
    setBusy(true);
    if (!m_shutterTimer) {
        m_shutterTimer = new QTimer(this);
        m_shutterTimer->setSingleShot(true);
        // A coarse timer may fire up to 5 % early, releasing a shutter whose download is near.
        m_shutterTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_shutterTimer, &QTimer::timeout, this, &SonyCamera::sendShutterUp);
        m_liveViewTimer = new QTimer(this);
        QObject::connect(m_liveViewTimer, &QTimer::timeout, this, &SonyCamera::pollLiveView);
        m_propertyTimer = new QTimer(this);
        m_propertyTimer->setSingleShot(true);
        QObject::connect(m_propertyTimer, &QTimer::timeout, this, &SonyCamera::updateProperties);
    }
    disconnectCamera();

    qInfo("Looking for cameras...");
    setStatus(ErrorType::Success, QStringLiteral("Looking for camera..."));
    std::unique_ptr<CameraObjectList> cameras;
    const std::int32_t found = EnumCameraObjects(cameras, DiscoverySeconds);
    if (found != Status::Ok || !cameras) {
        qInfo("SonyCamera::connect: No cameras detected");
        cameras.reset();
        if (m_busy.load())
            setBusy(false);
        const auto code = static_cast<std::uint32_t>(found);
        if (code == Status::AdaptorUnavailable) {
            qDebug("Could not create adaptor: CRSDK libraries probably not found. Are they installed properly?");
            setStatus(ErrorType::Fatal,
                      QStringLiteral("Camera discovery error 0x%1; are SDK libraries not installed?").arg(hex(code)));
        } else if (code != 0) {
            setStatus(ErrorType::Fatal, QStringLiteral("Camera discovery error 0x%1").arg(hex(code)));
        } else {
            setStatus(ErrorType::Fatal, NoCameraMessage);
        }
        return false;
    }

    if (cameras->count() > 0) {
        qInfo("Connecting to first camera found...");
        m_cameraInfo.reset();
        m_cameraInfo = CreateCameraObjectInfo(cameras->cameras.front());
        const QString model = QString::fromStdString(m_cameraInfo->model);
        setName(cameraReady() ? model : QString());
        qInfo("Camera model [%s], USB PID %u, connection type [%s], adaptor [%s]", qUtf8Printable(model),
              m_cameraInfo->usbProductId, m_cameraInfo->connectionType.c_str(), m_cameraInfo->adaptor.c_str());

        m_lastSdkCode = 0;
        std::int32_t result = connectDevice();
        if (m_lastSdkCode.load() == Status::ConnectRefused) {
            disconnectCamera();
            m_lastSdkCode = 0;
            result = connectDevice();
        }
        if (m_connected.load()) {
            const QString folder = QDir::tempPath();
            qInfo("SonyCamera images will be saved to %s", qUtf8Printable(folder));
            result = SetSaveInfo(m_device, folder.toStdU16String(), std::u16string(), -1);
            if (result != Status::Ok)
                qInfo("SonyCamera::set_save_info: could not set save path: error 0x%X", static_cast<unsigned>(result));
        }
        if (result == Status::Ok)
            m_liveViewTimer->start(LiveViewIntervalMs);
        if (m_connected.load())
            sendLiveViewSetting();
    }

    cameras.reset();
    if (m_busy.load())
        setBusy(false);
    const bool ready = cameraReady();
    if (!ready) {
        const std::uint32_t code = m_lastSdkCode.load();
        setStatus(ErrorType::Fatal, code != 0 ? QStringLiteral("Camera connection error 0x%1").arg(hex(code))
                                              : QStringLiteral("Camera connection error"));
    } else {
        setStatus(ErrorType::Success, CameraReadyMessage);
    }
    setName(ready && m_cameraInfo ? QString::fromStdString(m_cameraInfo->model) : QString());
    if (ready)
        fetchProperties();
    return ready;
}

std::int32_t SonyCamera::connectDevice()
{
    const std::int32_t result = Connect(*m_cameraInfo, this, &m_device, 0, true);
    waitForConnection();
    return result;
}

void SonyCamera::sendLiveViewSetting()
{
    SetDeviceSetting(m_device, Setting::LiveView, m_liveView ? 1 : 0);
}

void SonyCamera::disconnectCamera()
{
    if (m_device != 0) {
        qInfo("Disconnecting camera...");
        for (QTimer* timer : {m_shutterTimer, m_liveViewTimer, m_propertyTimer}) {
            if (timer)
                timer->stop();
        }
        Disconnect(m_device);
        for (int step = 0; step < WaitSteps && m_connected.load(); ++step)
            waitFor(WaitStepMs);
        qInfo("...releasing camera...");
        if (const std::int32_t result = ReleaseDevice(m_device); result != Status::Ok)
            qDebug("   ReleaseDevice() error 0x%X", static_cast<unsigned>(result));
        m_device = 0;
        emitReady();
        qInfo("...disconnection done.");
    }
    setName(QString());
    emitReady();
}

bool SonyCamera::reconnectCamera()
{
    qInfo("SonyCamera::reconnectCamera()");
    if (!m_cameraInfo)
        return false;
    m_connecting = true;
    const auto connected = qScopeGuard([this] { m_connecting = false; });
    disconnectCamera();
    m_lastSdkCode = 0;
    connectDevice();
    if (m_connected.load())
        sendLiveViewSetting();
    setBusy(false);
    if (m_shutterDown.exchange(false))
        emitReady();
    return cameraReady();
}

// ---- Callbacks (SDK threads) -------------------------------------------------------------------

void SonyCamera::OnConnected(std::uint32_t version)
{
    qInfo("~ SonyCamera::OnConnected, version %u", version);
    m_lastSdkCode = 0;
    const bool connectedChanged = !m_connected.exchange(true);
    const bool busyChanged = exchangeBusy(false);
    const bool shutterChanged = m_shutterDown.exchange(false);
    onCameraThread([this, connectedChanged, busyChanged, shutterChanged] {
        finishConnected(connectedChanged, busyChanged, shutterChanged);
    });
}

void SonyCamera::finishConnected(bool connectedChanged, bool busyChanged, bool shutterChanged)
{
    if (connectedChanged)
        emitReady();
    if (busyChanged) {
        emit cameraBusyChanged(false);
        emitReady();
    }
    if (shutterChanged)
        emitReady();
}

void SonyCamera::OnDisconnected(std::uint32_t error)
{
    qInfo("SonyCamera::OnDisconnected, error 0x%X", error);
    m_lastSdkCode = 0;
    if (m_connected.exchange(false))
        onCameraThread([this] { emitReady(); });
}

void SonyCamera::OnError(std::uint32_t error)
{
    qInfo("SonyCamera::OnError: error 0x%X", error);
    m_lastSdkCode = error;
    if (error == Status::ConnectRefused) {
        if (exchangeBusy(false)) {
            onCameraThread([this] {
                emit cameraBusyChanged(false);
                emitReady();
            });
        }
        return;
    }
    onCameraThread([this, error] { setStatus(ErrorType::Retryable, QStringLiteral("Camera error 0x%1").arg(hex(error))); });
}

void SonyCamera::OnWarning(std::uint32_t warning)
{
    if (warning == Warning::Reconnecting) {
        qInfo("~ SonyCamera::OnWarning: disconnected; trying to reconnect...");
        onCameraThread([this] {
            setStatus(ErrorType::Retryable,
                      QStringLiteral("SonyCamera disconnected (turned off or unplugged?); trying to reconnect..."));
        });
    } else if (warning == Warning::Reconnected) {
        qInfo("~ SonyCamera::OnWarning: reconnected.");
        m_lastSdkCode = 0;
        const bool connectedChanged = !m_connected.exchange(true);
        const bool busyChanged = exchangeBusy(false);
        const bool shutterChanged = m_shutterDown.exchange(false);
        onCameraThread([this, connectedChanged, busyChanged, shutterChanged] {
            finishConnected(connectedChanged, busyChanged, shutterChanged);
            setStatus(ErrorType::Success, CameraReadyMessage);
        });
    }
}

void SonyCamera::OnPropertyChanged()
{
    // Queued to the camera's thread by the connection made at construction.
    emit propertiesChanged();
}

void SonyCamera::OnCompleteDownload(const std::u16string& filename)
{
    const QString path = QString::fromStdU16String(filename).replace(QLatin1Char('\\'), QLatin1Char('/'));
    onCameraThread([this, path] {
        if (m_verbose)
            qDebug("SonyCamera completed download: %s", qUtf8Printable(path));
        const QString previous = m_imagePath;
        setImagePath(path);
        sendShutterUp();
        if (previous != path)
            deleteFile(previous);
    });
}

// ---- Still capture -----------------------------------------------------------------------------

bool SonyCamera::captureImage()
{
    if (!cameraReady()) {
        qInfo("SonyCamera::captureImage(): can't capture: camera not ready or already capturing.");
        qInfo("    handle: %lld, isConnected: %d, shutterDown: %d, busy: %d", static_cast<long long>(m_device),
              m_connected.load(), m_shutterDown.load(), m_busy.load());
        return false;
    }
    SendCommand(m_device, Command::Release, Command::Up);
    setBusy(true);
    SendCommand(m_device, Command::Release, Command::Down);
    if (!m_shutterDown.exchange(true))
        emitReady();
    if (m_verbose)
        qDebug("Shutter down sent");
    setStatus(ErrorType::Success, QStringLiteral("Camera capturing image"));
    if (m_shutterTimer)
        m_shutterTimer->start(ShutterTimeoutMs);
    else
        qWarning("shutter timer not available!");
    return true;
}

void SonyCamera::sendShutterUp()
{
    if (m_device == 0 || !m_connected.load() || !m_shutterDown.load())
        return;
    SendCommand(m_device, Command::Release, Command::Up);
    setBusy(false);
    m_shutterDown = false;
    emitReady();
    if (m_verbose)
        qDebug("Shutter up sent");
    setStatus(ErrorType::Success, CameraReadyMessage);
}

// ---- Files -------------------------------------------------------------------------------------

void SonyCamera::saveImage()
{
    // Nothing new since the last save: the saved photo stays.
    if (m_imagePath.isEmpty())
        return;
    if (m_imagePath != m_savedImagePath)
        deleteFile(m_savedImagePath);
    if (m_verbose)
        qDebug("SonyCamera::saveImage: [%s]", qUtf8Printable(m_imagePath));
    setSavedImagePath(m_imagePath);
    setImagePath(QString());
}

void SonyCamera::deleteImages()
{
    deleteFile(m_imagePath);
    deleteFile(m_savedImagePath);
}

void SonyCamera::cleanup()
{
    qInfo("SonyCamera::cleanup()");
    disconnectCamera();
    deleteImages();
}

void SonyCamera::deleteFile(const QString& path) const
{
    if (path.isEmpty() || !QFile::exists(path))
        return;
    if (m_verbose)
        qDebug("deleting %s", qUtf8Printable(path));
    QFile::remove(path);
}

// ---- Live view ---------------------------------------------------------------------------------

void SonyCamera::pollLiveView()
{
    if (!m_liveView || m_device == 0)
        return;
    LiveViewImageInfo info;
    if (const std::int32_t result = GetLiveViewImageInfo(m_device, info); result != Status::Ok) {
        qDebug("glvi: GetLiveViewImageInfo retcode 0x%X", static_cast<unsigned>(result));
        return;
    }
    if (m_liveViewBuffer.size() < info.bufferSize)
        m_liveViewBuffer.resize(info.bufferSize);
    ImageDataBlock block;
    block.data = m_liveViewBuffer.data();
    block.capacity = static_cast<std::uint32_t>(m_liveViewBuffer.size());
    if (GetLiveViewImage(m_device, block) != Status::Ok)
        return;
    m_liveViewImageSize = std::min(block.imageSize, block.capacity);
    if (!m_liveViewImage.loadFromData(m_liveViewBuffer.data(), static_cast<int>(m_liveViewImageSize), "JPG")) {
        qDebug("loadFromData failed!");
        return;
    }
    emit liveViewImageChanged(m_liveViewImage.copy());
}
