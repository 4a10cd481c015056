#include "display/DisplayBase.h"

#include <QSettings>

#include <algorithm>
#include <limits>

// Selecting LDMs and tiles by rectangle, choosing which take part in a correction, and lighting
// them; the lit tiles kept in the settings.

namespace {

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

} // namespace

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
