#include "engine/GainMatrix.h"

#include <cmath>

void GainMatrix::setColumn(int channel, const Triple& lumaCctDuv)
{
    for (int row = 0; row < 3; ++row)
        m_rows[row][channel] = lumaCctDuv[row];
}

double GainMatrix::determinant() const
{
    const auto& m = m_rows;
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
           + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

std::optional<GainMatrix::Triple> GainMatrix::solve(double dThird, double dFirst, double dSecond) const
{
    const double det = determinant();
    if (!std::isfinite(det) || std::abs(det) <= SingularCutoff)
        return std::nullopt;
    const auto& m = m_rows;
    // The inverse as the adjugate over the determinant.
    const std::array<Triple, 3> adjugate{{
        {m[1][1] * m[2][2] - m[1][2] * m[2][1], m[0][2] * m[2][1] - m[0][1] * m[2][2], m[0][1] * m[1][2] - m[0][2] * m[1][1]},
        {m[1][2] * m[2][0] - m[1][0] * m[2][2], m[0][0] * m[2][2] - m[0][2] * m[2][0], m[0][2] * m[1][0] - m[0][0] * m[1][2]},
        {m[1][0] * m[2][1] - m[1][1] * m[2][0], m[0][1] * m[2][0] - m[0][0] * m[2][1], m[0][0] * m[1][1] - m[0][1] * m[1][0]},
    }};
    const Triple differences{dThird, dFirst, dSecond};
    Triple deltas{};
    for (int channel = 0; channel < 3; ++channel) {
        double sum = 0.0;
        for (int row = 0; row < 3; ++row)
            sum += adjugate[channel][row] * differences[row];
        deltas[channel] = sum / det;
        if (!std::isfinite(deltas[channel]))
            return std::nullopt;
    }
    return deltas;
}

GainMatrix& GainMatrix::operator+=(const GainMatrix& other)
{
    for (int row = 0; row < 3; ++row)
        for (int channel = 0; channel < 3; ++channel)
            m_rows[row][channel] += other.m_rows[row][channel];
    return *this;
}

GainMatrix GainMatrix::operator/(double divisor) const
{
    GainMatrix result = *this;
    for (auto& row : result.m_rows)
        for (double& entry : row)
            entry /= divisor;
    return result;
}
