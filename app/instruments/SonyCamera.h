#pragma once

#include "common/ErrorType.h"
#include "instruments/camera/CameraObjectInfo.h"
#include "instruments/camera/DeviceProperty.h"
#include "instruments/camera/IDeviceCallback.h"
#include "instruments/camera/SdkBackend.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

class QTimer;

// Drives one camera through the camera SDK: finds the first camera, connects to it, keeps it in
// a fixed shooting set-up, takes still pictures that the SDK downloads into the temporary folder
// and polls live-view frames.
//
// Threads: the object lives on one thread (the camera controller's worker), where its slots,
// its timers and every SDK call run. The SDK calls the callback interface on threads of its
// own. Those callbacks touch only the four atomics below (connected, last SDK code, shutter
// down, busy); everything else they cause is handed to the camera's thread as a queued call,
// which the waiting loops serve while they wait.
class SonyCamera : public QObject, public SCRSDK::IDeviceCallback
{
    Q_OBJECT
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath NOTIFY imagePathChanged)
    Q_PROPERTY(QString savedImagePath READ savedImagePath WRITE setSavedImagePath NOTIFY savedImagePathChanged)
    Q_PROPERTY(bool cameraReady READ cameraReady NOTIFY cameraReadyChanged)
    Q_PROPERTY(bool cameraBusy READ cameraBusy NOTIFY cameraBusyChanged)
    Q_PROPERTY(ErrorType errorType READ errorType WRITE setErrorType NOTIFY errorTypeChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(QImage liveViewImage READ liveViewImage NOTIFY liveViewImageChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(bool verbose READ verbose WRITE setVerbose NOTIFY verboseChanged)
public:
    static const QString SdkInitFailedMessage;
    static const QString NoCameraMessage;
    static const QString CameraReadyMessage;

    // How long a capture may wait for its download before the shutter is released anyway.
    static constexpr int ShutterTimeoutMs = 3000;
    static constexpr int LiveViewIntervalMs = 42;
    static constexpr int PropertyDelayMs = 1000;
    static constexpr std::uint8_t DiscoverySeconds = 5;
    // The connection waits: steps of this length, at most this many (each step lasts at least
    // one pass of the waiting routine).
    static constexpr int WaitStepMs = 10;
    static constexpr int WaitSteps = 200;
    static constexpr int WaitSleepMs = 50;
    static constexpr std::int64_t DefaultDisplayCct = 6504;

    explicit SonyCamera(bool liveView, QObject* parent = nullptr);
    ~SonyCamera() override;

    SonyCamera(const SonyCamera&) = delete;
    SonyCamera& operator=(const SonyCamera&) = delete;

    QString imagePath() const { return m_imagePath; }
    void setImagePath(const QString& path);
    QString savedImagePath() const { return m_savedImagePath; }
    void setSavedImagePath(const QString& path);
    // Connected with a device, not capturing, not busy and without an error.
    bool cameraReady() const;
    bool cameraBusy() const { return m_busy.load(); }
    ErrorType errorType() const { return m_errorType; }
    // Changes the stored error only between success and failure.
    void setErrorType(const ErrorType& errorType);
    QString statusMessage() const { return m_statusMessage; }
    QImage liveViewImage() const { return m_liveViewImage; }
    QString name() const { return m_name; }
    void setName(const QString& name);
    bool verbose() const { return m_verbose; }
    void setVerbose(bool verbose);

    // Disconnects and deletes the image files; run on the camera's thread as it ends.
    void cleanup();

    // Callbacks from the SDK's threads.
    void OnConnected(std::uint32_t version) override;
    void OnDisconnected(std::uint32_t error) override;
    void OnPropertyChanged() override;
    void OnCompleteDownload(const std::u16string& filename) override;
    void OnWarning(std::uint32_t warning) override;
    void OnError(std::uint32_t error) override;

public slots:
    void disconnectCamera();
    bool connectCamera();
    bool reconnectCamera();
    bool captureImage();
    void sendShutterUp();
    void displayRate(double frequency);
    bool displayColorTemp(int cct);
    int adjustExposure(int clicks);
    int adjustFNumber(int clicks, bool doIt = true);
    int adjustIso(int clicks);
    void saveExposure();
    void useSavedExposure(bool useSaved);
    void autoControlExposure(bool autoControl);
    void useRawImages(bool useRaw);
    void saveImage();
    void deleteImages();
    void fetchProperties();

signals:
    void imageChanged();
    void imagePathChanged(QString newPath);
    void savedImagePathChanged(QString newPath);
    void cameraReadyChanged(bool isReady);
    void statusMessageChanged();
    void errorTypeChanged();
    void status(ErrorType errorType, QString statusMessage);
    void cameraBusyChanged(bool isBusy);
    void liveViewImageChanged(QImage newImage);
    void nameChanged(QString name);
    void verboseChanged();
    void propertiesChanged();
    void exposureAdjusted(int clicks);
    void pleaseFetchProperies();

private:
    static constexpr int DevicePropertyCount = 16;

    // Reports the camera's state to the controller; the error follows the error rule.
    void setStatus(const ErrorType& error, const QString& message);
    void setStatus(qint32 kind, const QString& message);
    void setBusy(bool busy);
    // Sets the atomic and tells whether it changed, for callbacks that emit later.
    bool exchangeBusy(bool busy);
    void emitReady();
    // Runs a step of a callback on the camera's thread.
    template <typename Step>
    void onCameraThread(Step step);
    // Serves the thread's events until the time has passed, sleeping between passes.
    static void waitFor(int milliseconds);
    // Waits for the connection callback or an error, as long as the connection waits allow.
    void waitForConnection();
    // Connects to the kept camera and waits for the outcome; the result of Connect itself.
    std::int32_t connectDevice();
    void sendLiveViewSetting();
    void pollLiveView();
    void deleteFile(const QString& path) const;
    void releaseSdk();

    // The callbacks' connection steps, on the camera's thread.
    void finishConnected(bool connectedChanged, bool busyChanged, bool shutterChanged);

    void updateProperties();
    bool updateProperty_(std::uint32_t code, std::uint64_t value, const QString& message);
    // The kept copy of the camera setting with this code (one of the sixteen).
    SCRSDK::DeviceProperty& property(std::uint32_t code);
    // Writes the shutter, aperture and ISO line, only when it differs from the last one written.
    void logSummary();

    std::optional<SCRSDK::CameraObjectInfo> m_cameraInfo;
    std::atomic<std::uint32_t> m_lastSdkCode{0};
    bool m_sdkReady = false;
    // An Init is outstanding and owes the SDK one Release.
    bool m_sdkInitialised = false;
    std::atomic<bool> m_connected{false};
    SCRSDK::DeviceHandle m_device = 0;
    std::vector<std::uint8_t> m_liveViewBuffer;
    std::uint32_t m_liveViewImageSize = 0;
    QTimer* m_shutterTimer = nullptr;
    QTimer* m_liveViewTimer = nullptr;
    QTimer* m_propertyTimer = nullptr;
    bool m_updating = false;
    std::atomic<bool> m_shutterDown{false};
    std::atomic<bool> m_busy{false};
    bool m_liveView = false;
    bool m_verbose = false;
    bool m_rawImages = false;
    QString m_imagePath;
    QString m_savedImagePath;
    QImage m_liveViewImage;
    QString m_statusMessage;
    ErrorType m_errorType;
    QString m_name;
    std::array<SCRSDK::DeviceProperty, DevicePropertyCount> m_properties{};
    QString m_propertyNotice;
    std::uint64_t m_currentIso = 0;
    std::uint64_t m_currentShutter = 0;
    std::uint64_t m_currentAperture = 0;
    std::uint64_t m_savedIso = 0;
    std::uint64_t m_savedShutter = 0;
    std::uint64_t m_savedAperture = 0;
    std::int64_t m_displayCct = DefaultDisplayCct;
    bool m_useSaved = false;
    bool m_autoControl = true;
};
