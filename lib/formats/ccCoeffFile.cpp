#include "formats/ccCoeffFile.h"

#include <iostream>

namespace {

constexpr std::size_t kOrder = 3;

std::array<double, 9> product(const std::array<double, 9>& left, const std::array<double, 9>& right)
{
    std::array<double, 9> out{};
    for (std::size_t r = 0; r < kOrder; ++r)
        for (std::size_t c = 0; c < kOrder; ++c) {
            double sum = 0.0;
            for (std::size_t k = 0; k < kOrder; ++k)
                sum += left[r * kOrder + k] * right[k * kOrder + c];
            out[r * kOrder + c] = sum;
        }
    return out;
}

} // namespace

ccCoeffFile ccCoeffFile::operator*(const ccCoeffFile& other) const
{
    if (other.entries.size() < entries.size()) {
        std::cerr << "ccCoeffFile: cannot multiply a table of " << entries.size() << " entries by one of "
                  << other.entries.size() << std::endl;
        return {};
    }
    ccCoeffFile out;
    out.width = width;
    out.height = height;
    out.entries.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        out.entries.push_back({entries[i].first, entries[i].second, product(entries[i].matrix, other.entries[i].matrix)});
    return out;
}
