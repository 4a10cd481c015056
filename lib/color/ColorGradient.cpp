#include "color/ColorGradient.h"

#include "color/ColorFunctions.h"

#include <algorithm>

namespace Color {

namespace {
constexpr unsigned kFullBlend = 255;
} // namespace

void Gradient::addStep(std::uint8_t position, rgb32_t color)
{
    if (count_ >= kMaxSteps)
        return;
    steps_[count_] = Step{position, color};
    ++count_;
}

void Gradient::setSteps(const Step* steps, int n)
{
    if (steps == nullptr || n <= 0) {
        count_ = 0;
        return;
    }
    const int count = std::min(n, kMaxSteps);
    std::copy_n(steps, count, steps_);
    count_ = std::uint8_t(count);
}

void Gradient::clearSteps()
{
    count_ = 0;
}

rgb32_t Gradient::getColor(std::uint8_t pos) const
{
    if (count_ == 0)
        return rgb32_t();
    const Step& first = steps_[0];
    const Step& last = steps_[count_ - 1];
    if (pos <= first.position)
        return first.color;
    if (pos >= last.position)
        return last.color;
    for (int i = 0; i + 1 < count_; ++i) {
        const Step& from = steps_[i];
        const Step& to = steps_[i + 1];
        if (from.position <= pos && pos < to.position) {
            const unsigned t = (unsigned(pos) - from.position) * kFullBlend / (unsigned(to.position) - from.position);
            return ColorBlend(from.color, to.color, std::uint8_t(t));
        }
    }
    // Between the first and the last position some neighbouring pair always straddles pos,
    // whatever the order; this keeps the result defined regardless.
    return rgb32_t();
}

} // namespace Color
