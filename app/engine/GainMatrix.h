#pragma once

#include <array>
#include <optional>

// The calibrator's linear model of the display around its current drive values: how each
// measured quantity moves per unit change of the red, green and blue drive.
//
// Rows, in the engine's naming: luma (lr, lg, lb) the third quantity, CCT (kr, kg, kb) the first
// and Duv (dr, dg, db) the second. In the colorimeter mode these are luminance, correlated colour
// temperature and Duv; in the camera modes the blue, red and green levels of the observed LDM, so
// that the colour diagonal stands at kr, dg and lb.
class GainMatrix
{
public:
    using Triple = std::array<double, 3>;
    enum Row { Luma = 0, CctRow = 1, DuvRow = 2 };

    // A determinant of this magnitude or less counts as singular.
    static constexpr double SingularCutoff = 1e-21;

    double at(Row row, int channel) const { return m_rows[row][channel]; }
    double& at(Row row, int channel) { return m_rows[row][channel]; }
    // The response of (luma, CCT, Duv) to one channel's drive.
    Triple column(int channel) const { return {m_rows[Luma][channel], m_rows[CctRow][channel], m_rows[DuvRow][channel]}; }
    void setColumn(int channel, const Triple& lumaCctDuv);

    double determinant() const;
    // The drive deltas that move (third, first, second) by the given differences; empty when the
    // matrix is singular or the result is not a finite number.
    std::optional<Triple> solve(double dThird, double dFirst, double dSecond) const;

    GainMatrix& operator+=(const GainMatrix& other);
    GainMatrix operator/(double divisor) const;

private:
    std::array<Triple, 3> m_rows{};
};
