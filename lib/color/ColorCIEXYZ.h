#pragma once

namespace Color::CIEXYZ {

// A CIE 1931 chromaticity (x, y) with its luminance Y.
template <typename T>
struct xyY {
    T x{};
    T y{};
    T Y{};
};

} // namespace Color::CIEXYZ
