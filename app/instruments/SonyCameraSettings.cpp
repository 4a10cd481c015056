// SonyCamera: the fixed shooting set-up, the shutter and white balance from the display, the
// exposure in clicks and the saved exposure.
#include "instruments/SonyCamera.h"

#include "instruments/SonyCameraKeys.h"
#include "instruments/camera/CameraSdk.h"

#include <QMutex>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace SCRSDK;

namespace {

// The sixteen settings kept, in the order of their slots.
constexpr std::array<std::uint32_t, 16> KeptCodes = {
    PropertyCode::PriorityKeySettings, PropertyCode::ExposureProgramMode, PropertyCode::FileType,
    PropertyCode::JpegQuality, PropertyCode::ImageSize, PropertyCode::MeteringMode, PropertyCode::WhiteBalance,
    PropertyCode::ColorTemperature, PropertyCode::FocusMode, PropertyCode::DriveMode,
    PropertyCode::DynamicRangeOptimizer, PropertyCode::PictureEffect, PropertyCode::StillImageStoreDestination,
    PropertyCode::ShutterSpeed, PropertyCode::Iso, PropertyCode::FNumber};

// The fixed set-up.
constexpr std::uint64_t PriorityComputer = 2;
constexpr std::uint64_t ProgramManual = 1;
constexpr std::uint64_t FileTypeJpeg = 1;
constexpr std::uint64_t FileTypeRaw = 2;
constexpr std::uint64_t JpegFine = 3;
constexpr std::uint64_t ImageSizeLarge = 1;
constexpr std::uint64_t MeteringCentreWeighted = 6;
constexpr std::uint64_t WhiteBalanceColourTemperature = 256;
constexpr std::uint64_t FocusManual = 1;
constexpr std::uint64_t DriveSingle = 1;
constexpr std::uint64_t DroOff = 0;
constexpr std::uint64_t PictureEffectOff = 0;
constexpr std::uint64_t DestinationComputer = 1;

// Raw value forms.
constexpr std::uint64_t ShutterFifth = 0x10005;
constexpr std::uint64_t ShutterEighth = 0x10008;
constexpr std::uint64_t IsoMask = 0x0FFFFFFF;
constexpr std::uint64_t IsoAuto = 0xFFFFFF;
constexpr std::uint64_t FNumberF8 = 800;
constexpr std::uint64_t FNumberLimit = 65500;
constexpr double RateTolerance = 0.002;
constexpr std::int64_t CctSearchStart = 15000;
constexpr std::size_t SummaryLimit = 100;

const QString IsoAutoNotice = QStringLiteral("ISO cannot be AUTO: please set a fixed ISO");

namespace Key = SonyCameraKeys;

std::uint64_t isoOf(std::uint64_t value)
{
    return value & IsoMask;
}

QString fNumberText(std::uint64_t value)
{
    return QString::number(static_cast<double>(value) / 100.0, 'f', 1);
}

// True when the frequency is within the tolerance of a whole, non-zero multiple of the divisor.
bool wholeMultiple(double frequency, double divisor)
{
    const double quotient = frequency / divisor;
    const double whole = std::round(quotient);
    return whole != 0.0 && std::abs(1.0 - quotient / whole) < RateTolerance;
}

} // namespace

DeviceProperty& SonyCamera::property(std::uint32_t code)
{
    const auto found = std::find(KeptCodes.begin(), KeptCodes.end(), code);
    Q_ASSERT(found != KeptCodes.end());
    return m_properties.at(static_cast<std::size_t>(found - KeptCodes.begin()));
}

// ---- Property update ---------------------------------------------------------------------------

void SonyCamera::updateProperties()
{
    if (m_updating)
        return;
    if (m_connecting) {
        fetchProperties();
        return;
    }
    m_updating = true;

    std::vector<DeviceProperty> read;
    if (GetDeviceProperties(m_device, read) != Status::Ok) {
        qInfo("SonyCamera: Failed to get device properties.");
        m_updating = false;
        return;
    }
    m_propertyNotice.clear();
    for (const DeviceProperty& entry : read) {
        if (std::find(KeptCodes.begin(), KeptCodes.end(), entry.code) != KeptCodes.end())
            property(entry.code) = entry;
    }
    ReleaseDeviceProperties(m_device, read);

    // One change at a time: the camera reports it, and the next update goes on.
    const auto walk = [this] {
        using namespace PropertyCode;
        if (updateProperty_(PriorityKeySettings, PriorityComputer, QStringLiteral("~ Setting control priority to computer..."))
            || updateProperty_(ExposureProgramMode, ProgramManual, QStringLiteral("Setting program mode to M..."))
            || updateProperty_(FileType, m_rawImages ? FileTypeRaw : FileTypeJpeg,
                               m_rawImages ? QStringLiteral("Setting file type to Raw...")
                                           : QStringLiteral("Setting file type to JPEG..."))
            || (!m_rawImages && updateProperty_(JpegQuality, JpegFine, QStringLiteral("Setting fine JPEG quality...")))
            || updateProperty_(ImageSize, ImageSizeLarge, QStringLiteral("Setting large image size..."))
            || updateProperty_(MeteringMode, MeteringCentreWeighted, QStringLiteral("Setting center-weighted metering mode..."))
            || updateProperty_(WhiteBalance, WhiteBalanceColourTemperature, QStringLiteral("Setting white balance..."))
            || displayColorTemp(static_cast<int>(m_displayCct))
            || updateProperty_(FocusMode, FocusManual, QStringLiteral("Setting manual focus mode..."))
            || updateProperty_(DriveMode, DriveSingle, QStringLiteral("Setting single-image drive mode..."))
            || updateProperty_(DynamicRangeOptimizer, DroOff, QStringLiteral("Setting DRO off..."))
            || updateProperty_(PictureEffect, PictureEffectOff, QStringLiteral("Setting picture effect off..."))
            || updateProperty_(StillImageStoreDestination, DestinationComputer,
                               QStringLiteral("Setting image destination to computer only...")))
            return;
        if (!m_autoControl)
            return;
        if (m_savedShutter != 0 && updateProperty_(ShutterSpeed, m_savedShutter, QStringLiteral("Setting saved shutter...")))
            return;
        if (m_useSaved && m_savedShutter != 0 && m_savedIso != 0 && m_savedAperture != 0) {
            if (updateProperty_(ShutterSpeed, m_savedShutter, QStringLiteral("Setting saved shutter..."))
                || updateProperty_(Iso, m_savedIso, QStringLiteral("Setting saved ISO...")))
                return;
            updateProperty_(FNumber, m_savedAperture, QStringLiteral("Setting saved aperture..."));
        }
    };
    walk();

    logSummary();
    if (!m_propertyNotice.isEmpty())
        setStatus(ErrorType::Retryable, m_propertyNotice);
    else
        setStatus(ErrorType::Success, QStringLiteral(""));
    emitReady();

    if (m_verbose && !m_shutterDown.load()) {
        if (property(PropertyCode::FNumber).writable && property(PropertyCode::Iso).writable)
            qDebug(" *** SonyCamera::updateProperties(): good ISO and iris! ***");
        else
            qDebug(" *** SonyCamera::updateProperties(): bad ISO or iris ***");
    }
    m_updating = false;
}

void SonyCamera::logSummary()
{
    QByteArray shutterText = "---------";
    QByteArray apertureText = "-----";
    QByteArray isoText = "----";
    const DeviceProperty& shutter = property(PropertyCode::ShutterSpeed);
    if (shutter.enabled()) {
        m_currentShutter = shutter.currentValue;
        const std::uint64_t numerator = (m_currentShutter >> 16) & 0xFFFF;
        const std::uint64_t denominator = m_currentShutter & 0xFFFF;
        const auto special = [](std::uint64_t part) { return part == 0xFFFE || part == 0xFFFF; };
        if (!special(numerator) && !special(denominator))
            shutterText = QStringLiteral("%1/%2 sec").arg(numerator).arg(denominator).toUtf8();
    }
    const DeviceProperty& aperture = property(PropertyCode::FNumber);
    if (aperture.enabled()) {
        m_currentAperture = aperture.currentValue;
        if (m_currentAperture < FNumberLimit) {
            apertureText = (m_currentAperture % 100 == 0 ? QStringLiteral("f/%1").arg(m_currentAperture / 100)
                                                         : QStringLiteral("f/%1").arg(fNumberText(m_currentAperture)))
                               .toUtf8();
        }
    }
    const DeviceProperty& iso = property(PropertyCode::Iso);
    if (iso.enabled()) {
        m_currentIso = iso.currentValue;
        if (isoOf(m_currentIso) == IsoAuto) {
            isoText = "ISO AUTO";
            m_propertyNotice = IsoAutoNotice;
        } else {
            isoText = QStringLiteral("ISO %1").arg(isoOf(m_currentIso)).toUtf8();
        }
    }

    std::array<char, SummaryLimit + 1> line{};
    std::snprintf(line.data(), line.size(), "%11s  %-6s  %s", shutterText.constData(), apertureText.constData(),
                  isoText.constData());
    static QMutex lastLineMutex;
    static QByteArray lastLine;
    const QMutexLocker lock(&lastLineMutex);
    if (lastLine != line.data()) {
        lastLine = line.data();
        qDebug("%s", line.data());
    }
}

bool SonyCamera::updateProperty_(std::uint32_t code, std::uint64_t value, const QString& message)
{
    DeviceProperty& setting = property(code);
    if (!setting.enabled() || setting.currentValue == value)
        return false;
    const std::uint64_t before = setting.currentValue;
    setting.currentValue = value;
    m_propertyNotice = message;
    if (code == PropertyCode::ShutterSpeed) {
        qDebug("%s", qUtf8Printable(QStringLiteral("%1 (current %2 (%3/%4), new %5 (%6/%7))")
                                        .arg(message)
                                        .arg(before)
                                        .arg(before >> 16)
                                        .arg(before & 0xFFFF)
                                        .arg(value)
                                        .arg(value >> 16)
                                        .arg(value & 0xFFFF)));
    } else if (code == PropertyCode::Iso) {
        qDebug("%s", qUtf8Printable(QStringLiteral("%1 (current %2, new %3)").arg(message).arg(isoOf(before)).arg(isoOf(value))));
    } else if (code == PropertyCode::FNumber) {
        qDebug("%s", qUtf8Printable(
                         QStringLiteral("%1 (current %2, new %3)").arg(message, fNumberText(before), fNumberText(value))));
    } else {
        qDebug("%s", qUtf8Printable(QStringLiteral("%1 (current %2, new %3)").arg(message).arg(before).arg(value)));
    }
    const std::int32_t result = SetDeviceProperty(m_device, setting);
    if (result == Status::Ok) {
        emit pleaseFetchProperies();
        return true;
    }
    qInfo("SonyCamera::updateProperty_ error 0x%X", static_cast<unsigned>(result));
    return false;
}

void SonyCamera::fetchProperties()
{
    if (m_propertyTimer)
        m_propertyTimer->start(PropertyDelayMs);
}

// ---- Exposure in clicks ------------------------------------------------------------------------

int SonyCamera::adjustFNumber(int clicks, bool doIt)
{
    const DeviceProperty& aperture = property(PropertyCode::FNumber);
    if (aperture.valueType != DeviceProperty::ValueTypeUInt16Array) {
        qDebug("SonyCamera::adjustFNumber: unexpected value type 0x%x != 0x%x", aperture.valueType,
               DeviceProperty::ValueTypeUInt16Array);
        return 0;
    }
    const std::vector<std::uint64_t>& values = aperture.values;
    if (values.size() < 2) {
        qDebug("SonyCamera::adjustFNumber: no fNumber array; can't adjust");
        return 0;
    }
    const int last = static_cast<int>(values.size()) - 1;
    const auto atLeast = [&](std::uint64_t value) {
        const auto found = std::find_if(values.begin(), values.end(), [&](std::uint64_t v) { return v >= value; });
        return found == values.end() ? -1 : static_cast<int>(found - values.begin());
    };
    const int lowest = std::max(atLeast(FNumberF8), 0);
    const int foundCurrent = atLeast(aperture.currentValue);
    const int current = foundCurrent < 0 ? last : foundCurrent;
    const int target = std::min(std::max(current - clicks, lowest), last);
    qDebug("FNumber %+d (of %+d) clicks from %d to %d", current - target, clicks,
           static_cast<int>(values.at(static_cast<std::size_t>(current))),
           static_cast<int>(values.at(static_cast<std::size_t>(target))));
    if (target != current && doIt)
        updateProperty_(PropertyCode::FNumber, values.at(static_cast<std::size_t>(target)), QStringLiteral("Setting new aperture..."));
    return current - target;
}

int SonyCamera::adjustIso(int clicks)
{
    const DeviceProperty& iso = property(PropertyCode::Iso);
    if (iso.valueType != DeviceProperty::ValueTypeUInt32Array) {
        qDebug("SonyCamera::adjustIso: unexpected value type 0x%x != 0x%x", iso.valueType,
               DeviceProperty::ValueTypeUInt32Array);
        return 0;
    }
    const std::vector<std::uint64_t>& values = iso.values;
    if (values.size() < 2) {
        qDebug("SonyCamera::adjustIso: no ISO array; can't adjust");
        return 0;
    }
    // ISO AUTO at either end is no step of the range.
    int first = 0;
    int last = static_cast<int>(values.size()) - 1;
    if (isoOf(values.front()) == IsoAuto)
        ++first;
    if (isoOf(values.back()) == IsoAuto)
        --last;
    if (first > last)
        return 0;
    int current = last; // a current value above every listed one stays at the top
    const std::uint64_t currentIso = isoOf(iso.currentValue);
    if (currentIso == IsoAuto) {
        current = first;
    } else {
        for (int index = first; index <= last; ++index) {
            if (isoOf(values.at(static_cast<std::size_t>(index))) >= currentIso) {
                current = index;
                break;
            }
        }
    }
    const int target = std::clamp(current + clicks, first, last);
    qDebug("iso %+d (of %+d) clicks from %d to %d", target - current, clicks,
           static_cast<int>(isoOf(values.at(static_cast<std::size_t>(current)))),
           static_cast<int>(isoOf(values.at(static_cast<std::size_t>(target)))));
    if (target != current)
        updateProperty_(PropertyCode::Iso, values.at(static_cast<std::size_t>(target)), QStringLiteral("Setting new ISO..."));
    return target - current;
}

int SonyCamera::adjustExposure(int clicks)
{
    qDebug("==========================");
    const int toF8 = adjustFNumber(100, false);
    int isoClicks = 0;
    if (toF8 != clicks) {
        qDebug("set to f/8: aperture wants %d clicks, so adjust ISO %d clicks", toF8, clicks - toF8);
        isoClicks = adjustIso(clicks - toF8);
    }
    const int fClicks = clicks - isoClicks;
    if (toF8 + isoClicks != clicks)
        qDebug("iso did %d clicks, so adjust fNumber %d clicks", isoClicks, fClicks);
    const int apertureClicks = adjustFNumber(fClicks, true);
    const int changes = std::abs(apertureClicks) + std::abs(isoClicks);
    qDebug("adjusted aperture %d, iso %d, for %d of %d clicks (emit %d changes)", apertureClicks, isoClicks,
           apertureClicks + isoClicks, clicks, changes);
    emit exposureAdjusted(changes);
    return apertureClicks + isoClicks;
}

// ---- Display-driven settings -------------------------------------------------------------------

void SonyCamera::displayRate(double frequency)
{
    std::uint64_t shutter = 0;
    // A rate that is no positive, finite frequency gives no shutter.
    if (std::isfinite(frequency) && frequency > 0.0) {
        if (wholeMultiple(frequency, 5.0))
            shutter = ShutterFifth;
        else if (wholeMultiple(frequency, 8.0))
            shutter = ShutterEighth;
    }
    if (shutter == 0) {
        qInfo("SonyCamera: didn't set a shutter speed for display refresh rate %.2f Hz", frequency);
        m_savedShutter = 0;
        return;
    }
    m_savedShutter = shutter;
    qInfo("SonyCamera: using shutter speed 1/%lld for display refresh rate %.2f Hz",
          static_cast<long long>(shutter & 0xFFFF), frequency);
    updateProperty_(PropertyCode::ShutterSpeed, shutter, QStringLiteral("Setting saved shutter..."));
}

bool SonyCamera::displayColorTemp(int cct)
{
    const DeviceProperty& temperature = property(PropertyCode::ColorTemperature);
    if (temperature.valueType != DeviceProperty::ValueTypeUInt16Array || temperature.values.size() != 3) {
        m_displayCct = cct;
        return false;
    }
    const auto minimum = static_cast<std::int64_t>(temperature.values.at(0));
    const auto maximum = static_cast<std::int64_t>(temperature.values.at(1));
    const auto step = static_cast<std::int64_t>(temperature.values.at(2));
    // Walk up while the distance falls, within what the camera offers; a zero step stops at once.
    std::int64_t best = CctSearchStart;
    std::int64_t nearest = -1;
    for (std::int64_t value = minimum; value <= maximum; value += step) {
        const std::int64_t distance = std::abs(value - cct);
        if (distance >= best)
            break;
        best = distance;
        nearest = value;
        if (step <= 0)
            break;
    }
    if (nearest < 0)
        return false;
    m_displayCct = cct;
    if (static_cast<std::uint64_t>(nearest) == temperature.currentValue)
        return false;
    updateProperty_(PropertyCode::WhiteBalance, WhiteBalanceColourTemperature, QStringLiteral("Setting white balance..."));
    return updateProperty_(PropertyCode::ColorTemperature, static_cast<std::uint64_t>(nearest),
                           QStringLiteral("Setting color temp..."));
}

// ---- Exposure memory ---------------------------------------------------------------------------

void SonyCamera::saveExposure()
{
    m_savedAperture = m_currentAperture;
    m_savedIso = m_currentIso;
    m_savedShutter = m_currentShutter;
    QSettings settings;
    settings.setValue(Key::SavedFNumber, static_cast<qulonglong>(m_savedAperture));
    settings.setValue(Key::SavedIso, static_cast<qulonglong>(m_savedIso));
    settings.setValue(Key::SavedShutter, static_cast<qulonglong>(m_savedShutter));
    qInfo("Saved Exposure parameters.");
}

void SonyCamera::useSavedExposure(bool useSaved)
{
    if (useSaved && (m_savedShutter == 0 || m_savedAperture == 0 || m_savedIso == 0)) {
        qInfo("Can't use saved exposure because a value is zero: shutter %lld aperture %lld iso %lld",
              static_cast<long long>(m_savedShutter), static_cast<long long>(m_savedAperture),
              static_cast<long long>(m_savedIso));
        m_useSaved = false;
        return;
    }
    m_useSaved = useSaved;
    if (useSaved)
        updateProperties();
}

void SonyCamera::autoControlExposure(bool autoControl)
{
    m_autoControl = autoControl;
}

void SonyCamera::useRawImages(bool useRaw)
{
    m_rawImages = useRaw;
    updateProperties();
}
