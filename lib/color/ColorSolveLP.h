#pragma once

#include "color/ColorCIEXYZ.h"

#include <TessellaExport.h>

#include <cstdint>
#include <set>
#include <span>
#include <vector>

namespace Color {

// The direction of the solver's objective: 0 maximises, any other value minimises.
enum class Objective : int { Maximise = 0, Minimise = 1 };

// How much luminance each emitter should give so that the additive mix has the target's
// chromaticity (and, when totalY is not 0, that total luminance), with the sum over objectiveSet
// (all free emitters when it is empty) as large or as small as possible.
//
// Each primary's Y is its maximum luminance; emitters in fixedSet are fixed at it. Indices in
// either set that name no emitter are ignored, and objective indices of fixed emitters too.
//
// Returns one luminance per primary in input order (fixed emitters report their Y), only for a
// programme solved to optimality. Everything else gives an empty list: an infeasible or unbounded
// programme, a fixed set that misses the target, a primary with y = 0 or a negative Y, and any
// non-finite x, y, Y, target chromaticity or totalY.
TESSELLA_EXPORT std::vector<double> solveLP(std::span<const CIEXYZ::xyY<double>> primaries,
                                            const CIEXYZ::xyY<double>& target, std::set<std::uint64_t> fixedSet,
                                            std::set<std::uint64_t> objectiveSet, Objective objective, double totalY);

} // namespace Color
