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

constexpr std::size_t FirstIndexSize = 16;
constexpr std::size_t PointGrowth = 8;

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

// Room for one more element: an eighth more, at least PointGrowth, rather than doubling.
template <typename T>
void makeRoom(std::vector<T>& items)
{
    if (items.size() < items.capacity())
        return;
    items.reserve(items.capacity() + std::max(PointGrowth, items.capacity() / 8));
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

LevelPoints::Point LevelPoints::pointOf(const CalibrationPoint& point)
{
    return {{point.red, point.green, point.blue},
            {point.cct, point.duv, point.luminance},
            {point.redDelta, point.greenDelta, point.blueDelta}};
}

void LevelPoints::clear()
{
    // Released, not kept: a level that needed many iterations leaves nothing behind.
    m_points = std::vector<Stored>();
    m_slots = std::vector<uint32_t>();
    m_gainSets = 0;
    m_window = 0;
    m_countedBound = -1.0;
    m_counted = 0;
    m_within = 0;
}

LevelPoints::Visits LevelPoints::append(const Point& point)
{
    // At most three quarters full.
    if ((m_gainSets + 1) * 4 > m_slots.size() * 3)
        growIndex();
    const std::size_t slot = find(point.gains);
    Stored stored{point};
    stored.window = m_window;
    if (m_slots[slot] == EmptySlot) {
        ++m_gainSets;
    } else {
        const Stored& earlier = m_points[m_slots[slot]];
        stored.levelVisits = counted(earlier.levelVisits);
        if (earlier.window == m_window)
            stored.windowVisits = counted(earlier.windowVisits);
    }
    makeRoom(m_points);
    m_slots[slot] = uint32_t(m_points.size());
    m_points.push_back(stored);
    return {stored.levelVisits, stored.windowVisits};
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
    return m_points.capacity() * sizeof(Stored) + m_slots.capacity() * sizeof(uint32_t);
}

std::size_t LevelPoints::find(const Triple& gains) const
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = hashOf(gains) & mask;; slot = (slot + 1) & mask) {
        const uint32_t held = m_slots[slot];
        if (held == EmptySlot || sameGainSet(m_points[held].point.gains, gains))
            return slot;
    }
}

void LevelPoints::growIndex()
{
    const std::size_t size = m_slots.empty() ? FirstIndexSize : m_slots.size() * 2;
    std::vector<uint32_t> old = std::exchange(m_slots, std::vector<uint32_t>(size, EmptySlot));
    for (const uint32_t held : old) {
        if (held != EmptySlot)
            m_slots[find(m_points[held].point.gains)] = held;
    }
}
