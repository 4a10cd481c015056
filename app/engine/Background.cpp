#include "engine/Background.h"

#include "engine/ThreadWait.h"
#include "instruments/ImageSource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>

#include <algorithm>
#include <utility>

Background::Background(QObject* parent)
    : QObject(parent)
    , m_grader(this) // a child, so that it moves to the grabber's thread with it
{
    qRegisterMetaType<QList<cv::Mat*>*>();
}

void Background::setImageSource(ImageSource* imageSource)
{
    if (m_imageSource == imageSource)
        return;
    m_imageSource = imageSource;
    emit imageSourceChanged();
}

void Background::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    emit runningChanged();
}

void Background::setArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio)
{
    m_grader.setSections(ldmsWide, ldmsHigh);
    m_grader.setAspectRatio(aspectRatio);
    emit setArrayInfoDone();
}

void Background::setSubarrayInfo(int columns, int rows)
{
    m_grader.setSubsections(columns, rows);
    emit setSubarrayInfoDone();
}

void Background::whenIdle(std::function<void()> call)
{
    if (m_grabbing)
        m_afterGrab.push_back(std::move(call));
    else
        call();
}

void Background::grabImageData(bool verbose)
{
    m_grabbing = true;
    m_verbose = verbose;
    if (m_verbose) {
        qInfo(">>>>>>>>>>>>>>>>>>>> background: image grab started");
        setCameraVerbose(true);
    }

    bool success = false;
    QList<cv::Mat*>* averages = nullptr;
    QString darkPath;
    int pauseMs = 0;
    for (int tries = 0; m_running && !success && tries < MaxTries && cameraErrorKind() != ErrorType::Fatal;
         ++tries, pauseMs += m_timing.pauseStepMs) {
        if (tries > 0)
            waitMs(pauseMs);
        if (m_removeReflections && m_running && !captureDark(darkPath))
            continue; // a try without its dark photo takes no lit one
        if (m_running) {
            averages = captureLit(darkPath);
            success = averages != nullptr;
        }
        if (!success && m_running)
            qInfo("Background::grabImageData() capture / processing failed; try #%d (errorType %d)", tries + 1,
                  cameraErrorKind());
    }

    if (success && m_imageSource)
        m_imageSource->deleteImageFiles();
    if (m_verbose)
        setCameraVerbose(false);
    if (!success && m_running) {
        if (cameraErrorKind() == ErrorType::Fatal)
            qInfo("Background::grabImageData() failed with unrecoverable error");
        else
            qInfo("Background::grabImageData() failed after multiple retries");
        setRunning(false);
    }
    if (m_verbose)
        qInfo("<<<<<<<<<<<<<<<<<<<< background: image grab done");
    m_grabbing = false;
    for (const std::function<void()>& call : std::exchange(m_afterGrab, {}))
        call();
    emit grabImageDataDone(success, averages);
}

bool Background::captureDark(QString& darkPath)
{
    if (m_verbose)
        qInfo(">>> blanking ON <<<");
    emit blankDisplay(true);
    waitMs(static_cast<int>(m_readDelay));

    if (m_verbose)
        qInfo("Capturing dark image...");
    const bool darkOk = CaptureImage();
    if (darkOk) {
        darkPath = m_imageSource->imagePath();
        if (m_verbose)
            qInfo("...dark image captured: %s", qUtf8Printable(darkPath));
        // Kept, so that the lit photo does not replace it on disk.
        emit m_imageSource->saveImage();
    } else if (m_running) {
        qInfo("Background::grabImageData() dark capture failed");
    }

    QCoreApplication::processEvents();
    if (m_verbose)
        qInfo(">>> blanking OFF <<<");
    emit blankDisplay(false);
    waitMs(static_cast<int>(m_readDelay));
    return darkOk;
}

QList<cv::Mat*>* Background::captureLit(const QString& darkPath)
{
    if (m_verbose)
        qInfo("Capturing image...");
    if (!CaptureImage())
        return nullptr;
    const QString path = m_imageSource->imagePath();
    if (m_verbose) {
        qInfo("...image captured: %s", qUtf8Printable(path));
        if (darkPath.isEmpty()) {
            qInfo("TileGrader: loadOriginal(%s)", qUtf8Printable(path));
        } else {
            qInfo("TileGrader: loadOriginal(%s,", qUtf8Printable(path));
            qInfo("                         %s)", qUtf8Printable(darkPath));
        }
    }
    if (!m_grader.loadOriginal(path, darkPath))
        return nullptr;
    QList<cv::Mat*>* averages = m_grader.sectionAverages();
    if (m_verbose) {
        qInfo("TileGrader found screen contour");
        qInfo("list has %lld average arrays", static_cast<long long>(averages ? averages->size() : 0));
    }
    return averages;
}

bool Background::CaptureImage()
{
    ImageSource* camera = m_imageSource;
    if (!camera) {
        if (m_verbose)
            qInfo("No image source (camera) found!");
        return false;
    }
    const bool ready = camera->cameraReady();
    const bool busy = camera->cameraBusy();
    if (!ready || busy) {
        qInfo("Camera unavailable; ready=%d, busy=%d", ready, busy);
        return false;
    }
    const int errorKind = camera->errorType().kind;
    if (errorKind != ErrorType::Success) {
        if (m_verbose)
            qInfo("Camera error type is %d, so can't capture.", errorKind);
        return false;
    }
    if (!m_running) {
        qInfo("CaptureImage() failed.");
        return false;
    }

    bool taken = false;
    int pauseMs = m_timing.firstAttemptPauseMs;
    for (int attempt = 1; !taken; ++attempt, pauseMs += m_timing.pauseStepMs) {
        if (attempt > MaxCaptureAttempts) {
            qInfo("CaptureImage() failed.");
            return false;
        }
        if (m_verbose)
            qInfo("CaptureImage(): grabbing image...");
        camera->grab();
        if (camera->isDummy())
            return true; // the dummy's "photo" is taken from the display model: no file comes

        // The camera's own thread announces the file; the stop arrives queued on ours.
        ThreadWait::until([&] { return !m_running || !camera->imagePath().isEmpty(); },
                          QDeadlineTimer(m_timing.imageWaitMs, Qt::PreciseTimer));
        taken = !camera->imagePath().isEmpty();
        if (!taken) {
            qInfo("CaptureImage(): no image returned after %d seconds; attempt #%d", m_timing.imageWaitMs / 1000,
                  attempt);
            waitMs(pauseMs);
        }
        if (!m_running)
            break;
    }
    if (taken && m_verbose)
        qInfo("CaptureImage(): new image %s", qUtf8Printable(camera->imagePath()));
    return taken;
}

void Background::waitMs(int ms)
{
    ThreadWait::until([this] { return !m_running; }, QDeadlineTimer(ms, Qt::PreciseTimer));
}

int Background::cameraErrorKind() const
{
    return m_imageSource ? m_imageSource->errorType().kind : ErrorType::Success;
}

void Background::setCameraVerbose(bool verbose)
{
    if (!m_imageSource)
        return;
    QMetaObject::invokeMethod(
        m_imageSource, [camera = m_imageSource, verbose] { camera->setVerbose(verbose); }, Qt::QueuedConnection);
}

void Background::LdmArrayImageGrabbed()
{
    qInfo("SPURIOUS BACKGROUND GRAB DONE; YOU SHOULDN'T SEE THIS!");
    emit grabImageDataDone(true, m_grader.sectionAverages());
}

void Background::saveExposure()
{
    if (m_imageSource)
        m_imageSource->saveExposure();
}

void Background::useSavedExposure(bool useSaved)
{
    if (m_imageSource)
        m_imageSource->useSavedExposure(useSaved);
}

void Background::removeReflections(bool remove)
{
    m_removeReflections = remove;
}

void Background::useLogImages(bool log)
{
    m_useLogImages = log;
}

void Background::setReadDelay(int msecs)
{
    m_readDelay = static_cast<uint>(std::max(msecs, 0)) + ReadDelayMarginMs;
}
