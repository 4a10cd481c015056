#include "instruments/ImageSource.h"

#include <QMutexLocker>

const QString ImageSource::DummyCameraName = QStringLiteral("Dummy Camera");

ImageSource::ImageSource(QObject* parent)
    : QObject(parent)
{
    m_statusTimer.setSingleShot(true);
    m_statusTimer.setInterval(StatusDelayMs);
    QObject::connect(&m_statusTimer, &QTimer::timeout, this, &ImageSource::timerDone);
}

template <typename T>
bool ImageSource::storeShared(T& field, const T& value)
{
    const QMutexLocker locker(&m_stateMutex);
    if (field == value)
        return false;
    field = value;
    return true;
}

template <typename T>
T ImageSource::loadShared(const T& field) const
{
    const QMutexLocker locker(&m_stateMutex);
    return field;
}

ErrorType ImageSource::errorType() const
{
    return loadShared(m_errorType);
}

bool ImageSource::cameraReady() const
{
    return loadShared(m_cameraReady);
}

bool ImageSource::cameraBusy() const
{
    return loadShared(m_cameraBusy);
}

QString ImageSource::imagePath() const
{
    return loadShared(m_imagePath);
}

bool ImageSource::isDummy() const
{
    return loadShared(m_isDummy);
}

bool ImageSource::verbose() const
{
    return loadShared(m_verbose);
}

void ImageSource::setStatusMessage(const QString& message)
{
    if (message == m_statusMessage)
        return;
    m_statusMessage = message;
    emit statusMessageChanged();
}

void ImageSource::setErrorType(const ErrorType& errorType)
{
    {
        const QMutexLocker locker(&m_stateMutex);
        if ((m_errorType.kind == 0) == (errorType.kind == 0))
            return;
        m_errorType = errorType;
    }
    emit errorTypeChanged();
}

void ImageSource::setCameraReady(bool ready)
{
    if (storeShared(m_cameraReady, ready))
        emit cameraReadyChanged();
}

void ImageSource::setCameraBusy(bool busy)
{
    if (storeShared(m_cameraBusy, busy))
        emit cameraBusyChanged();
}

void ImageSource::setImagePath(const QString& path)
{
    if (storeShared(m_imagePath, path))
        emit imagePathChanged();
}

void ImageSource::setLiveViewImage(const QImage& image)
{
    if (image == m_liveViewImage)
        return;
    m_liveViewImage = image;
    emit liveViewImageChanged();
}

void ImageSource::setCameraName(const QString& name)
{
    if (name == m_cameraName)
        return;
    m_cameraName = name;
    emit cameraNameChanged(m_cameraName);
}

void ImageSource::setVerbose(bool verbose)
{
    if (storeShared(m_verbose, verbose))
        emit verboseChanged(verbose);
}

bool ImageSource::storeImagePath(const QString& path)
{
    return storeShared(m_imagePath, path);
}

void ImageSource::setDummy(bool isDummy)
{
    storeShared(m_isDummy, isDummy);
}

void ImageSource::connect()
{
    qDebug("Dummy Camera connected (readings will use Simulated Display).");
    setCameraName(DummyCameraName);
    setCameraReady(true);
}

void ImageSource::reconnect()
{
    qDebug("Dummy Camera reconnected (readings will use Simulated Display).");
    setCameraReady(true);
}

void ImageSource::grab()
{
    qDebug("\"Captured\" an image.");
}

void ImageSource::setCameraStatus(ErrorType errorType, QString message)
{
    m_pendingError = errorType;
    m_pendingMessage = message;
    if (errorType.kind == 0) {
        m_statusTimer.stop();
        setErrorType(errorType);
        setStatusMessage(QStringLiteral(""));
        emit statusReported(errorType, message);
        return;
    }
    m_statusTimer.start();
}

void ImageSource::timerDone()
{
    if (m_pendingError.kind == 0)
        return;
    setErrorType(m_pendingError);
    setStatusMessage(m_pendingMessage);
    emit statusReported(m_pendingError, m_pendingMessage);
}

void ImageSource::displayFrequency(double refreshRate)
{
    m_displayRefreshRate = refreshRate;
}

void ImageSource::displayCct(int newCct)
{
    m_displayCct = newCct;
}

int ImageSource::changeExposure(int clicks)
{
    return clicks;
}

void ImageSource::saveExposure()
{
}

void ImageSource::useSavedExposure(bool)
{
}

void ImageSource::autoControlExposure(bool)
{
}

void ImageSource::useRawImages(bool)
{
}

void ImageSource::saveLastImage()
{
}

void ImageSource::deleteImageFiles()
{
}
