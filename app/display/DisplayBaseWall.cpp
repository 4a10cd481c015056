#include "display/DisplayBase.h"

#include <algorithm>
#include <utility>

// Building a wall model: a driver clears it, adds its records and finishes it; a rebuild of an
// unchanged wall keeps what the old one held. The base display's own wall is a demonstration.

namespace {

// The demonstration wall: one tile of 16 x 9 LDMs of 100 x 100 pixels.
constexpr int demoColumns = 16;
constexpr int demoRows = 9;
constexpr int demoLeft = 1000;
constexpr int demoTop = 50;
constexpr int demoPitch = 100;
constexpr quint32 demoLdmsPerTileGroup = 4;
const char* const demoReceiver = "12:34:56:78:9A:BC";

} // namespace

// ---- The demonstration wall ---------------------------------------------------------------------

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
