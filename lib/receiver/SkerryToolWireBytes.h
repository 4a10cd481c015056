#pragma once

#include <cstdint>
#include <span>
#include <type_traits>

namespace SkerryTool {

// A packed record's bytes, which are its wire form.
template <class Record>
std::span<const std::uint8_t> wireBytes(const Record& record) noexcept
{
    static_assert(std::is_trivially_copyable_v<Record>);
    return {reinterpret_cast<const std::uint8_t*>(&record), sizeof record};
}

} // namespace SkerryTool
