#include "instruments/CameraController.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <memory>

CameraController::CameraController(QObject* parent)
    : ImageSource(parent)
{
    setDummy(false);
    ErrorType::registerMetaType();
    m_workerThread.setObjectName(QStringLiteral("camera"));

    setCamera(new SonyCamera(false));
    m_camera->moveToThread(&m_workerThread);
    connectCameraSignals();
    m_workerThread.start();
}

CameraController::~CameraController()
{
    m_workerThread.quit();
    m_workerThread.wait();
    // The thread's end normally freed the camera already; never free it twice.
    const std::unique_ptr<SonyCamera> leftOver(m_camera.data());
}

void CameraController::setCamera(SonyCamera* camera)
{
    if (camera == m_camera)
        return;
    m_camera = camera;
    emit cameraChanged();
}

void CameraController::connectCameraSignals()
{
    SonyCamera* camera = m_camera;
    // Automatic, not queued: finished comes from the ending thread itself, whose loop would
    // never run a queued call; the camera is cleaned up and freed on that thread.
    QObject::connect(&m_workerThread, &QThread::finished, camera, &SonyCamera::cleanup);
    QObject::connect(&m_workerThread, &QThread::finished, camera, &QObject::deleteLater);

    QObject::connect(this, &ImageSource::connectCamera, camera, &SonyCamera::connectCamera);
    QObject::connect(this, &ImageSource::reconnectCamera, camera, &SonyCamera::reconnectCamera);
    QObject::connect(this, &ImageSource::captureImage, camera, &SonyCamera::captureImage);
    QObject::connect(this, &ImageSource::saveImage, camera, &SonyCamera::saveImage);
    QObject::connect(this, &ImageSource::deleteImages, camera, &SonyCamera::deleteImages);
    QObject::connect(this, &ImageSource::verboseChanged, camera, &SonyCamera::setVerbose);
    QObject::connect(this, &CameraController::displayRefreshRate, camera, &SonyCamera::displayRate);
    QObject::connect(this, &CameraController::displayColorTemp, camera, &SonyCamera::displayColorTemp);
    QObject::connect(this, &CameraController::adjustExposure, camera, &SonyCamera::adjustExposure);
    QObject::connect(this, &CameraController::saveExp, camera, &SonyCamera::saveExposure);
    QObject::connect(this, &CameraController::useSavedExp, camera, &SonyCamera::useSavedExposure);
    QObject::connect(this, &CameraController::autoControlExp, camera, &SonyCamera::autoControlExposure);
    QObject::connect(this, &CameraController::rawImages, camera, &SonyCamera::useRawImages);

    QObject::connect(camera, &SonyCamera::cameraBusyChanged, this, &ImageSource::setCameraBusy);
    QObject::connect(camera, &SonyCamera::cameraReadyChanged, this, &ImageSource::setCameraReady);
    QObject::connect(camera, &SonyCamera::imagePathChanged, this, &ImageSource::setImagePath);
    QObject::connect(camera, &SonyCamera::status, this, &ImageSource::setCameraStatus);
    QObject::connect(camera, &SonyCamera::liveViewImageChanged, this, &ImageSource::setLiveViewImage);
    QObject::connect(camera, &SonyCamera::nameChanged, this, &ImageSource::setCameraName);
    QObject::connect(camera, &SonyCamera::exposureAdjusted, this, &CameraController::exposureChanged);
}

void CameraController::connect()
{
    emit connectCamera();
}

void CameraController::reconnect()
{
    emit reconnectCamera();
}

void CameraController::grab()
{
    // Emptied before the capture is asked for, so the grabber never takes the last photo's path
    // for the new one; the change is announced on our own thread, as every property change is.
    if (storeImagePath(QString())) {
        if (QThread::currentThread() == thread())
            emit imagePathChanged();
        else
            QMetaObject::invokeMethod(this, [this] { emit imagePathChanged(); }, Qt::QueuedConnection);
    }
    emit captureImage();
}

void CameraController::displayFrequency(double refreshRate)
{
    ImageSource::displayFrequency(refreshRate);
    emit displayRefreshRate(refreshRate);
}

void CameraController::displayCct(int newCct)
{
    ImageSource::displayCct(newCct);
    emit displayColorTemp(newCct);
}

int CameraController::changeExposure(int clicks)
{
    // Answers come back in the order of the requests: this request is answered when the count
    // of answers reaches it, so a late answer to an earlier one is never taken for it.
    const quint64 request = ++m_exposureRequests;
    m_exposureAnswered = false;
    emit adjustExposure(clicks);

    // Serve the thread's events until the answer or the (monotonic) deadline; a timer wakes the
    // wait at the deadline, started again should it fire a little early.
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    const QDeadlineTimer deadline(ExposureAnswerMs);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (dispatcher && m_exposureAnswers < request && !deadline.hasExpired()) {
        if (!wake.isActive())
            wake.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    // Silent: the previous answer stands.
    return m_exposureResult ? 1 : 0;
}

void CameraController::exposureChanged(int clicks)
{
    qDebug("CameraController::exposureChanged: %d clicks", clicks);
    ++m_exposureAnswers;
    m_exposureAnswered = true;
    m_exposureResult = clicks != 0;
}

void CameraController::saveExposure()
{
    emit saveExp();
}

void CameraController::useSavedExposure(bool useSaved)
{
    emit useSavedExp(useSaved);
}

void CameraController::autoControlExposure(bool autoControl)
{
    emit autoControlExp(autoControl);
}

void CameraController::useRawImages(bool useRaw)
{
    emit rawImages(useRaw);
}

void CameraController::saveLastImage()
{
    emit saveImage();
}

void CameraController::deleteImageFiles()
{
    emit deleteImages();
}
