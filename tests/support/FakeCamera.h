#pragma once

#include "instruments/camera/SdkBackend.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// A scripted camera behind the camera SDK, for tests. It calls its callbacks from a thread of
// its own, as a real SDK does: discovery finds one camera, none, or fails with a scripted code;
// a connection succeeds after a short delay, or is refused once first; it keeps the device
// properties; at the shutter press it writes a photo into the save folder and reports the
// download (or skips it); it fires warnings on demand and serves a small JPEG live-view frame.
// Every method may be called from any thread.
class FakeCamera : public SCRSDK::SdkBackend
{
public:
    enum class Discovery { OneCamera, EmptyList, NoList };

    static constexpr std::uint32_t Version = 0x01020300; // 1.2.3
    static constexpr std::uint32_t ConnectionVersion = 3;
    static const char* const Model;
    static constexpr int LiveViewWidth = 32;
    static constexpr int LiveViewHeight = 24;

    FakeCamera();
    ~FakeCamera() override;

    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    // ---- Script
    void setInitResult(bool ok);
    // The model the camera reports (Model unless set), which picks the lens images offered.
    void setModel(const std::string& model);
    // Discovery's result code, and what it hands out when the code is 0.
    void setDiscovery(Discovery discovery, std::int32_t code = 0);
    void setCallbackDelayMs(int delayMs);
    // The next connection attempt is refused with the "try again" error.
    void refuseNextConnect();
    // At each shutter press, a copy of this file is downloaded.
    void setShotFile(const QString& source);
    // At each shutter press, the image this draws (on the camera's thread) is downloaded.
    void setShotDrawer(std::function<QImage()> draw);
    // Shutter presses download nothing.
    void skipDownloads(bool skip);
    void fireWarning(std::uint32_t warning);
    void setDeviceProperty(const SCRSDK::DeviceProperty& property);
    // The camera reports that its settings changed.
    void firePropertyChanged();
    // Reading the settings fails while set.
    void failPropertyRead(bool fail);
    // Writing the setting with this code fails (0: none).
    void failPropertyWrite(std::uint32_t code);

    // ---- What happened
    SCRSDK::DeviceProperty deviceProperty(std::uint32_t code) const;
    // Photos are stored on the computer: the last setting the driver's set-up changes after
    // connecting (but the saved shutter).
    bool storesOnComputer() const;
    int callCount(const QString& call) const;
    // Every SDK call's name, in order.
    QStringList calls() const;
    // The threads that made a call, in order.
    QList<QThread*> callThreads(const QString& call) const;
    // The parameters of the release commands, in order ("1" pressed, "0" released).
    QString releaseCommands() const;
    QString saveFolder() const;
    // Paths of the photos written, in order.
    QStringList downloads() const;
    std::uint32_t liveViewSetting() const;
    QThread* callbackThread() { return &m_thread; }
    bool connected() const;

    // ---- The SDK
    std::uint32_t GetSDKVersion() override;
    bool Init(std::uint32_t logType) override;
    bool Release() override;
    std::int32_t EnumCameraObjects(std::unique_ptr<SCRSDK::CameraObjectList>& list, std::uint8_t timeoutSeconds) override;
    std::int32_t Connect(const SCRSDK::CameraObjectInfo& info, SCRSDK::IDeviceCallback* callback,
                         SCRSDK::DeviceHandle* handle, std::int32_t remoteControlMode, bool reconnecting) override;
    std::int32_t Disconnect(SCRSDK::DeviceHandle handle) override;
    std::int32_t ReleaseDevice(SCRSDK::DeviceHandle handle) override;
    std::int32_t SetSaveInfo(SCRSDK::DeviceHandle handle, const std::u16string& folder, const std::u16string& prefix,
                             std::int32_t startNumber) override;
    std::int32_t SetDeviceSetting(SCRSDK::DeviceHandle handle, std::uint32_t key, std::uint32_t value) override;
    std::int32_t GetDeviceProperties(SCRSDK::DeviceHandle handle, std::vector<SCRSDK::DeviceProperty>& properties) override;
    std::int32_t SetDeviceProperty(SCRSDK::DeviceHandle handle, const SCRSDK::DeviceProperty& property) override;
    std::int32_t SendCommand(SCRSDK::DeviceHandle handle, std::uint32_t command, std::uint32_t parameter) override;
    std::int32_t GetLiveViewImageInfo(SCRSDK::DeviceHandle handle, SCRSDK::LiveViewImageInfo& info) override;
    std::int32_t GetLiveViewImage(SCRSDK::DeviceHandle handle, SCRSDK::ImageDataBlock& block) override;

    static constexpr std::int32_t InvalidHandle = 0x8002;
    static constexpr std::int32_t PropertyFailure = 0x8402;

private:
    using Call = std::function<void(SCRSDK::IDeviceCallback&)>;

    void record(const QString& call);
    // Runs a callback on the camera's thread after the delay, unless the device was released.
    void callBack(Call call);
    // Runs work on the camera's thread after the delay.
    void post(std::function<void()> work);
    void takePhoto(int session);
    bool knownHandle(SCRSDK::DeviceHandle handle) const;

    mutable std::mutex m_mutex;
    bool m_initResult = true;
    Discovery m_discovery = Discovery::OneCamera;
    std::string m_model = Model;
    std::int32_t m_discoveryCode = 0;
    int m_delayMs = 20;
    bool m_refuseNext = false;
    QString m_shotFile;
    std::function<QImage()> m_shotDrawer;
    bool m_skipDownloads = false;
    bool m_failPropertyRead = false;
    std::uint32_t m_failPropertyWrite = 0;
    std::map<std::uint32_t, SCRSDK::DeviceProperty> m_properties;
    QList<std::pair<QString, QThread*>> m_calls;
    QString m_releaseCommands;
    QString m_saveFolder;
    QStringList m_downloads;
    int m_photoNumber = 0;
    std::uint32_t m_liveViewSetting = 0;
    QByteArray m_liveViewFrame;
    SCRSDK::DeviceHandle m_handle = 0;
    SCRSDK::DeviceHandle m_nextHandle = 0x100;
    bool m_connected = false;
    // Bumped on every connection and release, so a late callback of an old one is dropped.
    int m_session = 0;

    // Held while a callback runs, so a release never overlaps one.
    std::mutex m_callbackMutex;
    SCRSDK::IDeviceCallback* m_callback = nullptr;

    QThread m_thread;
    // Lives on the camera's thread; queued work runs in its name.
    QObject* m_context = nullptr;
};

// Puts a fake camera in place of the program's SDK backend for as long as it exists.
class InstalledFakeCamera
{
public:
    InstalledFakeCamera();
    ~InstalledFakeCamera();

    InstalledFakeCamera(const InstalledFakeCamera&) = delete;
    InstalledFakeCamera& operator=(const InstalledFakeCamera&) = delete;

    FakeCamera& operator*() const { return *m_fake; }
    FakeCamera* operator->() const { return m_fake.get(); }

private:
    std::shared_ptr<FakeCamera> m_fake;
    std::shared_ptr<SCRSDK::SdkBackend> m_previous;
};
