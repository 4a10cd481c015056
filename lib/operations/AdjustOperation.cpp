#include "operations/AdjustOperation.h"

#include "operations/JsonFields.h"

#include <algorithm>
#include <climits>

namespace {

// A flat gradient over modules of any positive size scales every cell alike, so the data's own
// module size is used where the gradient accepts it and the grid's size (at least 1) otherwise:
// hand-built data may carry a module size of 0 or one beyond int.
int moduleSpan(std::uint64_t moduleSize, std::size_t gridSize)
{
    if (moduleSize > 0 && moduleSize <= std::uint64_t(INT_MAX))
        return int(moduleSize);
    return int(std::clamp<std::size_t>(gridSize, 1, INT_MAX));
}

} // namespace

Operation::Type AdjustOperation::type() const
{
    return Type::Adjust;
}

void AdjustOperation::process(Cal::Data& data) const
{
    const auto r = float(rFactor_), g = float(gFactor_), b = float(bFactor_);
    data.gradient(moduleSpan(data.moduleWidth, data.width()), moduleSpan(data.moduleHeight, data.height()), 0, 0,
                  false, r, r, g, g, b, b);
}

bool AdjustOperation::load(const json& object)
{
    using namespace JsonFields;
    rFactor_ = toDouble(required(object, "rFactor"));
    gFactor_ = toDouble(required(object, "gFactor"));
    bFactor_ = toDouble(required(object, "bFactor"));
    return true;
}

Operation::json AdjustOperation::save() const
{
    json object = typed();
    object["rFactor"] = rFactor_;
    object["gFactor"] = gFactor_;
    object["bFactor"] = bFactor_;
    return object;
}
