#include "engine/Calibrator.h"

#include "instruments/Colorimeter.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Excursions that measure one column of the gain matrix.
constexpr double ColorimeterExcursion = 0.02;
constexpr double CameraExcursion = 0.05;
constexpr int GainAttemptsPerMatrix = 3;

// Camera-mode repairs: a level outside this range says little about its gain, which is then
// taken to be at least RepairedGain; no colour diagonal entry is taken below MinimumGain.
constexpr double LowestUsefulLevel = 10.0;
constexpr double HighestUsefulLevel = 210.0;
constexpr double RepairedGain = 300.0;
constexpr double MinimumGain = 25.0;

const char* const ChannelNames[3] = {"  red", "green", " blue"};

// One line of the gain text: at most this many characters.
constexpr qsizetype GainLineLimit = 100;

} // namespace

bool Calibrator::sendRGBGains_(double red, double green, double blue, uint kind)
{
    return sendGains("sendRGBGains_", "****#%-4d exiting sendRGBGains_ with error types %d, (colorimeter), %d (output)****",
                     red, green, blue, int(kind));
}

EngineTask Calibrator::coChangeColor_(int channel, double delta)
{
    if (delta == 0.0) {
        qDebug("Calibrator::coChangeColor_: delta == 0!");
        co_return true;
    }
    if (!m_usingCoroutines) {
        qDebug("***** ERROR: coChangeColor_ called while NOT using coroutines. *****");
        co_return false;
    }
    Triple gains = m_rgb;
    gains[channel] = std::clamp(gains[channel] + delta, m_minimumValue, m_maximumValue);
    coSetRGBGains_(gains[0], gains[1], gains[2]);
    co_await EngineTask::Yield{};
    // Divided by the full delta, also when the clamp shortened the step.
    m_gains.setColumn(channel, {(m_reading[Luminance] - m_previousReading[Luminance]) / delta,
                                (m_reading[Cct] - m_previousReading[Cct]) / delta,
                                (m_reading[Duv] - m_previousReading[Duv]) / delta});
    co_return true;
}

EngineTask Calibrator::coMeasureChannelGains_(int channel)
{
    double excursion = m_mode == ColorimeterMode ? ColorimeterExcursion : CameraExcursion;
    // The first excursion moves away from the nearer end of the range.
    if (m_rgb[channel] < m_maximumValue / 2.0)
        excursion = -excursion;
    EngineTask away = coChangeColor_(channel, -excursion);
    co_await away;
    const GainMatrix::Triple first = m_gains.column(channel);
    EngineTask back = coChangeColor_(channel, excursion);
    const bool ok = co_await back;
    averageColumn(channel, first, excursion);
    co_return ok;
}

void Calibrator::repairDiagonal()
{
    // Camera modes: repair the colour diagonal instead of judging it.
    const struct
    {
        GainMatrix::Row row;
        int channel;
        int readingIndex;
        const char* name;
    } diagonal[3] = {{GainMatrix::CctRow, 0, 0, "red"}, {GainMatrix::DuvRow, 1, 1, "green"}, {GainMatrix::Luma, 2, 2, "blue"}};
    for (const auto& entry : diagonal) {
        const double level = m_reading[entry.readingIndex];
        double& gain = m_gains.at(entry.row, entry.channel);
        if ((level < LowestUsefulLevel || level > HighestUsefulLevel) && gain < RepairedGain) {
            gain = RepairedGain;
            if (m_loggable)
                qDebug("#%-4d %s gainfix (high/low limits)", int(m_number), entry.name);
        }
    }
    for (const auto& entry : diagonal) {
        double& gain = m_gains.at(entry.row, entry.channel);
        if (gain < MinimumGain) {
            gain = MinimumGain;
            if (m_loggable)
                qDebug("#%-4d %s gainfix (minGain)", int(m_number), entry.name);
        }
    }
}

bool Calibrator::gainsPlausible(int attempt) const
{
    // Colorimeter mode: every sign the display's physics promises, checked in turn.
    const GainMatrix& g = m_gains;
    const struct
    {
        bool failed;
        const char* message;
    } checks[] = {
        {g.at(GainMatrix::Luma, 0) <= 0.0, "setGains #%d: red luma gain is zero or less than zero."},
        {g.at(GainMatrix::Luma, 1) <= 0.0, "setGains #%d: green luma gain is  zero or less than zero."},
        {g.at(GainMatrix::Luma, 2) <= 0.0, "setGains #%d: blue luma gain is  zero or less than zero."},
        {g.at(GainMatrix::Luma, 1) < g.at(GainMatrix::Luma, 0) || g.at(GainMatrix::Luma, 1) < g.at(GainMatrix::Luma, 2),
         "setGains #%d: green luma gain is less than red or blue luma gain."},
        {g.at(GainMatrix::CctRow, 0) > 0.0, "setGains #%d: red CCT gain is greater than zero."},
        {g.at(GainMatrix::CctRow, 2) < 0.0, "setGains #%d: blue CCT gain is less than zero."},
        {g.at(GainMatrix::DuvRow, 0) > 0.0, "setGains #%d: red Duv gain is greater than zero."},
        {g.at(GainMatrix::DuvRow, 2) > 0.0, "setGains #%d: blue Duv gain is greater than zero."},
        {g.at(GainMatrix::DuvRow, 1) < 0.0, "setGains #%d: green Duv gain is less than zero."},
    };
    bool plausible = true;
    for (const auto& check : checks) {
        if (check.failed) {
            qDebug(check.message, attempt);
            plausible = false;
        }
    }
    return plausible;
}

void Calibrator::averageColumn(int channel, const GainMatrix::Triple& first, double excursion)
{
    const GainMatrix::Triple second = m_gains.column(channel);
    const GainMatrix::Triple mean{(first[0] + second[0]) * 0.5, (first[1] + second[1]) * 0.5, (first[2] + second[2]) * 0.5};
    m_gains.setColumn(channel, mean);
    if (m_mode == ColorimeterMode)
        qDebug("%s gains: %+12.7f Lum, %+13.5f CCT, %+14.9f Duv   (delta %.3f)", ChannelNames[channel], mean[0], mean[1],
               mean[2], excursion);
    else if (m_loggable)
        qDebug("%s gains: %+12f R, %+12f G,  %+12f B   (delta %.3f)", ChannelNames[channel], mean[1], mean[2], mean[0],
               excursion);
}

EngineTask Calibrator::coSetGains()
{
    if (m_mode == ColorimeterMode) {
        setStatusString(m_currentStep == 0 ? QStringLiteral("Setting initial gains...")
                                           : QStringLiteral("Step %1 of %2: setting gains%3...")
                                                 .arg(m_currentStep)
                                                 .arg(m_steps)
                                                 .arg(updateStatusTimeRemaining(taskState().startTime, m_progress)));
    }
    GainMatrix sums;
    int attempt = 1;
    while (attempt <= GainAttemptsPerMatrix && m_running && !m_finishRequested) {
        if (verbose())
            qDebug("coSetGains: attempt #%d...", attempt);
        bool ok = true;
        for (int channel = 0; channel < 3 && ok; ++channel) {
            EngineTask column = coMeasureChannelGains_(channel);
            ok = co_await column;
        }
        if (!m_running || !ok || m_finishRequested)
            co_return false;

        if (m_mode != ColorimeterMode) {
            repairDiagonal();
            co_return true;
        }
        if (gainsPlausible(attempt))
            co_return true;
        sums += m_gains;
        ++attempt;
    }
    // Implausible every time (or stopped before the next attempt): the mean of the attempts made.
    const int summed = attempt - 1;
    if (summed == 0)
        co_return false;
    m_gains = sums / summed;
    if (verbose()) {
        qDebug("Averaged gains:");
        qDebug("%s", qUtf8Printable(gainsText().replace(QLatin1Char('\n'), QStringLiteral("\n------------  "))));
    }
    co_return true;
}

bool Calibrator::getRGBDeltas_()
{
    const double dFirst = m_targetCCT - m_reading[Cct];
    const double dSecond = m_targetDuv - m_reading[Duv];
    const double dThird = m_targetLum - m_reading[Luminance];
    const std::optional<GainMatrix::Triple> deltas = m_gains.solve(dThird, dFirst, dSecond);
    if (deltas) {
        m_rgbDeltas = *deltas;
        return true;
    }
    if (verbose()) {
        const auto row = [this](GainMatrix::Row r) {
            return std::array<double, 3>{m_gains.at(r, 0), m_gains.at(r, 1), m_gains.at(r, 2)};
        };
        const auto luma = row(GainMatrix::Luma), cct = row(GainMatrix::CctRow), duv = row(GainMatrix::DuvRow);
        qDebug("getRGBDeltas_: determinant %.24f; %s invertible", m_gains.determinant(), "NOT");
        qDebug("                (cutoff is %.24f)", GainMatrix::SingularCutoff);
        qDebug("    lr %+.20f  lg %+.20f  ld %+.20f", luma[0], luma[1], luma[2]);
        qDebug("    kr %+.20f  kg %+.20f  kb %+.20f", cct[0], cct[1], cct[2]);
        qDebug("    dr %+.20f  dg %+.20f  db %+.20f", duv[0], duv[1], duv[2]);
        qDebug("    --------------------------------------");
        qDebug("    deltas: CCT %f  duv %f  lum %f", dFirst, dSecond, dThird);
    }
    return false;
}

bool Calibrator::limitRGBDeltas_(double percent, double gainScale, uint maxDelta)
{
    bool changed = false;
    const auto scaleAll = [this](double factor) {
        for (double& delta : m_rgbDeltas)
            delta *= factor;
    };
    const auto largest = [this] {
        return std::max({std::abs(m_rgbDeltas[0]), std::abs(m_rgbDeltas[1]), std::abs(m_rgbDeltas[2])});
    };
    // A percentage of a range that is empty or inverted means nothing: that limit then stays off.
    if (percent != 0.0 && m_maximumValue > 0.0) {
        const double allowed = percent / 100.0;
        const double share = largest() / m_maximumValue;
        if (share > allowed) {
            const double factor = allowed / share;
            scaleAll(factor);
            if (verbose())
                qDebug("limitRGBDeltas_: limiting delta percentages by %f to %.2f%% of value", factor, percent);
            changed = true;
        }
    }
    if (gainScale != 0.0) {
        scaleAll(gainScale);
        if (verbose()) {
            if (gainScale >= 0.1)
                qDebug("limitRGBDeltas_: limiting gains by %.0f%% ", gainScale * 100.0);
            else if (gainScale >= 0.01)
                qDebug("limitRGBDeltas_: limiting gains by %.1f%% ", gainScale * 100.0);
            else
                qDebug("limitRGBDeltas_: limiting gains by %.2f%% ", gainScale * 100.0);
        }
        changed = true;
    }
    if (maxDelta != 0 && largest() > double(maxDelta)) {
        const double factor = double(maxDelta) / largest();
        scaleAll(factor);
        if (verbose())
            qDebug("limitRGBDeltas_: limiting deltas by scale %.4f", factor);
        changed = true;
    }
    return changed;
}

QString Calibrator::gainsText() const
{
    QString text;
    for (int channel = 0; channel < 3; ++channel) {
        const GainMatrix::Triple column = m_gains.column(channel); // luma, CCT, Duv
        const bool last = channel == 2;
        QString line;
        if (m_mode == ColorimeterMode)
            line = QString::asprintf("%s gains: %+12.7f Lum, %+13.5f CCT, %+14.9f Duv%s", ChannelNames[channel], column[0],
                                     column[1], column[2], last ? "" : "\n");
        else
            line = QString::asprintf("%s gains: %+12f R, %+12f G, %+12f B\n", ChannelNames[channel], column[1], column[2],
                                     column[0]);
        text += line.left(GainLineLimit);
    }
    return text;
}
