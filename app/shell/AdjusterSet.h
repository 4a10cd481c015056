#pragma once

#include "display/Macropixel.h"
#include "display/Tile.h"

#include <QList>

#include <memory>
#include <vector>

class Calibrator;

// The per-LDM or per-cell calibrators of a balance or template run, the records they adjust and,
// for a template run, the tile copies that group those records. Entry i of adjusters() adjusts
// entry i of macropixels(). The set owns all of it; the lists it hands out are views that stay
// valid until the next clear(), which releases adjusters, records and tiles in that order, each
// from the last to the first.
class AdjusterSet
{
public:
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
