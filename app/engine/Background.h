#pragma once

#include "engine/TileGrader.h"

#include <opencv2/core.hpp>

#include <QList>
#include <QObject>

#include <functional>
#include <vector>

class ImageSource;

Q_MOC_INCLUDE("instruments/ImageSource.h")

// Takes the photos of the wall for the camera-based runs and turns them into section averages
// with its own TileGrader. It lives on a worker thread of its own: the controller reaches it only
// through queued calls and hears from it only through its signals.
//
// A grab makes a few tries, each with its own dark photo first when reflections are removed (the
// controller blanks the display when told to), then the lit photo; every request is answered
// exactly once by grabImageDataDone. Its waits keep the thread's events flowing, so the
// controller's queued stop (running cleared) ends a grab within one wait slice.
//
// The camera is read only through its lock-guarded readers; everything the grabber asks of it
// either only emits a signal (and is therefore safe from this thread) or is queued to it.
class Background : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ImageSource* imageSource READ imageSource WRITE setImageSource NOTIFY imageSourceChanged)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
public:
    // Settling time added to the controller's read delay after blanking and unblanking.
    static constexpr uint ReadDelayMarginMs = 250;
    static constexpr uint DefaultReadDelayMs = 1500;

    // A grab gives up after this many tries, and a photo after this many attempts.
    static constexpr int MaxTries = 5;
    static constexpr int MaxCaptureAttempts = 3;

    // How long the grabber waits for the camera; the defaults are the program's, and tests
    // shorten them.
    struct Timing
    {
        // How long one attempt waits for the camera's photo file.
        int imageWaitMs = 10000;
        // The pause after the first failed attempt; each later one is a step longer.
        int firstAttemptPauseMs = 100;
        // By how much the pauses between attempts and between tries grow.
        int pauseStepMs = 1000;
    };

    explicit Background(QObject* parent = nullptr);

    // Only before the grabber's thread starts, or on that thread.
    void setTiming(const Timing& timing) { m_timing = timing; }

    // Readers for the grabber's own thread.
    ImageSource* imageSource() const { return m_imageSource; }
    bool running() const { return m_running; }
    bool verbose() const { return m_verbose; }
    uint readDelay() const { return m_readDelay; }
    bool removingReflections() const { return m_removeReflections; }
    bool usingLogImages() const { return m_useLogImages; }
    TileGrader* grader() { return &m_grader; }
    // Runs call at once when no grab is under way, or else when the grab has ended, before its
    // answer goes out: a grab's waits serve this thread's events, and the grader must not change
    // under a load or an averaging pass. Only on the grabber's thread.
    void whenIdle(std::function<void()> call);

public slots:
    void setImageSource(ImageSource* imageSource);
    void setRunning(bool running);
    void setArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio);
    void setSubarrayInfo(int columns, int rows);
    void grabImageData(bool verbose);
    // Answers a grab that nobody asked for with the grader's current averages.
    void LdmArrayImageGrabbed();
    void saveExposure();
    void useSavedExposure(bool useSaved);
    void removeReflections(bool remove);
    void useLogImages(bool log);
    void setReadDelay(int msecs);

signals:
    void imageSourceChanged();
    void runningChanged();
    void setArrayInfoDone();
    void setSubarrayInfoDone();
    void grabImageDataDone(bool success, QList<cv::Mat*>* averagesArrayList);
    void blankDisplay(bool blank);

private:
    // One photo: at most MaxCaptureAttempts waits for the camera's file, with growing pauses.
    bool CaptureImage();
    // Waits ms, serving this thread's events, or less once running clears.
    void waitMs(int ms);
    // The dark photo of one try, with the display blanked around it; its path, or empty.
    bool captureDark(QString& darkPath);
    // The lit photo of one try, loaded against darkPath; the averages, or none.
    QList<cv::Mat*>* captureLit(const QString& darkPath);
    // The camera's error code (no camera counts as no error).
    int cameraErrorKind() const;
    // The camera's verbose setting belongs to its own thread: set it there.
    void setCameraVerbose(bool verbose);

    Timing m_timing;
    ImageSource* m_imageSource = nullptr;
    bool m_running = false;
    bool m_verbose = false;
    TileGrader m_grader;
    bool m_useLogImages = false;
    bool m_removeReflections = false;
    uint m_readDelay = DefaultReadDelayMs;
    bool m_grabbing = false;
    std::vector<std::function<void()>> m_afterGrab;
};

Q_DECLARE_METATYPE(QList<cv::Mat*>*)
