#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace endor {

// A number kept as its big-endian bytes, so that a packed record holding it has exactly its
// wire layout. Reading yields the value in host order; assigning stores it most significant
// byte first. T is an unsigned integer or an enumeration over one.
template <class T>
class big {
    using Raw = typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::type_identity<T>>::type;
    static_assert(std::is_unsigned_v<Raw>, "endor::big holds unsigned integers and enumerations over them");

public:
    constexpr big() noexcept = default;
    constexpr big(T value) noexcept { store(value); }

    constexpr big& operator=(T value) noexcept
    {
        store(value);
        return *this;
    }

    constexpr operator T() const noexcept { return value(); }

    constexpr T value() const noexcept
    {
        Raw raw = 0;
        for (const std::uint8_t byte : m_bytes)
            raw = static_cast<Raw>((raw << 8) | byte);
        return static_cast<T>(raw);
    }

    constexpr const std::array<std::uint8_t, sizeof(T)>& bytes() const noexcept { return m_bytes; }

private:
    constexpr void store(T value) noexcept
    {
        auto raw = static_cast<Raw>(value);
        for (std::size_t i = sizeof(T); i-- > 0;) {
            m_bytes[i] = static_cast<std::uint8_t>(raw & 0xFFu);
            raw = static_cast<Raw>(raw >> 8);
        }
    }

    std::array<std::uint8_t, sizeof(T)> m_bytes{};
};

} // namespace endor
