#include "engine/TimeRemaining.h"

#include <cmath>

namespace {

constexpr qint64 SecondsPerHour = 3600;
constexpr qint64 SecondsPerMinute = 60;

QString piece(const char* format, qint64 count)
{
    return QString::fromLatin1(format).arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
}

QString hoursAndMinutes(qint64 hours, qint64 minutes)
{
    QString text;
    if (hours != 0)
        text += piece(" %1 hour%2", hours);
    if (minutes != 0)
        text += piece(" %1 minute%2", minutes);
    return text;
}

// The wording grows surer as more of the run is done.
const char* estimateTemplate(double fraction)
{
    if (fraction < 0.25)
        return "; guessing maybe%1 remaining";
    if (fraction < 0.5)
        return "; something like%1 remaining";
    if (fraction < 0.75)
        return "; probably about%1 remaining";
    return "; about%1 remaining";
}

} // namespace

namespace TimeRemaining {

QString phrase(qint64 elapsedSeconds, double fraction)
{
    if (!(fraction > MinimumFraction))
        return {};
    const qint64 elapsed = std::max<qint64>(elapsedSeconds, 0);
    const qint64 remaining = qint64(std::trunc(double(elapsed) / fraction)) - elapsed + MarginSeconds;
    const qint64 hours = remaining / SecondsPerHour;
    const qint64 minutes = (remaining - hours * SecondsPerHour) / SecondsPerMinute;
    const QString text = hoursAndMinutes(hours, minutes);
    if (text.isEmpty())
        return QStringLiteral("; less than 1 minute remaining");
    return QString::fromLatin1(estimateTemplate(fraction)).arg(text);
}

QString duration(qint64 seconds)
{
    const qint64 hours = seconds / SecondsPerHour;
    const qint64 minutes = (seconds - hours * SecondsPerHour) / SecondsPerMinute;
    const qint64 rest = seconds - hours * SecondsPerHour - minutes * SecondsPerMinute;
    QString text = hoursAndMinutes(hours, minutes);
    if (rest != 0)
        text += piece(" %1 second%2", rest);
    return text;
}

} // namespace TimeRemaining
