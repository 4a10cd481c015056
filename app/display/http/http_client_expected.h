#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace http_client {

// The result of every HTTP coroutine: exactly one of a value (success) or an error (failure).
// Test has_value() first; taking the alternative that is not held throws std::bad_variant_access.
template <class T, class E>
struct expected
{
    static_assert(!std::is_same_v<T, E>, "value and error must be told apart by their type");

    expected(T value) : storage(std::in_place_index<0>, std::move(value)) {}
    expected(E error) : storage(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const noexcept { return storage.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(storage); }
    const T& value() const& { return std::get<0>(storage); }
    T&& value() && { return std::get<0>(std::move(storage)); }

    E& error() & { return std::get<1>(storage); }
    const E& error() const& { return std::get<1>(storage); }
    E&& error() && { return std::get<1>(std::move(storage)); }

    std::variant<T, E> storage;
};

} // namespace http_client
