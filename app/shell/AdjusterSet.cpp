#include "shell/AdjusterSet.h"

#include "engine/Calibrator.h"

#include <utility>

namespace {

template <typename T>
bool releaseLast(std::vector<std::unique_ptr<T>>& owned)
{
    if (owned.empty())
        return false;
    owned.pop_back();
    return true;
}

} // namespace

AdjusterSet::Owned::~Owned()
{
    while (releaseOne()) {
    }
}

bool AdjusterSet::Owned::releaseOne()
{
    return releaseLast(adjusters) || releaseLast(records) || releaseLast(tiles);
}

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
    take(); // released here, in order
}

AdjusterSet::Owned AdjusterSet::take()
{
    // The views go before the objects they point to.
    m_adjusters.clear();
    m_macropixels.clear();
    m_tiles.clear();
    Owned owned;
    owned.adjusters = std::exchange(m_ownedAdjusters, {});
    owned.records = std::exchange(m_ownedRecords, {});
    owned.tiles = std::exchange(m_ownedTiles, {});
    return owned;
}
