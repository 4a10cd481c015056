#include "engine/LevelPoints.h"

#include "engine/CalibrationPoint.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

// Exact products of a 53-bit mantissa and 10^7 need 77 bits.
__extension__ typedef unsigned __int128 Code;

constexpr int GainDecimals = 7;
constexpr uint64_t DecimalScale = 10000000; // 10^GainDecimals
// From here on every double is a whole number, printed exactly.
constexpr double WholeNumbersFrom = 9007199254740992.0; // 2^53
// Codes of values outside the rounded range sit above every rounded code (which stay below 2^78).
constexpr Code WholeNumberCodes = Code(1) << 100;
constexpr Code NotFiniteCodes = Code(1) << 101;

constexpr std::size_t PointGrowth = 8;
// A summarising level keeps the details of a few iterations only.
constexpr std::size_t SparseGrowth = 2;
// The least weight an iteration within a bound has.
constexpr double WeightFloor = 0.0001;

// The gain rounded to 7 decimals, as a code that two gains share exactly when their texts match:
// twice the rounded magnitude in units of 10^-7 (halves rounded away from zero), plus one for a
// negative value (so "-0.0000000" differs from "0.0000000", while -0.0 prints as 0.0000000).
Code gainCode(double gain)
{
    if (std::isnan(gain))
        return NotFiniteCodes;
    if (std::isinf(gain))
        return NotFiniteCodes + (gain > 0.0 ? 1 : 2);
    const double magnitude = std::abs(gain);
    if (magnitude >= WholeNumbersFrom) {
        uint64_t bits = 0;
        std::memcpy(&bits, &gain, sizeof bits);
        return WholeNumberCodes + bits;
    }
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent); // magnitude = fraction * 2^exponent
    const auto mantissa = uint64_t(std::ldexp(fraction, 53));
    const int shift = 53 - exponent; // magnitude = mantissa / 2^shift, shift >= 0 here
    const Code scaled = Code(mantissa) * DecimalScale;
    Code rounded = scaled;
    if (shift >= 100) {
        rounded = 0; // below 2^-47: far under half of the last decimal
    } else if (shift > 0) {
        rounded = scaled >> shift;
        const Code remainder = scaled - (rounded << shift);
        if (remainder >= (Code(1) << (shift - 1)))
            ++rounded;
    }
    return rounded * 2 + (gain < 0.0 ? 1 : 0);
}

uint64_t fold(Code code)
{
    return uint64_t(code) ^ uint64_t(code >> 64);
}

std::size_t hashOf(const LevelPoints::Triple& gains)
{
    uint64_t hash = 0x9e3779b97f4a7c15ULL;
    for (const double gain : gains) {
        hash ^= fold(gainCode(gain));
        hash *= 0xff51afd7ed558ccdULL;
        hash ^= hash >> 32;
    }
    return std::size_t(hash);
}

bool sameGainSet(const LevelPoints::Triple& a, const LevelPoints::Triple& b)
{
    for (int c = 0; c < 3; ++c) {
        if (gainCode(a[c]) != gainCode(b[c]))
            return false;
    }
    return true;
}

// Room for one more element: an eighth more, at least least, rather than doubling.
template <typename T>
void makeRoom(std::vector<T>& items, std::size_t least)
{
    if (items.size() < items.capacity())
        return;
    items.reserve(items.capacity() + std::max(least, items.capacity() / 8));
}

// The entry of the iteration at index in a list kept in the order of the iterations; null when
// it has none.
template <typename Entry>
const Entry* entryAt(const std::vector<Entry>& entries, std::size_t index)
{
    const auto found = std::lower_bound(entries.cbegin(), entries.cend(), index,
                                        [](const Entry& entry, std::size_t wanted) { return entry.index < wanted; });
    return found == entries.cend() || found->index != index ? nullptr : &*found;
}

uint16_t counted(uint16_t count)
{
    return count == UINT16_MAX ? count : uint16_t(count + 1);
}

} // namespace

double LevelPoints::Point::deltaSum() const
{
    return std::abs(deltas[0]) + std::abs(deltas[1]) + std::abs(deltas[2]);
}

double LevelPoints::Point::largestDelta() const
{
    return std::max({std::abs(deltas[0]), std::abs(deltas[1]), std::abs(deltas[2])});
}

void LevelPoints::Average::add(double weight, const Point& point)
{
    ++used;
    weightSum += weight;
    for (int i = 0; i < 3; ++i) {
        gains[i] += weight * (point.gains[i] + point.deltas[i] * FinalDeltaShare);
        readings[i] += weight * point.reading[i];
        deltas[i] += weight * point.deltas[i];
    }
}

double LevelPoints::weight(double deltaSum, double bound)
{
    const double weight = bound + WeightFloor - deltaSum;
    return weight > WeightFloor ? weight : 0.0;
}

LevelPoints::Point LevelPoints::pointOf(const CalibrationPoint& point)
{
    return {{point.red, point.green, point.blue},
            {point.cct, point.duv, point.luminance},
            {point.redDelta, point.greenDelta, point.blueDelta}};
}

void LevelPoints::clear()
{
    // Released, not kept: a level that needed many iterations leaves nothing behind.
    m_records = std::vector<Record>();
    m_details = std::vector<Details>();
    m_repeats = std::vector<Repeat>();
    m_marks = std::vector<uint16_t>();
    m_window = 0;
    m_countedBound = -1.0;
    m_counted = 0;
    m_within = 0;
    m_summary.reset();
    m_averages = {};
    m_droppedFrom = std::numeric_limits<double>::infinity();
}

void LevelPoints::summarise(const Summary& summary)
{
    m_summary = summary;
}

LevelPoints::Visits LevelPoints::append(const Point& point)
{
    const uint16_t mark = markOf(point.gains);
    Record record{{point.gains, point.deltaSum()}};
    record.window = m_window;
    if (const std::optional<std::size_t> found = latestOf(point.gains, mark)) {
        const Record& earlier = m_records[*found];
        record.levelVisits = counted(earlier.levelVisits);
        if (earlier.window == m_window)
            record.windowVisits = counted(earlier.windowVisits);
        m_marks[*found] |= Superseded;
    }
    const auto index = uint32_t(m_records.size());
    if (m_summary) {
        for (std::size_t b = 0; b < m_averages.size(); ++b) {
            const double w = weight(record.iteration.deltaSum, m_summary->bounds[b]);
            if (w > 0.0)
                m_averages[b].add(w, point);
        }
    }
    if (!m_summary || keepsDetails(record.iteration.deltaSum)) {
        makeRoom(m_details, m_summary ? SparseGrowth : PointGrowth);
        m_details.push_back({index, point.reading, point.deltas});
    }
    if (record.windowVisits > 1) {
        makeRoom(m_repeats, SparseGrowth);
        m_repeats.push_back({index, point.largestDelta()});
    }
    makeRoom(m_records, PointGrowth);
    makeRoom(m_marks, PointGrowth);
    m_records.push_back(record);
    m_marks.push_back(mark);
    return {record.levelVisits, record.windowVisits};
}

bool LevelPoints::keepsDetails(double deltaSum)
{
    constexpr double Everything = -std::numeric_limits<double>::infinity();
    if (m_droppedFrom == Everything)
        return false;
    if (weight(deltaSum, m_summary->bounds[0]) > 0.0) {
        // Within the first bound: needed only by a wider bound, which is asked for only while
        // few iterations are within the first (its running average, which this one has just
        // joined, counts them). Once enough are, only the running averages are asked for, and no
        // details are needed any more.
        if (m_averages[0].used < m_summary->fewest)
            return true;
        m_details = std::vector<Details>();
        m_droppedFrom = Everything;
        return false;
    }
    // Outside it: needed by any bound up to the widest.
    if (weight(deltaSum, m_summary->widest) > 0.0)
        return true;
    m_droppedFrom = std::min(m_droppedFrom, deltaSum);
    return false;
}

std::optional<LevelPoints::Average> LevelPoints::average(double bound) const
{
    if (m_summary) {
        for (std::size_t b = 0; b < m_averages.size(); ++b) {
            if (bound == m_summary->bounds[b])
                return m_averages[b];
        }
        // The weight falls as the delta sum grows: every dropped iteration is outside the bound
        // when the one with the smallest delta sum is.
        if (weight(m_droppedFrom, bound) > 0.0)
            return std::nullopt;
    }
    Average average;
    for (const Details& details : m_details) {
        const Iteration& iteration = m_records[details.index].iteration;
        const double w = weight(iteration.deltaSum, bound);
        if (w > 0.0)
            average.add(w, {iteration.gains, details.reading, details.deltas});
    }
    return average;
}

std::optional<LevelPoints::Point> LevelPoints::point(std::size_t index) const
{
    const Details* details = entryAt(m_details, index);
    if (!details)
        return std::nullopt;
    return Point{m_records[index].iteration.gains, details->reading, details->deltas};
}

double LevelPoints::largestDelta(std::size_t index) const
{
    const Repeat* repeat = entryAt(m_repeats, index);
    return repeat ? repeat->largestDelta : std::numeric_limits<double>::quiet_NaN();
}

void LevelPoints::resetWindow()
{
    ++m_window;
}

QString LevelPoints::gainSetText(const Triple& gains)
{
    return QString::number(gains[0], 'f', GainDecimals) + QString::number(gains[1], 'f', GainDecimals)
           + QString::number(gains[2], 'f', GainDecimals);
}

std::size_t LevelPoints::heldBytes() const
{
    return m_records.capacity() * sizeof(Record) + m_details.capacity() * sizeof(Details)
           + m_repeats.capacity() * sizeof(Repeat) + m_marks.capacity() * sizeof(uint16_t);
}

uint16_t LevelPoints::markOf(const Triple& gains)
{
    return uint16_t(hashOf(gains) >> 49); // 15 bits: the superseded flag stays clear
}

std::optional<std::size_t> LevelPoints::latestOf(const Triple& gains, uint16_t mark) const
{
    // Only the latest iteration of a gain set is not superseded, so at most one matches.
    for (std::size_t index = 0; index < m_marks.size(); ++index) {
        if (m_marks[index] == mark && sameGainSet(m_records[index].iteration.gains, gains))
            return index;
    }
    return std::nullopt;
}
