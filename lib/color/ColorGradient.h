#pragma once

#include "color/ColorRgb32.h"

#include <TessellaExport.h>

#include <cstdint>

namespace Color {

// A stepped colour gradient of up to kMaxSteps steps, 51 bytes with no padding: the steps, then
// the step count. Positions are taken in their stored order and need not ascend.
class TESSELLA_EXPORT Gradient {
public:
    static constexpr int kMaxSteps = 10;

    // A position 0-255 followed directly by its colour (5 bytes).
    struct Step {
        std::uint8_t position = 0;
        rgb32_t color;
    };

    Gradient() = default;

    // Appends a step while fewer than kMaxSteps are held; further steps are ignored.
    void addStep(std::uint8_t position, rgb32_t color);
    // Holds the first min(n, kMaxSteps) of the given steps; a negative n holds none.
    void setSteps(const Step* steps, int n);
    void clearSteps();

    // The first step's colour at or before its position, the last step's at or after its
    // position, a blend of the two steps around pos in between, and black with no steps.
    rgb32_t getColor(std::uint8_t pos) const;

private:
    Step steps_[kMaxSteps] = {};
    std::uint8_t count_ = 0;
};

static_assert(sizeof(Gradient::Step) == 5, "a gradient step is a position byte and a packed colour");
static_assert(sizeof(Gradient) == 51, "a gradient is ten steps and a count byte");

} // namespace Color
