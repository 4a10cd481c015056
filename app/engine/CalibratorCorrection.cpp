#include "engine/Calibrator.h"

#include "engine/LevelTable.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// Convergence and stop rules of one level.
constexpr double StepPercentLimit = 10.0;
constexpr double MasterGainScale = 0.5;
constexpr double MasterDampedGainScale = 0.25;
constexpr double DeltaCapShare = 0.125;
constexpr int DampingIncreaseCount = 2;
constexpr int ResetIncreaseCount = 5;
constexpr uint OscillatingSignFlips = 5;
constexpr uint LoopingVisits = 4;
constexpr uint RepeatingVisits = 4;
constexpr int ConvergedIterations = 3;
constexpr int ClipStopCount = 5;
constexpr double ZeroClipDelta = 0.01;
constexpr int DeltaRetries = 3;
constexpr double WeightedErrorFloor = 0.04;
constexpr double AllowedErrorWeight = 1.5;
constexpr double WeightedErrorWidening = 1.4142136;
constexpr int WideningsPerLevel = 2;
// A level asked to finish averages within twice its bound.
constexpr double FinishingBoundFactor = 2.0;
constexpr double LoopErrorLimit = 2.0;
constexpr double LoopDeltaLimit = 1.0;
constexpr double UnsolvableAdjusterGain = -0.5;

} // namespace

// ---- Describing points ---------------------------------------------------------------------------

void Calibrator::describePoint(const QString& title, const QList<CalibrationPoint>& points)
{
    emit clearLinearityLog();
    emit appendLinearityLog(title);
    for (qsizetype index = 1; index < points.size(); ++index) {
        const CalibrationPoint& point = points.at(index);
        QString line = QStringLiteral("#%1:").arg(index, 2);
        if (point.cct != 0.0 && point.luminance != 0.0) {
            line = QStringLiteral("#%1: %2, %3, %4; %5 K, %6 Duv, %7 %8 (for %9 %10)")
                       .arg(index, 2)
                       .arg(fixed(point.red, 6), fixed(point.green, 6), fixed(point.blue, 6))
                       .arg(point.cct, 5, 'f', 0)
                       .arg(fixed(point.duv, 4))
                       .arg(point.luminance, 6, 'f', 2)
                       .arg(luminanceUnits())
                       .arg(point.luminanceTarget, 6, 'f', 2)
                       .arg(luminanceUnits());
        }
        emit appendLinearityLog(line);
    }
}

void Calibrator::logPoint(const QString& label, const LevelPoints::Point& point, uint count) const
{
    const double error = point.deltaSum() * 100.0;
    const Triple& g = point.gains;
    const Triple& d = point.deltas;
    const Triple& r = point.reading; // CCT, Duv, luminance; or red, green, blue levels
    if (task() == Calibrate)
        qDebug("%s: %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  Lum %6.2f, CCT %4.0f, duv %+8.4f, error %.2f%%",
               qUtf8Printable(label), int(count), g[0], g[1], g[2], d[0], d[1], d[2], r[Luminance], r[Cct], r[Duv], error);
    else
        qDebug("%s: %2dx %+.6f, %+.6f, %+.6f;  deltas %+.6f  %+.6f  %+.6f;  R %6.2f, G %6.2f, B %6.2f, error %.2f%%",
               qUtf8Printable(label), int(count), g[0], g[1], g[2], d[0], d[1], d[2], r[0], r[1], r[2], error);
}

void Calibrator::logRepeatedPoints(const QString& title) const
{
    qDebug("%s", qUtf8Printable(title));
    const bool correction = task() == Calibrate;
    m_points.forEachRepeated([this, correction](std::size_t index, uint count) {
        const LevelPoints::Point point = pointAt(index);
        const double error = point.deltaSum() * 100.0;
        const Triple& g = point.gains;
        const Triple& d = point.deltas;
        const Triple& r = point.reading;
        if (correction)
            qDebug("  %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  Lum %6.2f, CCT %4.0f, duv %+8.4f, error %.2f%%",
                   int(count), g[0], g[1], g[2], d[0], d[1], d[2], r[Luminance], r[Cct], r[Duv], error);
        else
            qDebug("  %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  R %6.2f, G %6.2f, B %6.2f, error %.2f%%",
                   int(count), g[0], g[1], g[2], d[0], d[1], d[2], r[0], r[1], r[2], error);
    });
}

LevelPoints::Point Calibrator::pointAt(std::size_t index) const
{
    // Only a summarising level, which never logs its points, drops readings and deltas.
    return m_points.point(index).value_or(LevelPoints::Point{m_points.at(index).gains, {}, {}});
}

// ---- Correction step ----------------------------------------------------------------------------

QString Calibrator::pointKey(const CalibrationPoint& point)
{
    return LevelPoints::gainSetText({point.red, point.green, point.blue});
}

CalibrationPoint Calibrator::makePoint(double target) const
{
    CalibrationPoint point;
    point.red = m_rgb[0];
    point.green = m_rgb[1];
    point.blue = m_rgb[2];
    point.count = 1;
    point.seconds = quint32(std::max<qint64>(m_stepSeconds, 0));
    point.iterations = m_iteration > 0 ? m_iteration - 1 : 0;
    point.cct = m_reading[Cct] + m_adjustment.cctOffset;
    point.duv = m_reading[Duv] + m_adjustment.duvOffset;
    point.luminance = m_reading[Luminance] * m_adjustment.luminanceFactor;
    point.luminanceTarget = target < 0.0 ? point.luminance : target;
    point.redDelta = m_rgbDeltas[0];
    point.greenDelta = m_rgbDeltas[1];
    point.blueDelta = m_rgbDeltas[2];
    point.redDisplayGain = m_displayGains[0];
    point.greenDisplayGain = m_displayGains[1];
    point.blueDisplayGain = m_displayGains[2];
    return point;
}

void Calibrator::stopClipping(bool atMinimum)
{
    const bool master = m_mode == ColorimeterMode;
    const QString status = master ? QStringLiteral("Correction stopped due to R,G,B values persistently at %1")
                                        .arg(atMinimum ? QStringLiteral("zero") : QStringLiteral("maximum"))
                                  : QStringLiteral("Adjustment #%1 stopped due to R,G,B values persistently at %2")
                                        .arg(m_number)
                                        .arg(atMinimum ? QStringLiteral("minimum") : QStringLiteral("maximum"));
    setStatusString(status);
    stopRun(status);
    const char* clipping =
        atMinimum ? "Zero clipping: can't set R,G,B any lower" : "Maximum value clipping: can't set R,G,B any higher";
    if (master) {
        qDebug("%s.", clipping);
        return;
    }
    qDebug("%s on LDM/macropixel %d.", clipping, int(m_number));
    // An adjuster is left on a colour that shows which end it hit.
    if (atMinimum)
        coSetRGBGains_(m_maximumLevel, m_maximumLevel, m_maximumValue);
    else
        coSetRGBGains_(m_maximumValue, m_maximumLevel, m_maximumLevel);
}

double Calibrator::widened(double bound)
{
    return bound * WeightedErrorWidening;
}

double Calibrator::finishingBound(double bound, bool finishing)
{
    return bound * (finishing ? FinishingBoundFactor : 1.0);
}

LevelPoints::Summary Calibrator::levelSummary() const
{
    // The level asks for the average within its bound, or within twice that once finishing is
    // asked for; and, at its iteration cap with too few points within it, within the bound
    // widened a few times.
    double widest = m_maximumWeightedError;
    for (int widening = 0; widening < WideningsPerLevel; ++widening)
        widest = widened(widest);
    return {{m_maximumWeightedError, finishingBound(m_maximumWeightedError, true)},
            finishingBound(widest, true),
            m_minPointsForAveraging};
}

bool Calibrator::loopSmallEnough() const
{
    // Starting from a point with deltas 0, 0 and 4 x the maximum.
    LevelPoints::Point seed;
    seed.deltas = {0.0, 0.0, 4.0 * m_maximumValue};
    double loopError = seed.deltaSum();
    double deltaError = seed.largestDelta();
    m_points.forEachRepeated([&](std::size_t index, uint) {
        loopError = std::min(loopError, m_points.at(index).deltaSum);
        deltaError = std::min(deltaError, m_points.largestDelta(index));
    });
    if (verbose())
        qDebug("Max loop error %.2f, max delta error %.2f", loopError, deltaError);
    if (loopError <= LoopErrorLimit && deltaError <= LoopDeltaLimit)
        return true;
    if (verbose()) {
        qDebug("Errors are too big (loop %.2f, delta %.2f); we'll reset gains and try again...", loopError, deltaError);
        logRepeatedPoints(QStringLiteral("Errors in repeated points:"));
    }
    return false;
}

void Calibrator::setBestGains()
{
    // Never the zero seed: the best is one of the gain sets actually measured.
    std::optional<std::size_t> best;
    uint bestCount = 0;
    m_points.forEachGainSet([&](std::size_t visited, uint count) {
        if (!best || m_points.at(visited).deltaSum < m_points.at(*best).deltaSum) {
            best = visited;
            bestCount = count;
        }
    });
    if (!best)
        return;
    if (verbose())
        logPoint(QStringLiteral("Best point found"), pointAt(*best), bestCount);
    const Triple& gains = m_points.at(*best).gains;
    coSetRGBGains_(gains[0], gains[1], gains[2]);
}

void Calibrator::stopRun(const QString& reason)
{
    // A run already stopped from outside keeps being a cancel.
    if (m_running && !reason.isEmpty() && m_stopReason.isEmpty())
        m_stopReason = reason;
    endRun();
}

void Calibrator::setPredictedLevelGains()
{
    setStatusString(QStringLiteral("Step %1 of %2: Setting basic level...").arg(m_currentStep).arg(m_steps));
    const uint levelsBelow = m_steps - m_currentStep;
    const float here = float(double(levelsBelow + 1) / m_steps);
    const float above = float(double(levelsBelow + 2) / m_steps);
    const float scale = float(std::pow(here, m_stepSpacing) / std::pow(above, m_stepSpacing));
    qDebug("scaling by %.2f to predicted level %.3f%%, %.3f%%, %.3f%%", double(scale), scale * m_rgb[0] / m_maximumValue,
           scale * m_rgb[1] / m_maximumValue, scale * m_rgb[2] / m_maximumValue);
    coSetRGBGains_(scale * m_rgb[0], scale * m_rgb[1], scale * m_rgb[2]);
}

QString Calibrator::tooDarkText()
{
    return QStringLiteral("Correction stopped; too dark to proceed.");
}

LevelPoints::Visits Calibrator::recordIteration(double luminance, const Triple& proposed)
{
    // Book-keeping of the gain set this iteration measured: how often it was met before, in the
    // level and since the last reset.
    LevelPoints::Point current = LevelPoints::pointOf(makePoint(luminance));
    current.deltas = proposed;
    const LevelPoints::Visits visits = m_points.append(current);
    if (verbose() && visits.level > 1)
        qDebug("looping: %.6f, %.6f, %.6f; %d + %d times", current.gains[0], current.gains[1], current.gains[2], 1,
               int(visits.level) - 1);
    if (verbose() && visits.window > 1)
        qDebug(" repeat: %.6f, %.6f, %.6f; %d + %d times", current.gains[0], current.gains[1], current.gains[2], 1,
               int(visits.window) - 1);
    return visits;
}

EngineTask Calibrator::coCalibrateStep(double luminance)
{
    const bool master = m_mode == ColorimeterMode;
    const double allowedError = m_errorAllowed / 100.0;
    m_maximumWeightedError = std::max(allowedError * AllowedErrorWeight, WeightedErrorFloor);
    m_targetLum = luminance;
    m_iteration = 1;
    const uint maximumIterations = master ? uint(MasterIterationCap) : m_maxIterationsAdjusters;
    const uint deltaCap = uint(m_maximumValue * DeltaCapShare);
    double percent = StepPercentLimit;
    double gainScale = master ? MasterGainScale : m_highGainLimit;
    double correctionError = m_maximumValue;
    double maxDelta = m_maximumValue;
    int increaseCount = 0;
    int convergedCount = 0;
    int zeroClipCount = 0;
    int maxClipCount = 0;
    bool looping = false;
    bool loopAccepted = false;
    QElapsedTimer stepClock;
    stepClock.start();
    m_finishRequested = false;
    m_points.clear();
    // An adjuster that does not log keeps only what its level asks for of each iteration.
    if (drivenByMaster() && !verbose())
        m_points.summarise(levelSummary());
    m_stepSeconds = 0;
    // A finished gain measurement goes; a level measures the matrix anew with a coSetGains made
    // when it needs one (creating one runs nothing of it, so only its memory would differ).
    m_gainTask = EngineTask();

    const auto finalBound = [this] { return finishingBound(m_maximumWeightedError, m_finishRequested); };
    // Forget the recent gain sets, damp harder and measure the gain matrix anew, every gain set of
    // the measurement going to the driver. Its result is that of the nested measurement.
    const auto prepareReset = [this, master](double& error, double& scale, double& stepPercent) {
        error = m_maximumValue;
        m_points.resetWindow();
        m_signFlips = {0, 0, 0};
        scale = master ? MasterDampedGainScale : m_lowGainLimit;
        stepPercent = StepPercentLimit;
    };

    if (m_colorimeterErrorType.kind != ErrorType::Success) {
        stopRun(colorimeterFailure());
        co_return false;
    }
    refreshProgress();

    // From the second level on the master starts near the gains of the level above.
    if (master && m_currentStep > 1) {
        setPredictedLevelGains();
        co_await EngineTask::Yield{};
        if (m_reading[Luminance] == 0.0) {
            stopRun(tooDarkText());
            co_return false;
        }
    }
    if (m_colorimeterErrorType.kind != ErrorType::Success) {
        stopRun(colorimeterFailure());
        co_return false;
    }
    m_signFlips = {0, 0, 0};

    enum class Next { Iterate, Converge, AveragedStop, Finish };
    Next next = Next::Iterate;
    bool done = false;
    bool stoppedTooDark = false;
    int widenings = 0;

    for (;;) {
        if (next == Next::Iterate) {
            refreshProgress();
            if (master)
                setStatusString(QStringLiteral("Step %1 of %2: luminance %3, iteration %4%5...")
                                    .arg(m_currentStep)
                                    .arg(m_steps)
                                    .arg(fixed(luminance, 2))
                                    .arg(m_iteration.load())
                                    .arg(updateStatusTimeRemaining(taskState().startTime, m_progress)));
            const double previousError = correctionError;
            const double previousMaxDelta = maxDelta;
            bool ok = getRGBDeltas_();
            for (int retry = 1; !ok && retry <= DeltaRetries; ++retry) {
                if (m_number != 0)
                    qDebug("LDM #%d getRGBDeltas failed; retry #%d", int(m_number), retry);
                else
                    qDebug("getRGBDeltas failed; retry #%d", retry);
                // A fresh matrix, measured gain set by gain set by the driver.
                EngineTask nested = coSetGains();
                co_await nested;
                ok = getRGBDeltas_();
            }
            if (!ok) {
                if (!m_running)
                    co_return false;
                if (!master) {
                    stopRun({});
                    qDebug("*** FAILED GETTING RGB DELTA VALUES FOR LDM/MACROPIXEL %d! ***", int(m_number));
                    coSetRGBGains_(UnsolvableAdjusterGain, UnsolvableAdjusterGain, UnsolvableAdjusterGain);
                    co_await EngineTask::Yield{};
                    co_return false;
                }
                setStatusString(QStringLiteral("*** FAILED GETTING RGB DELTA VALUES! ***"));
                qDebug("%s", qUtf8Printable(statusString()));
                stopRun(statusString());
                co_return false;
            }

            correctionError = std::abs(m_rgbDeltas[0]) + std::abs(m_rgbDeltas[1]) + std::abs(m_rgbDeltas[2]);
            maxDelta = std::max({std::abs(m_rgbDeltas[0]), std::abs(m_rgbDeltas[1]), std::abs(m_rgbDeltas[2])});
            const Triple proposed = m_rgbDeltas;
            limitRGBDeltas_(percent, gainScale, deltaCap);

            Triple gains{};
            bool atMinimum = false;
            bool atMaximum = false;
            for (int channel = 0; channel < 3; ++channel) {
                const double value = m_rgb[channel] + m_rgbDeltas[channel];
                gains[channel] = value < m_minimumValue ? m_minimumValue : std::min(value, m_maximumValue);
                atMinimum = atMinimum || gains[channel] == m_minimumValue;
                atMaximum = atMaximum || gains[channel] == m_maximumValue;
            }
            // Gains pinned at an end of their range in too many iterations: the targets are out of reach.
            const bool zeroStop = atMinimum && maxDelta > ZeroClipDelta && ++zeroClipCount > ClipStopCount;
            const bool maximumStop = !zeroStop && atMaximum && ++maxClipCount > ClipStopCount;
            if (zeroStop || maximumStop) {
                stopClipping(zeroStop);
                // An adjuster's colour that shows which end it hit goes to the driver first.
                if (!master)
                    co_await EngineTask::Yield{};
                co_return false;
            }

            if (correctionError > previousError || maxDelta > previousMaxDelta)
                ++increaseCount;
            else
                increaseCount = 0;
            if (verbose())
                qDebug("Correction error %.6f  max delta %.6f  increase x%d", correctionError, maxDelta, increaseCount);

            for (int channel = 0; channel < 3; ++channel) {
                if (std::signbit(m_rgbDeltas[channel]) != std::signbit(m_previousRgbDeltas[channel]))
                    ++m_signFlips[channel];
                else
                    m_signFlips[channel] = 0;
            }
            m_previousRgbDeltas = m_rgbDeltas;
            if (std::all_of(m_signFlips.cbegin(), m_signFlips.cend(), [](uint flips) { return flips > OscillatingSignFlips; })) {
                increaseCount = ResetIncreaseCount;
                if (verbose())
                    qDebug("%d: Too many delta sign flips; will recalculate gains...", int(m_number));
            }
            if (increaseCount == DampingIncreaseCount) {
                convergedCount = 0;
                if (verbose())
                    qDebug("Limiting gains due to growing errors...");
                gainScale = master ? MasterDampedGainScale : m_lowGainLimit;
                percent = StepPercentLimit;
            }

            if (increaseCount >= ResetIncreaseCount) {
                increaseCount = 0;
                convergedCount = 0;
                if (verbose())
                    qDebug("Resetting gains due to growing errors...");
                prepareReset(correctionError, gainScale, percent);
                EngineTask nested = coSetGains();
                const bool nestedOk = co_await nested;
                next = nestedOk ? Next::Converge : Next::AveragedStop;
                continue;
            }

            const LevelPoints::Visits visits = recordIteration(luminance, proposed);
            if (visits.level > LoopingVisits)
                looping = true;

            if (visits.window < RepeatingVisits) {
                if (verbose())
                    qDebug("pass %2d: %.6f  %.6f  %.6f;   deltas %+.6f  %+.6f  %+.6f", int(m_iteration), gains[0], gains[1],
                           gains[2], m_rgbDeltas[0], m_rgbDeltas[1], m_rgbDeltas[2]);
                coSetRGBGains_(gains[0], gains[1], gains[2]);
                co_await EngineTask::Yield{};
                if (master && m_reading[Luminance] == 0.0) {
                    if (m_number != 0)
                        qDebug("#%-4d too dark", int(m_number));
                    stoppedTooDark = true;
                    next = Next::AveragedStop;
                    continue;
                }
                ++m_iteration;
                next = Next::Converge;
                continue;
            }

            if (looping) {
                if (verbose())
                    qDebug("Looping; we'll test the repeated values.");
                if (loopSmallEnough()) {
                    loopAccepted = true;
                    next = Next::Converge;
                    continue;
                }
            } else if (verbose()) {
                logRepeatedPoints(QStringLiteral("Resetting gains due to repeats:"));
            }
            prepareReset(correctionError, gainScale, percent);
            EngineTask nested = coSetGains();
            const bool nestedOk = co_await nested;
            if (nestedOk) {
                next = Next::Converge;
                continue;
            }
            if (m_number != 0)
                qDebug(looping ? "#%-4d loop error-too-big setGains failed" : "#%-4d looping setGains failed", int(m_number));
            next = Next::AveragedStop;
            continue;
        }

        if (next == Next::Converge) {
            const int converged = maxDelta > allowedError ? 0 : convergedCount + 1;
            if (verbose() && allowedError > 0.0)
                qDebug("                                         max delta error %.6f; allowed %.6f, %dx of %d", maxDelta,
                       allowedError, converged, ConvergedIterations);
            done = converged >= ConvergedIterations || loopAccepted || m_finishRequested;
            const uint within = pointsWithinError(m_maximumWeightedError);
            if (within >= m_minPointsToFinish && (master || m_iteration >= m_minIterationsAdjusters)) {
                qDebug("#%-4d enough points (%d) gathered to finish of %d total", int(m_number), int(within), int(m_iteration));
                done = true;
            }
            if (m_iteration < maximumIterations || done) {
                if (m_running && !done) {
                    convergedCount = converged;
                    if (m_colorimeterErrorType.kind == ErrorType::Success) {
                        next = Next::Iterate;
                        continue;
                    }
                }
                next = Next::Finish;
                continue;
            }
            // The cap is reached without convergence: widen the bound a little, or settle for the
            // best gain set met so far.
            for (; widenings < WideningsPerLevel; ++widenings) {
                if (pointsWithinError(0) >= m_minPointsForAveraging)
                    break;
                m_maximumWeightedError = widened(m_maximumWeightedError);
            }
            if (verbose())
                qDebug("#%-4d maxError allowed %f%%, valid points %d, needed %d", int(m_number), m_maximumWeightedError,
                       int(pointsWithinError(0)), int(m_minPointsForAveraging));
            done = true;
            if (pointsWithinError(0) < m_minPointsForAveraging && !m_points.isEmpty()) {
                if (verbose())
                    qDebug("#%-4d $$$ Not enough points for averaging; just pick the best point found so far", int(m_number));
                setBestGains();
                co_await EngineTask::Yield{};
            }
            next = Next::Finish;
            continue;
        }

        if (next == Next::AveragedStop) {
            setFinalRGB(finalBound());
            co_await EngineTask::Yield{};
            stopRun(stoppedTooDark ? tooDarkText() : QStringLiteral("Correction stopped; the gains could not be measured."));
            co_return false;
        }

        // Next::Finish
        if (done) {
            if (master)
                qDebug("on exit: CCT %.0f, Duv %.4f at %.1f luminance", m_reading[Cct], m_reading[Duv], m_reading[Luminance]);
            else if (m_loggable)
                qDebug("#%-4d on exit: R %.2f, G %.2f, B %.2f", int(m_number), m_reading[0], m_reading[1], m_reading[2]);
        }
        if (qsizetype(m_points.size()) != qsizetype(m_iteration) - 1)
            qDebug("#%d: Points %lld, steps %d", int(m_number), qlonglong(m_points.size()), int(m_iteration) - 1);
        setFinalRGB(finalBound());
        co_await EngineTask::Yield{};
        m_stepSeconds = stepClock.elapsed() / 1000;
        if (master)
            formatTimeRemaining(QStringLiteral("Luminance level %1 %2 took %3 iterations over")
                                    .arg(QString::number(luminance, 'g', QLocale::FloatingPointShortest), luminanceUnits())
                                    .arg(int(m_iteration) - 1),
                                m_stepSeconds);
        else if (m_number == 1)
            formatTimeRemaining(QStringLiteral("Process #%1 took %3 iterations over").arg(m_number, -4).arg(int(m_iteration) - 1),
                                m_stepSeconds);
        co_return bool(m_running);
    }
}

// ---- Correction run -----------------------------------------------------------------------------

void Calibrator::buildGammaTable(double black)
{
    qDebug("\tstep\tpx\t  gamma \t  sRGB\t  using");
    const QList<LevelTable::Level> levels = LevelTable::build(m_steps, m_stepSpacing, m_gamma, m_useSRGB, black, m_targetLum);
    QList<float>& table = makeTaskState().gammaTable;
    table.clear();
    for (qsizetype i = 0; i < levels.size(); ++i) {
        const LevelTable::Level& level = levels.at(i);
        table.append(level.entry);
        qDebug("\t#%3d \t%.3f \t%7.3f \t%7.3f \t%7.3f", int(i), level.x, level.gammaLevel, level.srgbLevel, double(level.entry));
    }
}

void Calibrator::applyAdjustment()
{
    m_targetLum /= m_adjustment.luminanceFactor;
    m_targetCCT -= m_adjustment.cctOffset;
    m_targetDuv -= m_adjustment.duvOffset;
    qDebug("Adjusted targets Lum %.2f, CCT %.0f, duv %.4f", m_targetLum, m_targetCCT, m_targetDuv);
}

bool Calibrator::refuseCorrection(const QString& message)
{
    qDebug("%s", qUtf8Printable(message));
    setStatusString(message);
    endRun();
    emit done(m_number, false);
    return false;
}

void Calibrator::calibrateSteps(uint start)
{
    // The levels the correction measures, its result.
    QList<CalibrationPoint>& levels = makeTaskState().levelPoints;
    if (start != 0 && m_steps != m_savedSteps) {
        refuseCorrection(QString::asprintf("Can't resume correction because number of steps has changed: set to %u to resume",
                                           m_savedSteps));
        return;
    }
    if (start > m_resumeStep) {
        refuseCorrection(QStringLiteral("Warning: resuming after the the first failed step; correction will contain gaps"));
        return;
    }
    if (start > 0 && (start > m_steps || levels.size() != qsizetype(m_steps) + 1
                      || gammaTable().size() != qsizetype(m_steps) + 1)) {
        refuseCorrection(QStringLiteral("Can't resume correction: there is no stopped correction to resume"));
        return;
    }
    // Every level's target is a share of this luminance (and with assumed targets, the measured
    // brightest level is scaled by it); without one there is nothing to aim at.
    if (!(m_targetLum > 0.0)) {
        refuseCorrection(QStringLiteral("Can't start correction: the target luminance must be above 0"));
        return;
    }

    m_stepsToRun = m_steps - start;
    m_firstStep = start;
    setMaximumValue(1.0);
    m_minimumValue = 0.0;
    m_maximumLevel = 1.0;
    beginRun();
    makeTaskState().startTime = QDateTime::currentDateTime();
    makeTaskState().runClock.start();
    m_currentStep = start;
    setResumeStep(start);
    setProgress(0.0);
    m_usingCoroutines = true;
    m_colorimeterErrorType = ErrorType();
    m_sendMode = SendRGB;
    m_stopReason.clear();

    const char* targetWord = m_assumeTargets ? "Assuming" : "Target";
    if (m_useSRGB)
        qDebug("%s %.0f K, %.4f Duv, %.0f nits; sRGB; %d steps, %d readings, %d msecs delay, ±%.2f%%", targetWord, m_targetCCT,
               m_targetDuv, m_targetLum, int(m_steps), int(m_readCount), int(m_readDelay), m_errorAllowed);
    else
        qDebug("%s %.0f K, %.4f Duv, %.0f nits; gamma (HDR) %.2f; %d steps, %d readings, %d msecs delay, ±%.2f%%", targetWord,
               m_targetCCT, m_targetDuv, m_targetLum, m_gamma / 2.4, int(m_steps), int(m_readCount), int(m_readDelay),
               m_errorAllowed);

    bool ok = true;
    uint levelsLeft = m_steps - start;
    const auto afterLevel = [this, &levels](int level) {
        describePoint(QStringLiteral("After level %1 %2...").arg(double(gammaTable().value(level)), 0, 'f', 2).arg(luminanceUnits()),
                      levels);
    };

    if (start == 0) {
        m_savedSteps = m_steps;
        makeTaskState().gammaTable = QList<float>(qsizetype(m_steps) + 1, 0.0f);
        levels = QList<CalibrationPoint>(qsizetype(m_steps) + 1);
        describePoint(QStringLiteral("Starting new correction..."), levels);
        levelsLeft = m_steps - 1;
        if (!m_assumeTargets) {
            m_adjustment = Adjustment();
            // The brightest level is corrected with the display gains, which may go up to 2.
            if (m_mode == ColorimeterMode) {
                if (!setAndSendGains(m_maximumLevel, m_maximumLevel, m_maximumLevel, SendRGB))
                    stopRun(displayFailure());
                m_sendMode = SendDisplayGains;
                setMaximumValue(2.0);
            }
            std::optional<double> black = 0.0;
            if (m_running && m_ambientBlack)
                black = getAmbientBlack();
            if (black) {
                levels[0].luminance = levels[0].luminanceTarget = *black;
                buildGammaTable(*black);
                qDebug("set initial gains");
                if (m_colorimeterErrorType.kind == ErrorType::Success && m_running)
                    getMaximumLevel();
            }
            if (m_running) {
                ++m_currentStep;
                m_stepTask = coCalibrateStep(m_targetLum);
                driveTask(m_stepTask);
            }
            if (m_running) {
                m_displayGains = m_rgb;
                levels[0].redDisplayGain = m_rgb[0];
                levels[0].greenDisplayGain = m_rgb[1];
                levels[0].blueDisplayGain = m_rgb[2];
                m_rgb = {m_maximumLevel, m_maximumLevel, m_maximumLevel};
                m_previousRgb = m_rgb;
                m_previousReading = m_reading;
                levels[m_steps] = makePoint(m_targetLum);
                setResumeStep(m_currentStep);
                qDebug("target level %.3f, measured level %.3f, black level %.3f", m_targetLum, levels[m_steps].luminance,
                       black.value_or(0.0));
                afterLevel(int(m_steps));
            }
            m_sendMode = SendRGB;
            setMaximumValue(m_maximumLevel);
            ok = m_running;
        } else {
            qDebug("Initial DisplayGains %.3f, %.3f, %.3f", m_displayGains[0], m_displayGains[1], m_displayGains[2]);
            std::optional<double> black = 0.0;
            if (m_ambientBlack) {
                qDebug("get black level...");
                black = getAmbientBlack();
            }
            ok = black.has_value();
            if (ok) {
                levels[0].luminance = levels[0].luminanceTarget = *black;
                ++m_currentStep;
                qDebug("get brightest point...");
                ok = m_colorimeterErrorType.kind == ErrorType::Success;
            }
            if (ok) {
                setStatusString(QStringLiteral("Getting bright level..."));
                ok = setAndSendGains(m_maximumValue, m_maximumValue, m_maximumValue, 0);
                if (!ok)
                    stopRun(displayFailure());
            }
            if (ok) {
                waitMs(m_readDelay + timing().settleMs);
                ok = takeMultipleReadings_(int(m_readCount));
                if (!ok)
                    stopRun(colorimeterFailure());
            }
            if (ok && m_reading[Luminance] == 0.0) {
                ok = false;
                stopRun(QStringLiteral("Correction stopped; too dark to proceed."));
            }
            if (ok) {
                levels[0].redDisplayGain = m_displayGains[0];
                levels[0].greenDisplayGain = m_displayGains[1];
                levels[0].blueDisplayGain = m_displayGains[2];
                m_rgb = m_previousRgb = {m_maximumLevel, m_maximumLevel, m_maximumLevel};
                m_previousReading = m_reading;
                m_adjustment.luminanceFactor = m_targetLum / m_reading[Luminance];
                m_adjustment.cctOffset = m_targetCCT - m_reading[Cct];
                m_adjustment.duvOffset = m_targetDuv - m_reading[Duv];
                qDebug("adjustments Lum %.2f, CCT %.0f, duv %.4f", m_adjustment.luminanceFactor, m_adjustment.cctOffset,
                       m_adjustment.duvOffset);
                applyAdjustment();
                qDebug("max level %.3f, black level %.3f", m_reading[Luminance], *black);
                levels[m_steps] = makePoint(0.0);
                logPoint(QStringLiteral("Brightest point"), LevelPoints::pointOf(levels[m_steps]), levels[m_steps].count);
                buildGammaTable(*black);
                setResumeStep(m_currentStep);
                afterLevel(int(m_steps));
                qDebug("set initial gains...");
                ok = getMaximumLevel();
            }
        }
    } else {
        describePoint(QStringLiteral("Resuming correction..."), levels);
        applyAdjustment();
        const CalibrationPoint& lastGood = levels[m_steps - start + 1];
        qDebug("Setting RGB to last known good levels: %.6f, %.6f, %.6f", lastGood.red, lastGood.green, lastGood.blue);
        m_rgb = {lastGood.red, lastGood.green, lastGood.blue};
        m_gainTask = coSetGains();
        ok = driveTask(m_gainTask);
    }

    for (uint level = levelsLeft; level >= 1 && ok && m_running; --level) {
        ++m_currentStep;
        qDebug("******** LEVEL %d - LUMINANCE %.2f ********", int(level), double(gammaTable()[level]));
        m_stepTask = coCalibrateStep(gammaTable()[level]);
        ok = driveTask(m_stepTask) && m_running;
        if (m_running) {
            levels[level] = makePoint(gammaTable()[level]);
            setResumeStep(m_currentStep);
        }
        afterLevel(int(level));
    }
    finishCorrection(ok);
}

void Calibrator::finishCorrection(bool ok)
{
    describePoint(QStringLiteral("Finished Correction:"), levelPoints());
    const bool completed = ok && m_running;
    QString status;
    if (!m_stopReason.isEmpty())
        status = m_stopReason; // the engine's own reason, whatever running says now
    else if (!m_running)
        status = QStringLiteral("Correction cancelled");
    else if (!ok && m_colorimeterErrorType.kind != ErrorType::Success)
        status = colorimeterFailure();
    else if (!ok && m_mode == ColorimeterMode && m_reading[Luminance] == 0.0)
        status = QStringLiteral("Correction stopped; too dark to proceed.");
    else if (ok) {
        status = QStringLiteral("Correction completed without error");
        setResumeStep(0);
    }
    if (!status.isEmpty()) {
        setStatusString(status);
        qDebug("%s", qUtf8Printable(status));
    }
    TaskState& state = makeTaskState();
    state.elapsedSeconds = state.runClock.isValid() ? state.runClock.elapsed() / 1000 : 0;
    m_usingCoroutines = false;
    m_stepTask = EngineTask();
    m_gainTask = EngineTask();
    endRun();
    setProgress(-1.0);
    emit done(m_number, completed);
}
