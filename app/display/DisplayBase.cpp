#include "display/DisplayBase.h"

#include "common/SameValue.h"
#include <QCoreApplication>
#include <QSettings>
#include <QtNumeric>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

// The display's object, its device operations and properties. The other concerns have sources of
// their own: DisplayBaseRecords.cpp (lookups, dumps and LDM writers), DisplayBaseSelection.cpp
// (selection and lighting), DisplayBaseWall.cpp (building a wall model, the demonstration wall).

namespace {

constexpr double initialColor = 0.5;
// Share of the full drive that colorStr shows for a colour of 1.0 at unit gain.
constexpr double colorStrScale = 0.75;
constexpr int colorStrMaxByte = 255;

QString colorByte(double channel, double gain)
{
    double value = std::min(1.0, channel * colorStrScale * gain) * colorStrMaxByte;
    if (!(value > 0.0)) // negative, or NaN
        value = 0.0;
    const long byte = std::min<long>(std::lround(value), colorStrMaxByte);
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0'));
}

} // namespace

qint32 DisplayBase::truncated(double value)
{
    if (std::isnan(value))
        return 0;
    const double bounded = std::clamp(value, double(std::numeric_limits<qint32>::min()),
                                      double(std::numeric_limits<qint32>::max()));
    return static_cast<qint32>(bounded);
}

bool DisplayBase::takesPart(const Macropixel& ldm)
{
    return ldm.adjustable && ldm.lit;
}

QString DisplayBase::fixed(double value, int width, int decimals)
{
    return QStringLiteral("%1").arg(value, width, 'f', decimals);
}

DisplayBase::DisplayBase(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_addressKey(name + QLatin1String(addressKeySuffix))
    , m_gate(this)
{
    ErrorType::registerMetaType();
    qRegisterMetaType<CurvePoint>("CurvePoint");
    qRegisterMetaType<const Macropixel*>("const Macropixel*");
    qRegisterMetaType<QList<Macropixel*>>("QList<Macropixel*>");
    qRegisterMetaType<QList<Tile*>>("QList<Tile*>");

    {
        QSettings settings;
        if (settings.contains(m_addressKey))
            DisplayBase::setAddress(settings.value(m_addressKey, QString()).toString());
    }
    if (name.contains(QLatin1String("dummy"), Qt::CaseInsensitive)
        || name.contains(QLatin1String("simulated"), Qt::CaseInsensitive))
        DisplayBase::setAddress(QStringLiteral("N/A"));
    m_litTiles = QSettings().value(settingsKeyOfLitTiles(), QRect(0, 0, 0, 0)).toRect();
    storeColor(initialColor, initialColor, initialColor);

    // Once the event loop has ended no queued call can run: release any worker still waiting.
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &DisplayBase::closeToOtherThreads,
                Qt::DirectConnection);
}

DisplayBase::~DisplayBase()
{
    m_gate.close();
}

void DisplayBase::closeToOtherThreads()
{
    m_gate.close();
}

// ---- Device operations --------------------------------------------------------------------------

ErrorType DisplayBase::setRed(double newRed)
{
    if (!sameValue(m_red, newRed)) {
        m_red = newRed;
        emit redChanged();
        emit colorStrChanged();
    }
    return {};
}

ErrorType DisplayBase::setGreen(double newGreen)
{
    if (!sameValue(m_green, newGreen)) {
        m_green = newGreen;
        emit greenChanged();
        emit colorStrChanged();
    }
    return {};
}

ErrorType DisplayBase::setBlue(double newBlue)
{
    if (!sameValue(m_blue, newBlue)) {
        m_blue = newBlue;
        emit blueChanged();
        emit colorStrChanged();
    }
    return {};
}

void DisplayBase::setAddress(QString newAddress)
{
    // Compared before the prefix is stripped: "http://" + the current address is stored again.
    if (newAddress == m_address)
        return;
    m_address = newAddress.remove(QStringLiteral("http://"), Qt::CaseInsensitive);
    emit addressChanged();
    QSettings().setValue(m_addressKey, m_address);
}

bool DisplayBase::supportsMeshUniformity() const
{
    return false;
}

uint DisplayBase::ldmCount() const
{
    return m_ldmCount;
}

uint DisplayBase::tileCount() const
{
    return m_tileCount;
}

ErrorType DisplayBase::readStatus()
{
    return {};
}

ErrorType DisplayBase::sendCalibration(const QList<CurvePoint>&, double, double, double)
{
    return {};
}

ErrorType DisplayBase::showTestPattern(qint8, int, int)
{
    return {};
}

ErrorType DisplayBase::setMeshRGBs(QList<Macropixel*>& ldms, float scale)
{
    return m_gate.call([&] { return setMeshRGBs_(ldms, scale); });
}

ErrorType DisplayBase::commitMeshRGBs(QList<Macropixel*>& ldms)
{
    return m_gate.call([&] { return commitMeshRGBs_(ldms); });
}

ErrorType DisplayBase::setRGB(uint number, double red, double green, double blue)
{
    return m_gate.call([&] { return setRGB_(number, red, green, blue); });
}

ErrorType DisplayBase::setDisplayGainRGB(double red, double green, double blue)
{
    return m_gate.call([&] { return setDisplayGainRGB_(red, green, blue); });
}

ErrorType DisplayBase::setLdmRGBs(QList<Macropixel*>& ldms)
{
    return m_gate.call([&] { return setLdmRGBs_(ldms); });
}

ErrorType DisplayBase::setMeshRGBs_(QList<Macropixel*>&, float)
{
    return {};
}

ErrorType DisplayBase::commitMeshRGBs_(QList<Macropixel*>&)
{
    return {};
}

ErrorType DisplayBase::setRGB_(uint number, double red, double green, double blue)
{
    if (number != 0)
        return setLdmRGB(number, red, green, blue, Macropixel::normalIntensity);
    // The base setters, also in a driver: a driver reaches this form to take values from its
    // device (fuzzily compared, nothing sent back), never through its own colour setters.
    DisplayBase::setRed(red);
    DisplayBase::setGreen(green);
    DisplayBase::setBlue(blue);
    return {};
}

ErrorType DisplayBase::setDisplayGainRGB_(double red, double green, double blue)
{
    storeDisplayGains(red, green, blue);
    emit displayGainRedChanged();
    emit displayGainGreenChanged();
    emit displayGainBlueChanged();
    emit colorStrChanged();
    return {};
}

// ---- Properties ---------------------------------------------------------------------------------

void DisplayBase::setName(const QString& newName)
{
    if (newName == m_name)
        return;
    m_name = newName;
    emit nameChanged();
}

uint DisplayBase::maximum() const
{
    return m_maximum > 0.0 ? uint(std::min(m_maximum, double(std::numeric_limits<uint>::max()))) : 0u;
}

void DisplayBase::setMaximum(uint newMaximum)
{
    m_maximum = newMaximum;
    emit maximumChanged();
}

void DisplayBase::setCycling(bool newCycling)
{
    if (newCycling == m_cycling)
        return;
    m_cycling = newCycling;
    emit cyclingChanged();
}

QString DisplayBase::colorStr()
{
    m_colorStr = QStringLiteral("#%1%2%3")
                     .arg(colorByte(m_red, m_displayGainRed), colorByte(m_green, m_displayGainGreen),
                          colorByte(m_blue, m_displayGainBlue));
    return m_colorStr;
}

QString DisplayBase::colorReadout()
{
    m_colorReadout = QStringLiteral("red:%1  green:%2  blue:%3")
                         .arg(fixed(m_red, 8, 6), fixed(m_green, 8, 6), fixed(m_blue, 8, 6));
    return m_colorReadout;
}

int DisplayBase::ldmData()
{
    return ++m_ldmData;
}

void DisplayBase::setLdmData(int)
{
    emit ldmDataChanged();
}

int DisplayBase::tileData()
{
    return ++m_tileData;
}

void DisplayBase::setTileData(int)
{
    emit tileDataChanged();
}

int DisplayBase::refresh()
{
    return ++m_refresh;
}

int DisplayBase::needFakeLdmRGBs()
{
    return ++m_needFakeLdmRGBs;
}

void DisplayBase::setOutputFrequency(double newOutputFrequency)
{
    if (newOutputFrequency == m_outputFrequency)
        return;
    m_outputFrequency = newOutputFrequency;
    emit outputFrequencyChanged(newOutputFrequency);
}

void DisplayBase::storeColor(double red, double green, double blue)
{
    m_red = red;
    m_green = green;
    m_blue = blue;
}

void DisplayBase::storeDisplayGains(double red, double green, double blue)
{
    m_displayGainRed = red;
    m_displayGainGreen = green;
    m_displayGainBlue = blue;
}
