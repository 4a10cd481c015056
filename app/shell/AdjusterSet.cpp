#include "shell/AdjusterSet.h"

#include "engine/Calibrator.h"

namespace {

// Releases from the last entry to the first, emptying the view before the objects go.
template <typename T>
void releaseBackwards(std::vector<std::unique_ptr<T>>& owned, QList<T*>& view)
{
    view.clear();
    while (!owned.empty())
        owned.pop_back();
}

} // namespace

void AdjusterSettings::applyTo(Calibrator& calibrator) const
{
    calibrator.setStepRGB(targets[0], targets[1], targets[2]);
    calibrator.setReadDelay(readDelay);
    calibrator.setReadCount(1);
    calibrator.setErrorAllowed(0.0);
    calibrator.setHighGainLimit(highGainLimit);
    calibrator.setLowGainLimit(lowGainLimit);
}

AdjusterSet::AdjusterSet() = default;

AdjusterSet::~AdjusterSet()
{
    clear();
}

void AdjusterSet::reserve(qsizetype adjusters, qsizetype tiles)
{
    m_ownedAdjusters.reserve(static_cast<std::size_t>(adjusters));
    m_ownedRecords.reserve(static_cast<std::size_t>(adjusters));
    m_adjusters.reserve(adjusters);
    m_macropixels.reserve(adjusters);
    m_ownedTiles.reserve(static_cast<std::size_t>(tiles));
    m_tiles.reserve(tiles);
}

void AdjusterSet::append(std::unique_ptr<Calibrator> adjuster, std::unique_ptr<Macropixel> record)
{
    m_adjusters.append(adjuster.get());
    m_macropixels.append(record.get());
    m_ownedAdjusters.push_back(std::move(adjuster));
    m_ownedRecords.push_back(std::move(record));
}

void AdjusterSet::appendRecord(std::unique_ptr<Macropixel> record)
{
    m_macropixels.append(record.get());
    m_ownedRecords.push_back(std::move(record));
}

Tile* AdjusterSet::appendTile(std::unique_ptr<Tile> tile)
{
    Tile* view = tile.get();
    m_tiles.append(view);
    m_ownedTiles.push_back(std::move(tile));
    return view;
}

void AdjusterSet::clear()
{
    releaseBackwards(m_ownedAdjusters, m_adjusters);
    releaseBackwards(m_ownedRecords, m_macropixels);
    releaseBackwards(m_ownedTiles, m_tiles);
}
