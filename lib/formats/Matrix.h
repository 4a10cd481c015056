#pragma once

#include <array>
#include <cstddef>

// A square matrix of N x N values in row order (m[0] .. m[N*N-1]).
template <typename T, std::size_t N>
struct Matrix {
    std::array<T, N * N> m{};

    T& operator[](std::size_t i) { return m[i]; }
    const T& operator[](std::size_t i) const { return m[i]; }
};
