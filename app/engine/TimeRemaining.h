#pragma once

#include <QString>
#include <QtGlobal>

// The phrases in which the engine tells how long something takes or will still take:
// " 1 hour 5 minutes", "; about 10 minutes remaining" and the like.
namespace TimeRemaining {

// Below or at this fraction done there is too little to estimate from.
constexpr double MinimumFraction = 0.02;
// Added to every estimate, so that the last stretch is not promised too soon.
constexpr qint64 MarginSeconds = 30;

// The estimate for a run that has taken elapsedSeconds to do fraction of its work, assuming the
// rest goes at the same rate: "; about 5 minutes remaining", or "; less than 1 minute remaining";
// empty when fraction is not above MinimumFraction (or not a number). Negative elapsed times
// count as 0.
QString phrase(qint64 elapsedSeconds, double fraction);

// Hours, minutes and seconds as " 1 hour 1 minute 1 second" (zero parts left out); empty for 0.
QString duration(qint64 seconds);

} // namespace TimeRemaining
