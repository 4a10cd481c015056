#pragma once

#include "display/Macropixel.h"
#include "display/Tile.h"

#include <QList>

#include <array>
#include <memory>
#include <vector>

class Calibrator;

// What the adjusters of a balance or template run are configured with (the master with them).
struct AdjusterSettings
{
    // The observed red, green and blue levels every LDM is brought to.
    std::array<double, 3> targets{};
    uint readDelay = 0;
    // The scales of the gain steps, and of the damped ones once errors grow.
    double highGainLimit = 0.5;
    double lowGainLimit = 0.25;
    // A template adjuster's per-level limits: points within error that finish it, and its fewest
    // and most iterations.
    uint compliantIterations = 20;
    uint minIterations = 50;
    uint maxIterations = 400;

    // The targets, the read delay, one reading per measurement, no error allowance and the gain
    // step scales (not the template limits).
    void applyTo(Calibrator& calibrator) const;
};

// The per-LDM or per-cell calibrators of a balance or template run, the records they adjust and,
// for a template run, the tile copies that group those records. Entry i of adjusters() adjusts
// entry i of macropixels(). The set owns all of it; the lists it hands out are views that stay
// valid until the next clear() or take(): clear() releases adjusters, records and tiles in that
// order, each from the last to the first; take() hands them over to be released so (the
// controller's AdjusterBuilder does, a slice at a time).
class AdjusterSet
{
public:
    // What a set owned, taken out of it whole: released from the last entry to the first,
    // adjusters, then records, then tiles, one object at a time or all at its end.
    struct Owned
    {
        std::vector<std::unique_ptr<Calibrator>> adjusters;
        std::vector<std::unique_ptr<Macropixel>> records;
        std::vector<std::unique_ptr<Tile>> tiles;

        Owned() = default;
        Owned(Owned&&) noexcept = default;
        Owned& operator=(Owned&&) = delete;
        ~Owned();
        // Releases the next object; false when none was left.
        bool releaseOne();
    };

    AdjusterSet();
    ~AdjusterSet();

    AdjusterSet(const AdjusterSet&) = delete;
    AdjusterSet& operator=(const AdjusterSet&) = delete;

    void reserve(qsizetype adjusters, qsizetype tiles = 0);
    // Takes ownership of an adjuster and the record it adjusts.
    void append(std::unique_ptr<Calibrator> adjuster, std::unique_ptr<Macropixel> record);
    // A record that no adjuster adjusts (the target LDM while its colour is taken).
    void appendRecord(std::unique_ptr<Macropixel> record);
    // Takes ownership of a tile copy; its ldms list points into the records of this set.
    Tile* appendTile(std::unique_ptr<Tile> tile);
    void clear();
    // Empties the set and hands over what it owned (the lists it handed out are empty too).
    Owned take();

    bool isEmpty() const { return m_adjusters.isEmpty(); }
    qsizetype size() const { return m_adjusters.size(); }
    const QList<Calibrator*>& adjusters() const { return m_adjusters; }
    const QList<Macropixel*>& macropixels() const { return m_macropixels; }
    const QList<Tile*>& tiles() const { return m_tiles; }

private:
    std::vector<std::unique_ptr<Calibrator>> m_ownedAdjusters;
    std::vector<std::unique_ptr<Macropixel>> m_ownedRecords;
    std::vector<std::unique_ptr<Tile>> m_ownedTiles;
    QList<Calibrator*> m_adjusters;
    QList<Macropixel*> m_macropixels;
    QList<Tile*> m_tiles;
};
