#include "instruments/CameraController.h"

#include <QDebug>
#include <QThread>

const QString CameraController::NoDriverMessage = QStringLiteral("No camera driver is available in this build");

CameraController::CameraController(QObject* parent)
    : ImageSource(parent)
{
    setDummy(false);
}

void CameraController::connect()
{
    reportNoDriver();
}

void CameraController::reconnect()
{
    reportNoDriver();
}

void CameraController::grab()
{
    // An empty path is what the grabber waits on: it stays empty, so no image is ever taken.
    setImagePath(QString());
    reportNoDriver();
}

int CameraController::changeExposure(int clicks)
{
    qDebug("CameraController::changeExposure(%+d): %s", clicks, qUtf8Printable(NoDriverMessage));
    return 0;
}

void CameraController::reportNoDriver()
{
    qWarning("CameraController: %s", qUtf8Printable(NoDriverMessage));
    setCameraReady(false);
    setErrorType(ErrorType::failure(ErrorType::Fatal, NoDriverMessage));
    // The grabber calls grab() from its own thread; the status line belongs to ours.
    if (QThread::currentThread() == thread())
        setStatusMessage(NoDriverMessage);
}
