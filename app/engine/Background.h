#pragma once

#include "engine/TileGrader.h"

#include <opencv2/core.hpp>

#include <QList>
#include <QObject>

class ImageSource;

Q_MOC_INCLUDE("instruments/ImageSource.h")

// Takes the photos of the wall for the camera-based runs and turns them into section averages
// with its own TileGrader. It lives on a worker thread of its own: the controller reaches it only
// through queued calls and hears from it only through its signals.
//
// This build cannot take or develop photos yet: every grab ends at once in grabImageDataDone
// with success false and no averages, after logging why.
class Background : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ImageSource* imageSource READ imageSource WRITE setImageSource NOTIFY imageSourceChanged)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
public:
    // Settling time added to the controller's read delay after blanking and unblanking.
    static constexpr uint ReadDelayMarginMs = 250;
    static constexpr uint DefaultReadDelayMs = 1500;

    explicit Background(QObject* parent = nullptr);

    // Readers for the grabber's own thread.
    ImageSource* imageSource() const { return m_imageSource; }
    bool running() const { return m_running; }
    bool verbose() const { return m_verbose; }
    uint readDelay() const { return m_readDelay; }
    bool removingReflections() const { return m_removeReflections; }
    bool usingLogImages() const { return m_useLogImages; }
    TileGrader* grader() { return &m_grader; }

public slots:
    void setImageSource(ImageSource* imageSource);
    void setRunning(bool running);
    void setArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio);
    void setSubarrayInfo(int columns, int rows);
    void grabImageData(bool verbose);
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
    ImageSource* m_imageSource = nullptr;
    bool m_running = false;
    bool m_verbose = false;
    TileGrader m_grader;
    bool m_useLogImages = false;
    bool m_removeReflections = false;
    uint m_readDelay = DefaultReadDelayMs;
};

Q_DECLARE_METATYPE(QList<cv::Mat*>*)
