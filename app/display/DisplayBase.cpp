#include "display/DisplayBase.h"

#include <QCoreApplication>
#include <QSettings>
#include <QtNumeric>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr double initialColor = 0.5;
// Share of the full drive that colorStr shows for a colour of 1.0 at unit gain.
constexpr double colorStrScale = 0.75;
constexpr int colorStrMaxByte = 255;
// dumpLdms and dumpTiles show at most this many records.
constexpr qsizetype dumpedRecords = 6;

// The demonstration wall: one tile of 16 x 9 LDMs of 100 x 100 pixels.
constexpr int demoColumns = 16;
constexpr int demoRows = 9;
constexpr int demoLeft = 1000;
constexpr int demoTop = 50;
constexpr int demoPitch = 100;
constexpr quint32 demoLdmsPerTileGroup = 4;
const char* const demoReceiver = "12:34:56:78:9A:BC";

// Selection modes of adjustSelectedLdms and adjustSelectedTiles: > 0 adds, < 0 removes, 0 replaces.
enum class Adjust { Add, Remove, Replace };
Adjust adjustMode(int selectionMode)
{
    return selectionMode > 0 ? Adjust::Add : selectionMode < 0 ? Adjust::Remove : Adjust::Replace;
}

// Applies one selection mode to a record's adjustable flag; eligible is "selected and on/lit".
void adjust(bool& adjustable, bool selected, bool eligible, Adjust mode)
{
    switch (mode) {
    case Adjust::Add:
        if (selected && eligible)
            adjustable = true;
        break;
    case Adjust::Remove:
        if (selected)
            adjustable = false;
        break;
    case Adjust::Replace:
        adjustable = selected && eligible;
        break;
    }
}

// Truncates toward zero into int32; out-of-range and NaN values (from a device) saturate or give 0
// instead of overflowing.
qint32 truncated(double value)
{
    if (std::isnan(value))
        return 0;
    const double bounded = std::clamp(value, double(std::numeric_limits<qint32>::min()),
                                      double(std::numeric_limits<qint32>::max()));
    return static_cast<qint32>(bounded);
}

// An LDM that takes part in the next correction: counted and walked by the same rule.
bool takesPart(const Macropixel& ldm)
{
    return ldm.adjustable && ldm.lit;
}

bool sameValue(double a, double b)
{
    return a == b || qFuzzyCompare(a, b);
}

QString colorByte(double channel, double gain)
{
    double value = std::min(1.0, channel * colorStrScale * gain) * colorStrMaxByte;
    if (!(value > 0.0)) // negative, or NaN
        value = 0.0;
    const long byte = std::min<long>(std::lround(value), colorStrMaxByte);
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0'));
}

QString general(double value, int width)
{
    return QStringLiteral("%1").arg(value, width);
}

QString fixed(double value, int width, int decimals)
{
    return QStringLiteral("%1").arg(value, width, 'f', decimals);
}

// A field of the record with a 1-based number, or the fallback for an invalid number.
template <typename Record, typename Field, typename Value>
Value fieldOf(const QList<Record>& records, uint number, Field Record::*field, Value fallback)
{
    return number >= 1 && number <= records.size() ? Value(records[number - 1].*field) : fallback;
}

// Finds the index-th record (1-based) whose flag is set, bounded by both the count and the list.
template <typename Record, typename Flag>
Record* indexed(QList<Record>& records, uint index, uint count, Flag flag, const char* outOfRange,
                const char* ranOff)
{
    if (index == 0 || index > count) {
        qDebug(outOfRange, int(index), int(count));
        return nullptr;
    }
    uint seen = 0;
    for (Record& record : records) {
        if (flag(record) && ++seen == index)
            return &record;
    }
    qDebug(ranOff, int(index));
    return nullptr;
}

} // namespace

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

ErrorType DisplayBase::fetchOutputConfig()
{
    clearOutputConfig();
    quint32 n = 1;
    for (int row = 0; row < demoRows; ++row) {
        for (int column = 0; column < demoColumns; ++column, ++n) {
            Macropixel ldm(n, float(demoLeft + column * demoPitch), float(demoTop + row * demoPitch),
                           float(demoPitch), float(demoPitch));
            ldm.name = QLatin1String(demoReceiver);
            ldm.indexInTile = (n - 1) % demoLdmsPerTileGroup + 1;
            ldm.tileNumber = 1;
            addLdm(std::move(ldm));
        }
    }
    Tile tile;
    tile.name = QLatin1String(demoReceiver);
    tile.x = float(m_minX);
    tile.y = float(m_minY);
    tile.height = float(m_maxY - m_minY);
    tile.width = float(m_maxX - m_minX);
    addTile(std::move(tile));
    finishOutputConfig();
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

// ---- Lookups ------------------------------------------------------------------------------------

bool DisplayBase::validLdm(uint number) const
{
    return number >= 1 && number <= m_ldms.size();
}

bool DisplayBase::validTile(uint number) const
{
    return number >= 1 && number <= m_tiles.size();
}

Macropixel& DisplayBase::fallbackLdm()
{
    thread_local Macropixel fallback;
    fallback = Macropixel();
    return fallback;
}

Tile& DisplayBase::fallbackTile()
{
    thread_local Tile fallback;
    fallback = Tile();
    fallback.height = 0.0f;
    fallback.width = 0.0f;
    return fallback;
}

Macropixel& DisplayBase::ldm(uint number)
{
    return validLdm(number) ? m_ldms[number - 1] : fallbackLdm();
}

// The dash in "1–%d" is an en dash (U+2013).
Macropixel& DisplayBase::litLdm(uint index)
{
    Macropixel* found = indexed(
        m_ldms, index, m_litLdmCount, [](const Macropixel& m) { return m.lit; },
        "********* DisplayBase::litLdm(%d): index out of range 1\u2013%d",
        "********* DisplayBase::litLdm(%d): ran off end of array");
    return found ? *found : fallbackLdm();
}

Macropixel& DisplayBase::adjustableLdm(uint index)
{
    Macropixel* found = indexed(m_ldms, index, m_adjustableLdmCount, takesPart,
                                "********* DisplayBase::adjustableLdm(%d): index out of range 1\u2013%d",
                                "********* DisplayBase::adjustableLdm(%d): ran off end of array");
    return found ? *found : fallbackLdm();
}

int DisplayBase::ldmX(uint number)
{
    return validLdm(number) ? truncated(m_ldms[number - 1].x) : -1;
}

int DisplayBase::ldmY(uint number)
{
    return validLdm(number) ? truncated(m_ldms[number - 1].y) : -1;
}

int DisplayBase::ldmWidth(uint number)
{
    return validLdm(number) ? truncated(m_ldms[number - 1].width) : 0;
}

int DisplayBase::ldmHeight(uint number)
{
    return validLdm(number) ? truncated(m_ldms[number - 1].height) : 0;
}

Tile& DisplayBase::tile(uint number)
{
    return validTile(number) ? m_tiles[number - 1] : fallbackTile();
}

Tile& DisplayBase::litTile(uint index)
{
    Tile* found = indexed(
        m_tiles, index, m_litTileCount, [](const Tile& t) { return t.lit; },
        "********* DisplayBase::litTile(%d): index out of range 1\u2013%d",
        "********* DisplayBase::litTile(%d): ran off end of array");
    return found ? *found : fallbackTile();
}

Tile& DisplayBase::adjustableTile(uint index)
{
    Tile* found = indexed(
        m_tiles, index, m_adjustableTileCount, [](const Tile& t) { return t.adjustable; },
        "********* DisplayBase::adjustableTile(%d): index out of range %d",
        "********* DisplayBase::adjustableTile(%d): ran off end of array");
    return found ? *found : fallbackTile();
}

int DisplayBase::tileX(uint number)
{
    return validTile(number) ? truncated(m_tiles[number - 1].x) : -1;
}

int DisplayBase::tileY(uint number)
{
    return validTile(number) ? truncated(m_tiles[number - 1].y) : -1;
}

int DisplayBase::tileWidth(uint number)
{
    return validTile(number) ? truncated(m_tiles[number - 1].width) : 0;
}

int DisplayBase::tileHeight(uint number)
{
    return validTile(number) ? truncated(m_tiles[number - 1].height) : 0;
}

double DisplayBase::ldmRedGain(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::redGain, 0.0);
}

double DisplayBase::ldmGreenGain(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::greenGain, 0.0);
}

double DisplayBase::ldmBlueGain(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::blueGain, 0.0);
}

double DisplayBase::ldmIntensityGain(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::intensityGain, 0.0);
}

bool DisplayBase::ldmIsLit(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::lit, false);
}

bool DisplayBase::ldmAdjustable(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::adjustable, false);
}

bool DisplayBase::tileLit(uint number)
{
    return fieldOf(m_tiles, number, &Tile::lit, false);
}

bool DisplayBase::tileAdjustable(uint number)
{
    return fieldOf(m_tiles, number, &Tile::adjustable, false);
}

double DisplayBase::ldmRedObserved(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::redObserved, 0.0);
}

double DisplayBase::ldmGreenObserved(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::greenObserved, 0.0);
}

double DisplayBase::ldmBlueObserved(uint number)
{
    return fieldOf(m_ldms, number, &Macropixel::blueObserved, 0.0);
}

const Macropixel* DisplayBase::findLdm(uint tileNumber, int x, int y)
{
    for (const Macropixel& m : std::as_const(m_ldms)) {
        if (m.tileNumber == tileNumber && m.contains(float(x), float(y)))
            return &m;
    }
    return nullptr;
}

QString DisplayBase::dumpLdm(uint number)
{
    if (number == 0 || number > m_ldmCount || !validLdm(number))
        return QStringLiteral("invalid LDM number %1").arg(number);
    const Macropixel& m = m_ldms[number - 1];
    return QStringLiteral("LDM %1: %2 #%3 @ %4, %5;  rgbi gains %6, %7, %8, %9;  RGB %10, %11, %12")
        .arg(QStringLiteral("%1").arg(number, 4), m.name, QString::number(m.indexInTile), general(m.x, 4),
             general(m.y, 4), fixed(m.redGain, 6, 3), fixed(m.greenGain, 6, 3), fixed(m.blueGain, 6, 3),
             fixed(m.intensityGain, 6, 3), fixed(m.redObserved, 6, 2), fixed(m.greenObserved, 6, 2),
             fixed(m.blueObserved, 6, 2));
}

QString DisplayBase::dumpTile(uint number)
{
    if (!validTile(number))
        return QStringLiteral("invalid Tile number %1").arg(number);
    const Tile& t = m_tiles[number - 1];
    return QStringLiteral("Tile %1: %2 from  %3, %4  to  %5 , %6")
        .arg(QStringLiteral("%1").arg(number, 4), t.name, general(t.x, 4), general(t.y, 4),
             general(t.x + t.width, 4), general(t.y + t.height, 4));
}

void DisplayBase::dumpLdms()
{
    const qsizetype shown = std::min(m_ldms.size(), dumpedRecords);
    for (qsizetype i = 1; i <= shown; ++i)
        qDebug("%s", qUtf8Printable(dumpLdm(uint(i))));
    if (m_ldms.size() > dumpedRecords)
        qDebug("...and %lld more.", qlonglong(m_ldms.size() - dumpedRecords));
}

void DisplayBase::dumpTiles()
{
    const qsizetype shown = std::min(m_tiles.size(), dumpedRecords);
    for (qsizetype i = 1; i <= shown; ++i)
        qDebug("%s", qUtf8Printable(dumpTile(uint(i))));
    if (m_tiles.size() > dumpedRecords)
        qDebug("...and %lld more.", qlonglong(m_tiles.size() - dumpedRecords));
}

// ---- Writers ------------------------------------------------------------------------------------

ErrorType DisplayBase::setLdmRGB(uint number, double r, double g, double b, double i)
{
    if (!validLdm(number))
        return ErrorType::failure(ErrorType::Fatal);
    Macropixel& m = m_ldms[number - 1];
    m.redGain = r;
    m.greenGain = g;
    m.blueGain = b;
    m.intensityGain = i;
    emit ldmDataChanged();
    return {};
}

void DisplayBase::setLdmRGBObserved(uint number, double r, double g, double b)
{
    if (!validLdm(number))
        return;
    Macropixel& m = m_ldms[number - 1];
    m.redObserved = r;
    m.greenObserved = g;
    m.blueObserved = b;
}

ErrorType DisplayBase::setLdmRGBs_(QList<Macropixel*>& ldms)
{
    if (ldms.isEmpty())
        return ErrorType::failure(ErrorType::Fatal);
    for (const Macropixel* given : std::as_const(ldms)) {
        if (!given || !validLdm(given->number))
            continue;
        Macropixel& own = m_ldms[given->number - 1];
        if (own.number != given->number)
            qDebug("setLdmRGBs number error!");
        own.redGain = given->redGain;
        own.greenGain = given->greenGain;
        own.blueGain = given->blueGain;
        own.intensityGain = given->intensityGain;
    }
    emit ldmDataChanged();
    return {};
}

void DisplayBase::getLdmObservedRGBs(QList<Macropixel*>& ldms)
{
    for (Macropixel* given : std::as_const(ldms)) {
        if (!given || !validLdm(given->number))
            continue;
        const Macropixel& own = m_ldms[given->number - 1];
        if (own.number != given->number)
            qDebug("getLdmObservedRGBs number error!");
        given->redObserved = own.redObserved;
        given->greenObserved = own.greenObserved;
        given->blueObserved = own.blueObserved;
    }
}

// ---- Selection and lighting ---------------------------------------------------------------------

void DisplayBase::selectAllLdms()
{
    for (Macropixel& m : m_ldms)
        m.selected = true;
}

void DisplayBase::selectLdms(QPoint start, QPoint end)
{
    const float left = float(start.x());
    const float top = float(start.y());
    const float right = float(end.x());
    const float bottom = float(end.y());
    // Touching the rectangle's border is not enough.
    for (Macropixel& m : m_ldms)
        m.selected = m.x + m.width > left && m.y + m.height > top && right > m.x && bottom > m.y;
}

void DisplayBase::selectAllTiles()
{
    m_selection = QRect(0, 0, 0, 0);
    saveLitTiles();
    for (Tile& t : m_tiles)
        t.selected = true;
    selectAllLdms();
}

void DisplayBase::selectTiles(QPoint start, QPoint end)
{
    m_selection = QRect(start, end);
    if (m_tiles.isEmpty()) {
        selectLdms(start, end);
        return;
    }
    // A tile touched by the drag is selected whole: widen the LDM selection to cover it. Every
    // tile is tested against the drag itself, not against the widened area.
    int left = start.x();
    int top = start.y();
    int right = end.x();
    int bottom = end.y();
    for (Tile& t : m_tiles) {
        const int tx = truncated(t.x);
        const int ty = truncated(t.y);
        const int tx2 = truncated(tx + t.width);
        const int ty2 = truncated(ty + t.height);
        t.selected = !(tx2 <= start.x() || ty2 <= start.y() || tx >= end.x() || ty >= end.y());
        if (t.selected) {
            left = std::min(left, tx);
            top = std::min(top, ty);
            right = std::max(right, tx2);
            bottom = std::max(bottom, ty2);
        }
    }
    selectLdms(QPoint(left, top), QPoint(right, bottom));
}

void DisplayBase::recountAdjustableLdms()
{
    m_adjustableLdmCount = uint(std::count_if(m_ldms.cbegin(), m_ldms.cend(), takesPart));
}

void DisplayBase::recountAdjustableTiles()
{
    m_adjustableTileCount =
        uint(std::count_if(m_tiles.cbegin(), m_tiles.cend(), [](const Tile& t) { return t.adjustable; }));
}

void DisplayBase::adjustSelectedLdms(int selectionMode)
{
    const Adjust mode = adjustMode(selectionMode);
    for (Macropixel& m : m_ldms)
        adjust(m.adjustable, m.selected, m.isOn(), mode);
    recountAdjustableLdms();
    emit ldmDataChanged();
    emit adjustableLdmCountChanged();
}

void DisplayBase::adjustSelectedTiles(int selectionMode)
{
    const Adjust mode = adjustMode(selectionMode);
    for (Tile& t : m_tiles)
        adjust(t.adjustable, t.selected, t.lit, mode);
    recountAdjustableTiles();
    adjustSelectedLdms(selectionMode);
}

void DisplayBase::setLitExtents()
{
    const qint32 oldMinX = m_minLitLdmX;
    const qint32 oldMinY = m_minLitLdmY;
    const qint32 oldMaxX = m_maxLitLdmX;
    const qint32 oldMaxY = m_maxLitLdmY;
    const quint32 oldLit = m_litLdmCount;
    const quint32 oldAdjustable = m_adjustableLdmCount;

    m_maxLitLdmX = m_maxLitLdmY = std::numeric_limits<qint32>::min();
    m_minLitLdmX = m_minLitLdmY = std::numeric_limits<qint32>::max();
    m_litLdmCount = 0;
    m_adjustableLdmCount = 0;
    for (const Macropixel& m : std::as_const(m_ldms)) {
        if (!m.lit)
            continue;
        if (m.x < float(m_minLitLdmX))
            m_minLitLdmX = truncated(m.x);
        if (m.y < float(m_minLitLdmY))
            m_minLitLdmY = truncated(m.y);
        if (m.x + m.width > float(m_maxLitLdmX))
            m_maxLitLdmX = truncated(m.x + m.width);
        if (m.y + m.height > float(m_maxLitLdmY))
            m_maxLitLdmY = truncated(m.y + m.height);
        ++m_litLdmCount;
        if (takesPart(m))
            ++m_adjustableLdmCount;
    }

    if (m_minLitLdmX != oldMinX)
        emit minLitLdmXChanged();
    if (m_minLitLdmY != oldMinY)
        emit minLitLdmYChanged();
    if (m_maxLitLdmX != oldMaxX)
        emit maxLitLdmXChanged();
    if (m_maxLitLdmY != oldMaxY)
        emit maxLitLdmYChanged();
    if (m_litLdmCount != oldLit)
        emit litLdmCountChanged();
    if (m_adjustableLdmCount != oldAdjustable)
        emit adjustableLdmCountChanged();
}

void DisplayBase::lightSelectedLdms()
{
    for (Macropixel& m : m_ldms) {
        m.lit = m.selected;
        m.intensityGain = m.selected ? Macropixel::normalIntensity : Macropixel::darkIntensity;
        if (!m.selected)
            m.redObserved = m.greenObserved = m.blueObserved = 0.0;
    }
    emit ldmDataChanged();
    setLitExtents();
}

void DisplayBase::lightLitLdms(bool on)
{
    for (Macropixel& m : m_ldms) {
        if (m.lit)
            m.intensityGain = on ? Macropixel::normalIntensity : Macropixel::darkIntensity;
    }
    emit ldmDataChanged();
}

void DisplayBase::resetLdms(bool resetRGB, bool resetIntensity)
{
    for (Macropixel& m : m_ldms) {
        if (resetRGB)
            m.redGain = m.greenGain = m.blueGain = 0.0;
        if (resetIntensity) {
            m.intensityGain = Macropixel::normalIntensity;
            m.lit = true;
            m.adjustable = true;
        }
    }
    emit ldmDataChanged();
    if (resetIntensity)
        setLitExtents();
}

void DisplayBase::lightSelectedTiles()
{
    saveLitTiles();
    for (Tile& t : m_tiles)
        t.lit = t.selected;
    const quint32 lit = uint(std::count_if(m_tiles.cbegin(), m_tiles.cend(), [](const Tile& t) { return t.lit; }));
    if (lit != m_litTileCount) {
        m_litTileCount = lit;
        emit litTileCountChanged();
    }
    lightSelectedLdms();
}

void DisplayBase::saveLitTiles()
{
    m_litTiles = m_selection;
    QSettings().setValue(settingsKeyOfLitTiles(), m_litTiles);
}

QString DisplayBase::settingsKeyOfLitTiles() const
{
    return QLatin1String(litTilesKeyPrefix) + m_address;
}

void DisplayBase::recallLitTiles()
{
    if (m_litTiles != QRect(0, 0, 0, 0))
        selectTiles(m_litTiles.topLeft(), m_litTiles.bottomRight());
    else
        selectAllTiles();
    lightSelectedTiles();
    for (Tile& t : m_tiles)
        t.adjustable = t.selected && t.lit;
    recountAdjustableTiles();
    for (Macropixel& m : m_ldms)
        m.adjustable = m.selected && m.isOn();
    recountAdjustableLdms();
    emit ldmDataChanged();
    emit adjustableLdmCountChanged();
}

// ---- Building a wall model ----------------------------------------------------------------------

void DisplayBase::clearOutputConfig()
{
    m_previousLdms = std::exchange(m_ldms, {});
    m_previousTiles = std::exchange(m_tiles, {});
}

namespace {

bool sameGeometry(float a, float b)
{
    return !(a < b) && !(b < a);
}

bool samePlace(const Macropixel& a, const Macropixel& b)
{
    return a.number == b.number && a.tileNumber == b.tileNumber && a.name == b.name && sameGeometry(a.x, b.x)
           && sameGeometry(a.y, b.y) && sameGeometry(a.width, b.width) && sameGeometry(a.height, b.height);
}

bool samePlace(const Tile& a, const Tile& b)
{
    return a.number == b.number && a.name == b.name && sameGeometry(a.x, b.x) && sameGeometry(a.y, b.y)
           && sameGeometry(a.width, b.width) && sameGeometry(a.height, b.height);
}

template <typename Record>
bool sameLayout(const QList<Record>& a, const QList<Record>& b)
{
    return a.size() == b.size()
           && std::equal(a.cbegin(), a.cend(), b.cbegin(), [](const Record& x, const Record& y) { return samePlace(x, y); });
}

} // namespace

void DisplayBase::keepStateOfSameLayout()
{
    // A rebuild of an unchanged wall (the idle poll) keeps which LDMs and tiles the operator lit,
    // chose and dimmed, and what was measured on each LDM (the images and errors of a finished
    // run); a display that is its own device keeps the gains set on it too. A changed wall starts
    // over: everything lit, nothing measured.
    if (!m_previousLdms.isEmpty() && sameLayout(m_previousLdms, m_ldms) && sameLayout(m_previousTiles, m_tiles)) {
        const bool keepGains = holdsItsOwnGains();
        for (qsizetype i = 0; i < m_ldms.size(); ++i) {
            const Macropixel& before = m_previousLdms.at(i);
            Macropixel& now = m_ldms[i];
            now.selected = before.selected;
            now.adjustable = before.adjustable;
            now.lit = before.lit;
            now.redObserved = before.redObserved;
            now.greenObserved = before.greenObserved;
            now.blueObserved = before.blueObserved;
            if (keepGains) {
                now.redGain = before.redGain;
                now.greenGain = before.greenGain;
                now.blueGain = before.blueGain;
            }
            if (keepGains || !before.isOn())
                now.intensityGain = before.intensityGain;
        }
        for (qsizetype i = 0; i < m_tiles.size(); ++i) {
            m_tiles[i].selected = m_previousTiles.at(i).selected;
            m_tiles[i].adjustable = m_previousTiles.at(i).adjustable;
            m_tiles[i].lit = m_previousTiles.at(i).lit;
        }
    }
    m_previousLdms.clear();
    m_previousTiles.clear();
}

void DisplayBase::addLdm(Macropixel ldm)
{
    if (ldm.number == 0)
        ldm.number = quint32(m_ldms.size() + 1);
    if (m_ldms.isEmpty()) {
        m_minX = truncated(ldm.x);
        m_maxX = truncated(ldm.x + ldm.width);
        m_minY = truncated(ldm.y);
        m_maxY = truncated(ldm.y + ldm.height);
    } else {
        if (ldm.x < float(m_minX))
            m_minX = truncated(ldm.x);
        if (ldm.x + ldm.width > float(m_maxX))
            m_maxX = truncated(ldm.x + ldm.width);
        if (ldm.y < float(m_minY))
            m_minY = truncated(ldm.y);
        if (ldm.y + ldm.height > float(m_maxY))
            m_maxY = truncated(ldm.y + ldm.height);
    }
    m_ldms.append(std::move(ldm));
}

void DisplayBase::addTile(Tile tile)
{
    if (tile.number == 0)
        tile.number = quint32(m_tiles.size() + 1);
    m_tiles.append(std::move(tile));
}

void DisplayBase::finishOutputConfig()
{
    keepStateOfSameLayout();
    m_ldmCount = quint32(m_ldms.size());
    m_tileCount = quint32(m_tiles.size());
    m_litTileCount = quint32(std::count_if(m_tiles.cbegin(), m_tiles.cend(), [](const Tile& t) { return t.lit; }));
    recountAdjustableTiles();

    qDebug("%u LDM%s, spanning x from %d to %d, y from %d to %d", m_ldmCount, m_ldmCount == 1 ? "" : "s",
           m_minX, m_maxX, m_minY, m_maxY);
    qDebug("%u Tile%s, spanning x from %d to %d, y from %d to %d", m_tileCount, m_tileCount == 1 ? "" : "s",
           m_minX, m_maxX, m_minY, m_maxY);
    qDebug("Tile #1: %s", qUtf8Printable(dumpTile(1)));

    emit minXChanged();
    emit maxXChanged();
    emit minYChanged();
    emit maxYChanged();
    emit ldmCountChanged();
    emit tileCountChanged();
    emit litTileCountChanged();
    emit adjustableTileCountChanged();
    emit refreshChanged();
    emit fetchedOutputConfig();
    emit ldmDataChanged();
    setLitExtents();
}
