#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

struct CalibrationPoint;

// The iterations of one level of one calibrator, kept in the compact form that the rest of the
// level and its log read: for each iteration the gains that were set, the reading there (in the
// terms of the targets) and the deltas the solver proposed; for each gain set met in the level,
// how often it was met, in all and since the window was last reset.
//
// Gain sets are told apart as their texts with 7 decimals tell them apart (gainSetText), but
// through integer codes computed without any text: a balance or template run keeps one of these
// per adjuster, and a wall has up to hundreds of thousands of adjusters.
//
// Storage per iteration: 80 bytes (nine doubles, two counts and the window they count in) and one
// or two 4-byte index slots; the points grow by an eighth at a time, so little lies unused.
// Nothing here allocates per point. Counts stop at 65535, far beyond any level's iterations.
class LevelPoints
{
public:
    using Triple = std::array<double, 3>;

    struct Point
    {
        Triple gains{};
        Triple reading{};
        Triple deltas{};

        // |red delta| + |green delta| + |blue delta|: how far the point was from its targets.
        double deltaSum() const;
        // The largest of the three absolute deltas.
        double largestDelta() const;
    };

    // How often an iteration's gain set has been met, counting that iteration: in the whole
    // level, and since the last resetWindow.
    struct Visits
    {
        uint32_t level = 0;
        uint32_t window = 0;
    };

    // The parts of a full point that an iteration keeps.
    static Point pointOf(const CalibrationPoint& point);

    // Forgets every iteration (a new level).
    void clear();
    // Records an iteration and counts its gain set.
    Visits append(const Point& point);
    // Starts a new window: every gain set counts as not met since.
    void resetWindow();

    // The iterations for which within(deltaSum, bound) holds. A level asks at every iteration
    // with the same bound: the count is kept for it, and only the iterations since are looked at.
    template <typename Within>
    std::size_t countWithin(double bound, Within within)
    {
        if (bound != m_countedBound) {
            m_countedBound = bound;
            m_counted = 0;
            m_within = 0;
        }
        for (; m_counted < m_points.size(); ++m_counted)
            m_within += within(m_points[m_counted].point.deltaSum(), bound) ? 1 : 0;
        return m_within;
    }

    std::size_t size() const { return m_points.size(); }
    bool isEmpty() const { return m_points.empty(); }
    const Point& at(std::size_t index) const { return m_points[index].point; }

    // The latest iteration of each gain set met in the level, with its count in the level. The
    // order is that of the index (fixed for a given history).
    template <typename Visit>
    void forEachGainSet(Visit visit) const
    {
        for (const uint32_t slot : m_slots) {
            if (slot != EmptySlot)
                visit(m_points[slot].point, m_points[slot].levelVisits);
        }
    }
    // The gain sets met more than once since the last window reset: the latest iteration of
    // each, with its count in the window.
    template <typename Visit>
    void forEachRepeated(Visit visit) const
    {
        for (const uint32_t slot : m_slots) {
            if (slot == EmptySlot)
                continue;
            const Stored& stored = m_points[slot];
            if (stored.window == m_window && stored.windowVisits > 1)
                visit(stored.point, stored.windowVisits);
        }
    }

    // The gain set as the text the engine has always keyed it by: each gain in fixed notation
    // with 7 decimals (rounded half away from zero, "-" before a negative value that shows as
    // zero), run together.
    static QString gainSetText(const Triple& gains);
    // Bytes held for the iterations kept now.
    std::size_t heldBytes() const;

private:
    static constexpr uint32_t EmptySlot = UINT32_MAX;

    struct Stored
    {
        Point point;
        // The gain set's counts up to and including this iteration, and the window they count in.
        uint16_t levelVisits = 1;
        uint16_t windowVisits = 1;
        uint32_t window = 0;
    };

    // The slot of the gain set, or the empty slot where it would go.
    std::size_t find(const Triple& gains) const;
    void growIndex();

    std::vector<Stored> m_points;
    // Open addressing, a power of two long: the index of the latest iteration of each gain set.
    std::vector<uint32_t> m_slots;
    std::size_t m_gainSets = 0;
    uint32_t m_window = 0;
    // countWithin's last bound and its count over the first m_counted iterations.
    double m_countedBound = -1.0;
    uint32_t m_counted = 0;
    uint32_t m_within = 0;
};
