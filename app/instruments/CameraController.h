#pragma once

#include "instruments/ImageSource.h"
#include "instruments/SonyCamera.h"

#include <QPointer>
#include <QThread>

// The real camera as the rest of the program sees it: an image source on the GUI thread that
// drives a SonyCamera living on a worker thread of its own.
//
// Every request that reaches one of the image-source slots becomes a signal that a queued
// connection carries to the camera, so the blocking SDK calls never run on the GUI thread; every
// change of the camera comes back as a queued signal that sets the matching image-source
// property on the controller's thread. The two threads share no data beyond the image-source
// state that its own lock guards.
class CameraController : public ImageSource
{
    Q_OBJECT
    Q_PROPERTY(SonyCamera* camera READ camera WRITE setCamera NOTIFY cameraChanged)
public:
    // How long an exposure change waits for the camera's answer.
    static constexpr int ExposureAnswerMs = 1000;

    explicit CameraController(QObject* parent = nullptr);
    ~CameraController() override;

    CameraController(const CameraController&) = delete;
    CameraController& operator=(const CameraController&) = delete;

    SonyCamera* camera() const { return m_camera; }
    void setCamera(SonyCamera* camera);

public slots:
    void connect() override;
    void reconnect() override;
    // Callable from any thread (the image grabber calls it from its own): the previous photo's
    // path is gone when it returns, and the new one arrives later on the controller's thread.
    void grab() override;
    void displayFrequency(double refreshRate) override;
    void displayCct(int newCct) override;
    // Blocks for at most a second while the controller's thread serves its events: 1 when the
    // camera changed its exposure, 0 when it could not; a silent camera gives the last answer.
    int changeExposure(int clicks) override;
    void exposureChanged(int clicks);
    void saveExposure() override;
    void useSavedExposure(bool useSaved) override;
    void autoControlExposure(bool autoControl) override;
    void useRawImages(bool useRaw) override;
    void saveLastImage() override;
    void deleteImageFiles() override;

signals:
    void displayRefreshRate(double frequency);
    void displayColorTemp(int cct);
    void adjustExposure(int clicks);
    void saveExp();
    void useSavedExp(bool useSaved);
    void autoControlExp(bool autoControl);
    void rawImages(bool useRaw);

private:
    void connectCameraSignals();

    // Owned: freed on the worker thread as it ends, or by the destructor if it is still there.
    QPointer<SonyCamera> m_camera;
    QThread m_workerThread;
    bool m_exposureAnswered = false;
    bool m_exposureResult = false;
    quint64 m_exposureRequests = 0;
    quint64 m_exposureAnswers = 0;
};
