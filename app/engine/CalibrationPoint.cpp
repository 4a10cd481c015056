#include "engine/CalibrationPoint.h"

#include <algorithm>
#include <cmath>

double CalibrationPoint::deltaSum() const
{
    return std::abs(redDelta) + std::abs(greenDelta) + std::abs(blueDelta);
}

double CalibrationPoint::largestDelta() const
{
    return std::max({std::abs(redDelta), std::abs(greenDelta), std::abs(blueDelta)});
}
