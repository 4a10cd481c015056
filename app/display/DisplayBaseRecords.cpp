#include "display/DisplayBase.h"

#include <algorithm>

// The display's records: lookups by number and by position among the lit or adjustable ones,
// their descriptions, and the writers of LDM gains and observed colours.

namespace {

// dumpLdms and dumpTiles show at most this many records.
constexpr qsizetype dumpedRecords = 6;

QString general(double value, int width)
{
    return QStringLiteral("%1").arg(value, width);
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
