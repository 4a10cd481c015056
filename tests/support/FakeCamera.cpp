#include "support/FakeCamera.h"

#include "instruments/camera/CameraSdk.h"
#include "instruments/camera/IDeviceCallback.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

#include <cstring>

using namespace SCRSDK;

const char* const FakeCamera::Model = "FAKE-7";

namespace {

DeviceProperty makeProperty(std::uint32_t code, std::uint64_t value, std::vector<std::uint64_t> values = {},
                            std::uint32_t valueType = 0)
{
    DeviceProperty property;
    property.code = code;
    property.currentValue = value;
    property.values = std::move(values);
    property.valueType = valueType;
    property.enableFlag = 1;
    property.writable = true;
    return property;
}

} // namespace

FakeCamera::FakeCamera()
    : m_context(new QObject)
{
    // A camera far from the program's set-up, with the lists a camera offers.
    for (const DeviceProperty& property : {
             makeProperty(PropertyCode::FNumber, 400, {280, 400, 560, 800, 1100, 1600, 2200},
                          DeviceProperty::ValueTypeUInt16Array),
             makeProperty(PropertyCode::ShutterSpeed, 0x1003C),
             makeProperty(PropertyCode::Iso, 400, {100, 200, 400, 800, 1600, 3200}, DeviceProperty::ValueTypeUInt32Array),
             makeProperty(PropertyCode::ExposureProgramMode, 2),
             makeProperty(PropertyCode::FileType, 2),
             makeProperty(PropertyCode::JpegQuality, 1),
             makeProperty(PropertyCode::WhiteBalance, 2),
             makeProperty(PropertyCode::FocusMode, 2),
             makeProperty(PropertyCode::MeteringMode, 1),
             makeProperty(PropertyCode::DriveMode, 2),
             makeProperty(PropertyCode::DynamicRangeOptimizer, 1),
             makeProperty(PropertyCode::ImageSize, 2),
             makeProperty(PropertyCode::PictureEffect, 1),
             makeProperty(PropertyCode::ColorTemperature, 5500, {2500, 9900, 100}, DeviceProperty::ValueTypeUInt16Array),
             makeProperty(PropertyCode::StillImageStoreDestination, 2),
             makeProperty(PropertyCode::PriorityKeySettings, 1),
         })
        m_properties[property.code] = property;

    QImage frame(LiveViewWidth, LiveViewHeight, QImage::Format_RGB32);
    frame.fill(QColor(40, 160, 90));
    QBuffer buffer(&m_liveViewFrame);
    buffer.open(QIODevice::WriteOnly);
    frame.save(&buffer, "JPG");

    m_thread.setObjectName(QStringLiteral("fake camera"));
    m_context->moveToThread(&m_thread);
    // Freed on its own thread as it ends, with whatever work was still queued for it.
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
}

FakeCamera::~FakeCamera()
{
    m_thread.quit();
    m_thread.wait();
}

// ---- Script ------------------------------------------------------------------------------------

void FakeCamera::setInitResult(bool ok)
{
    const std::lock_guard lock(m_mutex);
    m_initResult = ok;
}

void FakeCamera::setModel(const std::string& model)
{
    const std::lock_guard lock(m_mutex);
    m_model = model;
}

void FakeCamera::setDiscovery(Discovery discovery, std::int32_t code)
{
    const std::lock_guard lock(m_mutex);
    m_discovery = discovery;
    m_discoveryCode = code;
}

void FakeCamera::setCallbackDelayMs(int delayMs)
{
    const std::lock_guard lock(m_mutex);
    m_delayMs = delayMs;
}

void FakeCamera::refuseNextConnect()
{
    const std::lock_guard lock(m_mutex);
    m_refuseNext = true;
}

void FakeCamera::setShotFile(const QString& source)
{
    const std::lock_guard lock(m_mutex);
    m_shotFile = source;
    m_shotDrawer = nullptr;
}

void FakeCamera::setShotDrawer(std::function<QImage()> draw)
{
    const std::lock_guard lock(m_mutex);
    m_shotDrawer = std::move(draw);
    m_shotFile.clear();
}

void FakeCamera::skipDownloads(bool skip)
{
    const std::lock_guard lock(m_mutex);
    m_skipDownloads = skip;
}

void FakeCamera::fireWarning(std::uint32_t warning)
{
    callBack([warning](IDeviceCallback& callback) { callback.OnWarning(warning); });
}

void FakeCamera::setDeviceProperty(const DeviceProperty& property)
{
    const std::lock_guard lock(m_mutex);
    m_properties[property.code] = property;
}

void FakeCamera::firePropertyChanged()
{
    callBack([](IDeviceCallback& callback) { callback.OnPropertyChanged(); });
}

void FakeCamera::failPropertyRead(bool fail)
{
    const std::lock_guard lock(m_mutex);
    m_failPropertyRead = fail;
}

void FakeCamera::failPropertyWrite(std::uint32_t code)
{
    const std::lock_guard lock(m_mutex);
    m_failPropertyWrite = code;
}

QStringList FakeCamera::calls() const
{
    const std::lock_guard lock(m_mutex);
    QStringList names;
    for (const auto& call : m_calls)
        names.append(call.first);
    return names;
}

// ---- What happened -----------------------------------------------------------------------------

DeviceProperty FakeCamera::deviceProperty(std::uint32_t code) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_properties.find(code);
    return found == m_properties.end() ? DeviceProperty{} : found->second;
}

bool FakeCamera::storesOnComputer() const
{
    constexpr std::uint64_t DestinationComputer = 1;
    return deviceProperty(PropertyCode::StillImageStoreDestination).currentValue == DestinationComputer;
}

int FakeCamera::callCount(const QString& call) const
{
    return static_cast<int>(callThreads(call).size());
}

QList<QThread*> FakeCamera::callThreads(const QString& call) const
{
    const std::lock_guard lock(m_mutex);
    QList<QThread*> threads;
    for (const auto& [name, thread] : m_calls) {
        if (name == call)
            threads.append(thread);
    }
    return threads;
}

QString FakeCamera::releaseCommands() const
{
    const std::lock_guard lock(m_mutex);
    return m_releaseCommands;
}

QString FakeCamera::saveFolder() const
{
    const std::lock_guard lock(m_mutex);
    return m_saveFolder;
}

QStringList FakeCamera::downloads() const
{
    const std::lock_guard lock(m_mutex);
    return m_downloads;
}

std::uint32_t FakeCamera::liveViewSetting() const
{
    const std::lock_guard lock(m_mutex);
    return m_liveViewSetting;
}

bool FakeCamera::connected() const
{
    const std::lock_guard lock(m_mutex);
    return m_connected;
}

// ---- Delivery ----------------------------------------------------------------------------------

void FakeCamera::record(const QString& call)
{
    m_calls.append({call, QThread::currentThread()});
}

void FakeCamera::post(std::function<void()> work)
{
    int delay = 0;
    {
        const std::lock_guard lock(m_mutex);
        delay = m_delayMs;
    }
    // One thread runs the camera's work in order, each piece after its delay.
    QMetaObject::invokeMethod(
        m_context,
        [delay, work = std::move(work)] {
            QThread::msleep(static_cast<unsigned long>(delay));
            work();
        },
        Qt::QueuedConnection);
}

void FakeCamera::callBack(Call call)
{
    int session = 0;
    {
        const std::lock_guard lock(m_mutex);
        session = m_session;
    }
    post([this, session, call = std::move(call)] {
        const std::lock_guard callbackLock(m_callbackMutex);
        {
            const std::lock_guard lock(m_mutex);
            if (session != m_session)
                return;
        }
        if (m_callback)
            call(*m_callback);
    });
}

bool FakeCamera::knownHandle(DeviceHandle handle) const
{
    return handle != 0 && handle == m_handle;
}

// ---- The SDK -----------------------------------------------------------------------------------

std::uint32_t FakeCamera::GetSDKVersion()
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("GetSDKVersion"));
    return Version;
}

bool FakeCamera::Init(std::uint32_t)
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("Init"));
    return m_initResult;
}

bool FakeCamera::Release()
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("Release"));
    return true;
}

std::int32_t FakeCamera::EnumCameraObjects(std::unique_ptr<CameraObjectList>& list, std::uint8_t)
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("EnumCameraObjects"));
    if (m_discoveryCode != 0 || m_discovery == Discovery::NoList)
        return m_discoveryCode;
    list = std::make_unique<CameraObjectList>();
    if (m_discovery == Discovery::OneCamera)
        list->cameras.push_back(CameraObjectInfo{m_model, 0x0D9B, "USB", "fake adaptor"});
    return 0;
}

std::int32_t FakeCamera::Connect(const CameraObjectInfo&, IDeviceCallback* callback, DeviceHandle* handle,
                                 std::int32_t, bool)
{
    bool refuse = false;
    {
        const std::lock_guard callbackLock(m_callbackMutex);
        const std::lock_guard lock(m_mutex);
        record(QStringLiteral("Connect"));
        m_callback = callback;
        m_handle = m_nextHandle++;
        *handle = m_handle;
        ++m_session;
        refuse = std::exchange(m_refuseNext, false);
    }
    if (refuse) {
        callBack([](IDeviceCallback& target) { target.OnError(Status::ConnectRefused); });
    } else {
        callBack([this](IDeviceCallback& target) {
            {
                const std::lock_guard lock(m_mutex);
                m_connected = true;
            }
            target.OnConnected(ConnectionVersion);
        });
    }
    return 0;
}

std::int32_t FakeCamera::Disconnect(DeviceHandle handle)
{
    {
        const std::lock_guard lock(m_mutex);
        record(QStringLiteral("Disconnect"));
        if (!knownHandle(handle))
            return InvalidHandle;
        if (!m_connected)
            return 0;
    }
    callBack([this](IDeviceCallback& target) {
        {
            const std::lock_guard lock(m_mutex);
            m_connected = false;
        }
        target.OnDisconnected(0);
    });
    return 0;
}

std::int32_t FakeCamera::ReleaseDevice(DeviceHandle handle)
{
    const std::lock_guard callbackLock(m_callbackMutex);
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("ReleaseDevice"));
    if (!knownHandle(handle))
        return InvalidHandle;
    m_callback = nullptr;
    m_connected = false;
    m_handle = 0;
    ++m_session;
    return 0;
}

std::int32_t FakeCamera::SetSaveInfo(DeviceHandle handle, const std::u16string& folder, const std::u16string&,
                                     std::int32_t)
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("SetSaveInfo"));
    if (!knownHandle(handle))
        return InvalidHandle;
    m_saveFolder = QString::fromStdU16String(folder);
    return 0;
}

std::int32_t FakeCamera::SetDeviceSetting(DeviceHandle handle, std::uint32_t key, std::uint32_t value)
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("SetDeviceSetting"));
    if (!knownHandle(handle))
        return InvalidHandle;
    if (key == Setting::LiveView)
        m_liveViewSetting = value;
    return 0;
}

std::int32_t FakeCamera::GetDeviceProperties(DeviceHandle handle, std::vector<DeviceProperty>& properties)
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("GetDeviceProperties"));
    if (!knownHandle(handle))
        return InvalidHandle;
    if (m_failPropertyRead)
        return PropertyFailure;
    for (const auto& entry : m_properties)
        properties.push_back(entry.second);
    return 0;
}

std::int32_t FakeCamera::SetDeviceProperty(DeviceHandle handle, const DeviceProperty& property)
{
    {
        const std::lock_guard lock(m_mutex);
        record(QStringLiteral("SetDeviceProperty"));
        if (!knownHandle(handle))
            return InvalidHandle;
        if (property.code == m_failPropertyWrite)
            return PropertyFailure;
        m_properties[property.code].currentValue = property.currentValue;
    }
    callBack([](IDeviceCallback& target) { target.OnPropertyChanged(); });
    return 0;
}

std::int32_t FakeCamera::SendCommand(DeviceHandle handle, std::uint32_t command, std::uint32_t parameter)
{
    int session = 0;
    {
        const std::lock_guard lock(m_mutex);
        record(QStringLiteral("SendCommand"));
        if (!knownHandle(handle))
            return InvalidHandle;
        if (command != Command::Release)
            return 0;
        m_releaseCommands += QString::number(parameter);
        if (parameter != Command::Down || m_skipDownloads)
            return 0;
        session = m_session;
    }
    post([this, session] { takePhoto(session); });
    return 0;
}

void FakeCamera::takePhoto(int session)
{
    QString shotFile;
    std::function<QImage()> draw;
    QString folder;
    int number = 0;
    {
        const std::lock_guard lock(m_mutex);
        if (session != m_session)
            return;
        shotFile = m_shotFile;
        draw = m_shotDrawer;
        folder = m_saveFolder;
        number = ++m_photoNumber;
    }
    const QString suffix = shotFile.isEmpty() ? QStringLiteral("JPG") : QFileInfo(shotFile).suffix();
    const QString path = QStringLiteral("%1/DSC%2.%3").arg(folder).arg(number, 5, 10, QLatin1Char('0')).arg(suffix);
    bool written = false;
    if (!shotFile.isEmpty())
        written = QFile::copy(shotFile, path);
    else if (draw)
        written = draw().save(path, "JPG");
    if (!written)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_downloads.append(path);
    }
    // Reported the way the camera's own platform writes paths.
    const std::u16string reported = QString(path).replace(QLatin1Char('/'), QLatin1Char('\\')).toStdU16String();
    callBack([reported](IDeviceCallback& target) { target.OnCompleteDownload(reported); });
}

std::int32_t FakeCamera::GetLiveViewImageInfo(DeviceHandle handle, LiveViewImageInfo& info)
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("GetLiveViewImageInfo"));
    if (!knownHandle(handle) || !m_connected)
        return InvalidHandle;
    info.bufferSize = static_cast<std::uint32_t>(m_liveViewFrame.size());
    return 0;
}

std::int32_t FakeCamera::GetLiveViewImage(DeviceHandle handle, ImageDataBlock& block)
{
    const std::lock_guard lock(m_mutex);
    record(QStringLiteral("GetLiveViewImage"));
    if (!knownHandle(handle) || !m_connected || block.capacity < static_cast<std::uint32_t>(m_liveViewFrame.size()))
        return InvalidHandle;
    std::memcpy(block.data, m_liveViewFrame.constData(), static_cast<std::size_t>(m_liveViewFrame.size()));
    block.imageSize = static_cast<std::uint32_t>(m_liveViewFrame.size());
    return 0;
}

// ---- Installation ------------------------------------------------------------------------------

InstalledFakeCamera::InstalledFakeCamera()
    : m_fake(std::make_shared<FakeCamera>())
    , m_previous(installBackend(m_fake))
{
}

InstalledFakeCamera::~InstalledFakeCamera()
{
    installBackend(m_previous);
}
