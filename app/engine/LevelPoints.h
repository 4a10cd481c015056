#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

struct CalibrationPoint;

// The iterations of one level of one calibrator, kept in the compact form that the rest of the
// level and its log read: for each iteration the gains that were set and how far it was from the
// targets; for each gain set met in the level, how often it was met, in all and since the window
// was last reset; and the weighted average of the iterations that becomes the level's final gains.
//
// Gain sets are told apart as their texts with 7 decimals tell them apart (gainSetText), but
// through integer codes computed without any text: a balance or template run keeps one of these
// per adjuster, and a wall has up to hundreds of thousands of adjusters.
//
// A level keeps every iteration's reading and deltas too, for its log and for an average within
// any bound. A summarising level (summarise) keeps instead the running averages within the bounds
// it will ask for, the readings and deltas of only the few iterations another bound it may ask
// for could need, and none once it can no longer ask for one: an adjuster's level asks for the
// average within its error bound (or twice that once finishing is asked for), and for a wider one
// only when fewer than a handful of its iterations came within the first. Its averages are those
// of the full level, bit for bit: the running sums take the same terms in the same order.
//
// Storage per iteration: a 40-byte record (gains, delta sum, two counts and the window they count
// in), a 2-byte mark of its gain set (a gain set met before is found by a pass over the marks: a
// run ends after a thousand update cycles, one iteration each) and, where kept, 56 bytes of
// reading and deltas; an iteration that meets its gain set again within the window keeps its
// largest delta too (16 bytes), for the loop analysis. The records grow by an eighth at a time, so
// little lies unused. Nothing here allocates per point. Counts stop at 65535, far beyond any
// level's iterations.
class LevelPoints
{
public:
    using Triple = std::array<double, 3>;

    // An iteration as the level measured it.
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

    // What is kept of every iteration.
    struct Iteration
    {
        Triple gains{};
        double deltaSum = 0.0;
    };

    // How often an iteration's gain set has been met, counting that iteration: in the whole
    // level, and since the last resetWindow.
    struct Visits
    {
        uint32_t level = 0;
        uint32_t window = 0;
    };

    // The weighted sums of the iterations within a bound: the final gains are gains / weightSum,
    // and so on; used counts the iterations that took part.
    struct Average
    {
        double weightSum = 0.0;
        Triple gains{};
        Triple readings{};
        Triple deltas{};
        uint32_t used = 0;

        void add(double weight, const Point& point);
    };

    // What a summarising level will ask for.
    struct Summary
    {
        // The bounds whose averages are kept as the iterations come.
        std::array<double, 2> bounds{};
        // No average within a bound above this is asked for.
        double widest = 0.0;
        // An average within another bound than those is asked for only while fewer than this
        // many iterations are within the first of them.
        uint32_t fewest = 0;
    };

    // The share of an iteration's deltas added to its gains in the final average.
    static constexpr double FinalDeltaShare = 0.25;

    // An iteration's weight in the average within bound: how far its delta sum stays inside the
    // bound (plus a small floor); 0 when it does not.
    static double weight(double deltaSum, double bound);

    // The parts of a full point that an iteration keeps.
    static Point pointOf(const CalibrationPoint& point);

    // Forgets every iteration (a new level); the level keeps every reading and delta again.
    void clear();
    // Makes the (empty) level a summarising one.
    void summarise(const Summary& summary);
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
        for (; m_counted < m_records.size(); ++m_counted)
            m_within += within(m_records[m_counted].iteration.deltaSum, bound) ? 1 : 0;
        return m_within;
    }

    // The average within bound; empty when a summarising level did not keep what it takes.
    std::optional<Average> average(double bound) const;

    std::size_t size() const { return m_records.size(); }
    bool isEmpty() const { return m_records.empty(); }
    const Iteration& at(std::size_t index) const { return m_records[index].iteration; }
    // The whole iteration, where its reading and deltas were kept (always, unless summarising).
    std::optional<Point> point(std::size_t index) const;
    // The largest absolute delta of an iteration that forEachRepeated visits.
    double largestDelta(std::size_t index) const;

    // The latest iteration of each gain set met in the level (its index), with its count in the
    // level, in the order of the iterations.
    template <typename Visit>
    void forEachGainSet(Visit visit) const
    {
        for (std::size_t index = 0; index < m_marks.size(); ++index) {
            if ((m_marks[index] & Superseded) == 0)
                visit(index, uint(m_records[index].levelVisits));
        }
    }
    // The gain sets met more than once since the last window reset: the latest iteration of
    // each (its index), with its count in the window, in the order of the iterations.
    template <typename Visit>
    void forEachRepeated(Visit visit) const
    {
        for (std::size_t index = 0; index < m_marks.size(); ++index) {
            const Record& record = m_records[index];
            if ((m_marks[index] & Superseded) == 0 && record.window == m_window && record.windowVisits > 1)
                visit(index, uint(record.windowVisits));
        }
    }

    // The gain set as the text the engine has always keyed it by: each gain in fixed notation
    // with 7 decimals (rounded half away from zero, "-" before a negative value that shows as
    // zero), run together.
    static QString gainSetText(const Triple& gains);
    // Bytes held for the iterations kept now.
    std::size_t heldBytes() const;

private:
    // Set in an iteration's mark once a later iteration met its gain set.
    static constexpr uint16_t Superseded = 0x8000;

    struct Record
    {
        Iteration iteration;
        // The gain set's counts up to and including this iteration, and the window they count in.
        uint16_t levelVisits = 1;
        uint16_t windowVisits = 1;
        uint32_t window = 0;
    };
    // The reading and deltas of the iteration at index.
    struct Details
    {
        uint32_t index = 0;
        Triple reading{};
        Triple deltas{};
    };

    // The largest delta of an iteration that met its gain set again within the window.
    struct Repeat
    {
        uint32_t index = 0;
        double largestDelta = 0.0;
    };

    // 15 bits of the gain set's code, to pass over other gain sets quickly.
    static uint16_t markOf(const Triple& gains);
    // The latest iteration of the gain set, if it was met before.
    std::optional<std::size_t> latestOf(const Triple& gains, uint16_t mark) const;
    // Whether a summarising level keeps the details of an iteration with this delta sum.
    bool keepsDetails(double deltaSum);

    std::vector<Record> m_records;
    // Every iteration's, or a summarising level's few; in the order of the iterations.
    std::vector<Details> m_details;
    // In the order of the iterations.
    std::vector<Repeat> m_repeats;
    // Per iteration: its mark, and whether a later iteration met its gain set.
    std::vector<uint16_t> m_marks;
    uint32_t m_window = 0;
    // countWithin's last bound and its count over the first m_counted iterations.
    double m_countedBound = -1.0;
    uint32_t m_counted = 0;
    uint32_t m_within = 0;

    // A summarising level: what it will ask for, its running averages, and the smallest delta sum
    // of an iteration whose details it dropped (minus infinity once it keeps none).
    std::optional<Summary> m_summary;
    std::array<Average, 2> m_averages{};
    double m_droppedFrom = std::numeric_limits<double>::infinity();
};
