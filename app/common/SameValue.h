#pragma once

#include <QtNumeric>

// Whether a new value of a property is the one it holds: equal, or equal but for rounding.
// Qt's fuzzy comparison alone treats 0 as different from everything, including 0, and an
// infinity as different from itself; equal values are the same whatever their size.
inline bool sameValue(double a, double b)
{
    return a == b || qFuzzyCompare(a, b);
}

inline bool sameValue(float a, float b)
{
    return a == b || qFuzzyCompare(a, b);
}
