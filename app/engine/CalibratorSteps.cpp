#include "engine/Calibrator.h"

#include "display/DisplayBase.h"
#include "engine/ThreadWait.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <algorithm>
#include <cstdarg>
#include <optional>

namespace {

// Retry bounds.
constexpr int GainAttempts = 20;
constexpr int ReadingTries = 10;

// The read-count test: averaging counts 1, 2, 4, ... 64, each measured this many times.
constexpr int ReadCountLoops = 50;
constexpr int LargestReadCount = 64;
// The Duv spread is given as a percentage of this.
constexpr double DuvPercentBase = 0.01;

constexpr qsizetype LineLimit = 99;

QString timeOfDay()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

// printf-style formatting into a text of at most LineLimit characters.
QString boundedLine(const char* format, ...) Q_ATTRIBUTE_FORMAT_PRINTF(1, 2);
QString boundedLine(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const QString text = QString::vasprintf(format, arguments);
    va_end(arguments);
    return text.left(LineLimit);
}

} // namespace

// ---- Blocking steps -----------------------------------------------------------------------------

void Calibrator::waitMs(uint msecs)
{
    ThreadWait::until([this] { return !m_running; }, QDeadlineTimer(qint64(msecs), Qt::PreciseTimer));
}

bool Calibrator::setRGBGains_(double red, double green, double blue, int kind)
{
    m_previousRgb = m_rgb;
    m_previousReading = m_reading;
    if (m_usingCoroutines) {
        qDebug("***** ERROR: setRGBGains_ called while using coroutines. *****");
        return false;
    }
    const bool sent = sendGains("setRGBGains_", "****#%-4d exiting setRGBGains_ with error types %d, (colorimeter), %d (ouyput)****",
                                red, green, blue, kind);
    m_rgb = {red, green, blue};
    return sent;
}

bool Calibrator::sendGains(const char* operation, const char* exitFormat, double red, double green, double blue, int kind)
{
    if (kind == 0)
        kind = m_sendMode;
    ErrorType& result = makeTaskState().lastDisplayResult;
    result = ErrorType();
    for (int attempt = 1; attempt <= GainAttempts && m_running; ++attempt) {
        DisplayBase* display = m_display;
        if (!display) {
            result = ErrorType::failure(ErrorType::Fatal, QStringLiteral("No display to send gains to"));
            qDebug("Calibrator::%s: fatal error %s", operation, qUtf8Printable(result.message));
            break;
        }
        result = kind == SendDisplayGains ? display->setDisplayGainRGB(red, green, blue)
                                          : display->setRGB(m_number, red, green, blue);
        if (result.kind == ErrorType::Success)
            break;
        if (result.kind == ErrorType::Fatal) {
            qDebug("Calibrator::%s: fatal error %s", operation, qUtf8Printable(result.message));
            break;
        }
        // Recoverable, or a kind this engine does not know: either way one attempt is used up.
        if (m_running && verbose())
            qDebug("#%-4d Calibrator::%s: recoverable error %s; will retry...", int(m_number), operation,
                   qUtf8Printable(result.message));
        if (attempt < GainAttempts)
            waitMs(timing().gainRetryPauseMs);
    }
    if (m_colorimeterErrorType.kind != ErrorType::Success && m_running)
        qDebug(exitFormat, int(m_number), int(m_colorimeterErrorType.kind), int(result.kind));
    return result.kind == ErrorType::Success;
}

bool Calibrator::readingGuard(const char* operation) const
{
    if (m_mode == ColorimeterMode)
        return true;
    if (m_usingCoroutines) {
        qDebug("***** ERROR: %s called while balancing using coroutines. *****", operation);
        return false;
    }
    // A balancer's readings come from the camera, never from here.
    return m_mode != BalanceMode;
}

bool Calibrator::takeReadings_()
{
    if (!readingGuard("takeReadings_"))
        return false;
    TaskState& state = makeTaskState();
    for (int attempt = 1; attempt <= ReadingTries; ++attempt) {
        if (!m_running)
            return false;
        {
            QMutexLocker lock(&m_requestMutex);
            state.requestTime = timeOfDay();
        }
        state.previousTimestamp = state.timestamp;
        m_readingReady = false;
        emit takeReading();
        // The instrument's own time-out answers first, as a reading with an error.
        const qint64 readingWaitMs = qint64(timing().readingTimeoutMs) + taskState().colorimeterTimeout.count();
        const bool answered = ThreadWait::until([this] { return m_readingReady || !m_running; },
                                                QDeadlineTimer(readingWaitMs, Qt::PreciseTimer));
        if (!m_running)
            return false;
        if (!answered || !m_readingReady) {
            if (verbose())
                qDebug("takeReading_: no answer within %lld ms; will retry...", readingWaitMs);
            continue;
        }
        switch (m_colorimeterErrorType.kind) {
        case ErrorType::Success:
            if (timestamp() != taskState().previousTimestamp)
                return true;
            waitMs(timing().staleReadingPauseMs);
            break;
        case ErrorType::Retryable:
            if (verbose())
                qDebug("takeReading_: recoverable error %s; will retry...", qUtf8Printable(colorimeterError()));
            waitMs(timing().recoverableReadingPauseMs);
            break;
        case ErrorType::Fatal:
            if (verbose())
                qDebug("takeReading_: fatal error %s", qUtf8Printable(colorimeterError()));
            return false;
        default:
            if (verbose())
                qDebug("takeReading_: unknown error kind %d %s; will retry...", int(m_colorimeterErrorType.kind),
                       qUtf8Printable(colorimeterError()));
            break;
        }
    }
    if (m_running)
        qDebug("takeReading_: no new or valid data after multiple retries.");
    return false;
}

bool Calibrator::takeMultipleReadings_(int count)
{
    if (!readingGuard("takeMultipleReadings_"))
        return false;
    const int wanted = std::clamp(count, 1, int(MaxReadCount));
    const Triple before = m_reading;
    Triple sums{0.0, 0.0, 0.0};
    int taken = 0;
    while (taken < wanted && m_running) {
        if (!takeReadings_()) {
            if (!m_running)
                break; // a stop: what was taken so far still makes an average
            m_reading = before;
            return false;
        }
        for (int i = 0; i < 3; ++i)
            sums[i] += m_reading[i];
        ++taken;
    }
    if (taken == 0) {
        m_reading = before;
        return false;
    }
    for (int i = 0; i < 3; ++i)
        m_reading[i] = sums[i] / taken;
    return true;
}

bool Calibrator::coSetRGBGains_(double red, double green, double blue, int kind)
{
    Q_UNUSED(kind); // the driver sends with sendMode
    m_previousRgb = m_rgb;
    m_previousReading = m_reading;
    if (!m_usingCoroutines) {
        qDebug("***** ERROR: coSetRGBGains_ called while NOT using coroutines. *****");
        return false;
    }
    const auto outside = [this](double value) { return value < m_minimumValue || value > m_maximumValue; };
    if (outside(red) || outside(green) || outside(blue))
        qDebug("*** coSetRGBGains_ #%d range error: %.6f, %.6f, %.6f! ***", int(m_number), red, green, blue);
    m_rgb = {red, green, blue};
    m_rgbPending = true;
    return true;
}

double Calibrator::weightOf(double deltaSum, double maxError) const
{
    return LevelPoints::weight(deltaSum, maxError == 0.0 ? m_maximumWeightedError : maxError);
}

double Calibrator::pointWeight(const CalibrationPoint& point, double maxError)
{
    return weightOf(LevelPoints::pointOf(point).deltaSum(), maxError);
}

uint Calibrator::pointsWithinError(double maxError)
{
    const double bound = maxError == 0.0 ? m_maximumWeightedError : maxError;
    return uint(m_points.countWithin(bound, [this](double deltaSum, double b) { return weightOf(deltaSum, b) > 0.0; }));
}

void Calibrator::setPoints(const QList<CalibrationPoint>& points)
{
    m_points.clear();
    for (const CalibrationPoint& point : points)
        m_points.append(LevelPoints::pointOf(point));
}

bool Calibrator::setFinalRGB(double maxError)
{
    const double bound = maxError == 0.0 ? m_maximumWeightedError : maxError;
    const std::optional<LevelPoints::Average> average = m_points.average(bound);
    if (!average) {
        // A summarising level keeps the averages of the bounds it asks for only.
        qDebug("#%-4d final: no average kept within %f", int(m_number), bound);
        return false;
    }
    const auto used = int(average->used);
    if (used == 0 || uint(used) < m_minPointsForAveraging) {
        if (verbose())
            qDebug("#%-4d final, %d pts, not enough points to average", int(m_number), used);
        return false;
    }
    Triple gains{};
    Triple readings{};
    Triple deltas{};
    for (int i = 0; i < 3; ++i) {
        gains[i] = std::clamp(average->gains[i] / average->weightSum, m_minimumValue, m_maximumValue);
        readings[i] = average->readings[i] / average->weightSum;
        deltas[i] = average->deltas[i] / average->weightSum;
    }
    if (m_usingCoroutines)
        coSetRGBGains_(gains[0], gains[1], gains[2]);
    else
        setRGBGains_(gains[0], gains[1], gains[2]);
    m_rgbDeltas = deltas;
    m_reading = readings;
    if (verbose())
        qDebug("#%-4d final after %d iterations, %d pts, %.6f, %.6f, %.6f", int(m_number), int(m_iteration), used,
               gains[0], gains[1], gains[2]);
    return true;
}

// ---- Measurement and read-count tasks -----------------------------------------------------------

void Calibrator::appendLinearityLine(const QString& line)
{
    qDebug("%s", qUtf8Printable(line));
    emit appendLinearityLog(line);
}

void Calibrator::takeMeasurement()
{
    if (task() != Measure)
        return;
    setStatusString(QStringLiteral("Taking measurement..."));
    const bool measured = takeMultipleReadings_(int(m_readCount));
    if (m_running) {
        if (measured) {
            appendLinearityLine(boundedLine("CCT %4.0f, duv %+8.4f, luminance %6.2f %s", m_reading[Cct], m_reading[Duv],
                                            m_reading[Luminance], qUtf8Printable(luminanceUnits())));
        } else {
            const QString reason = colorimeterError().isEmpty() ? QStringLiteral("no new or valid reading") : colorimeterError();
            appendLinearityLine(boundedLine("Measurement failed: %s", qUtf8Printable(reason)));
        }
    }
    const bool completed = measured && m_running;
    setStatusString(QString());
    endRun();
    emit done(m_number, completed);
}

void Calibrator::testReadCounts()
{
    if (task() != TestReadCounts)
        return;
    setResumeStep(0);
    beginRun();
    makeTaskState().startTime = QDateTime::currentDateTime();
    makeTaskState().levelPoints.clear();
    m_colorimeterErrorType = ErrorType();
    emit clearLinearityLog();
    setStatusString(QStringLiteral("Running Read Count test..."));
    setProgress(0.0);

    const uint savedReadCount = m_readCount;
    int readingsDone = 0;
    for (int count = 1; count <= LargestReadCount && m_running; count *= 2)
        runReadCountGroup(count, readingsDone);
    // The test borrows readCount for its own counts; the operator's setting stands again afterwards.
    m_readCount = savedReadCount;

    setStatusString(m_running ? QStringLiteral("Read Count test completed.") : QStringLiteral("Read Count test cancelled."));
    const bool completed = m_running;
    setProgress(-1.0);
    endRun();
    emit done(m_number, completed);
}

void Calibrator::runReadCountGroup(int count, int& readingsDone)
{
    // 50 x (1 + 2 + 4 + ... + 64) readings in all.
    constexpr int TotalReadings = ReadCountLoops * (2 * LargestReadCount - 1);
    m_readCount = uint(count);
    Triple minimum{100000.0, 1.0, 100000.0};
    Triple maximum{0.0, -1.0, 0.0};
    int valid = 0;
    for (int loop = 1; loop <= ReadCountLoops && m_running; ++loop) {
        waitMs(timing().readCountPauseMs);
        const bool measured = takeMultipleReadings_(count);
        readingsDone += count;
        setProgress(double(readingsDone) / TotalReadings);
        setStatusString(QStringLiteral("Read count in progress%1...").arg(updateStatusTimeRemaining(taskState().startTime, m_progress)));
        if (!measured) {
            qDebug("readCount %2d, loop %2d:   no valid reading", count, loop);
            continue;
        }
        qDebug("readCount %2d, loop %2d:   CCT %4.0f,    duv %+8.4f,    lum %6.2f", count, loop, m_reading[Cct],
               m_reading[Duv], m_reading[Luminance]);
        ++valid;
        for (int i = 0; i < 3; ++i) {
            minimum[i] = std::min(minimum[i], m_reading[i]);
            maximum[i] = std::max(maximum[i], m_reading[i]);
        }
    }
    if (!m_running)
        return;
    if (valid == 0) {
        emit appendLinearityLog(boundedLine("readCount %2d:  no valid readings", count));
        return;
    }
    // A spread as a percentage of the mean; a mean of 0 has no spread worth a percentage.
    const auto percentOfMean = [](double spread, double low, double high) {
        const double mean = (high + low) / 2.0;
        return mean == 0.0 ? 0.0 : spread * 100.0 / mean;
    };
    const double cctError = maximum[Cct] - minimum[Cct];
    const double duvError = maximum[Duv] - minimum[Duv];
    const double lumError = maximum[Luminance] - minimum[Luminance];
    emit appendLinearityLog(boundedLine(
        "readCount %2d:  CCT err %6.2f, %5.2f%%;  duv err %8.6f, %5.2f%%;  lum err %6.2f, %5.2f%%", count, cctError,
        percentOfMean(cctError, minimum[Cct], maximum[Cct]), duvError, duvError * 100.0 / DuvPercentBase, lumError,
        percentOfMean(lumError, minimum[Luminance], maximum[Luminance])));
}

// ---- Driving an engine task ---------------------------------------------------------------------

bool Calibrator::driveTask(EngineTask& task)
{
    bool measured = true;
    while (m_running && !task.done()) {
        task.resume();
        if (task.done() || !m_running)
            break;
        if (!sendRGBGains_(m_rgb[0], m_rgb[1], m_rgb[2])) {
            if (m_running)
                stopRun(displayFailure());
            measured = false;
            break;
        }
        waitMs(m_readDelay);
        if (!takeMultipleReadings_(int(m_readCount))) {
            if (m_running)
                stopRun(colorimeterFailure());
            measured = false;
            break;
        }
    }
    task = EngineTask();
    return measured;
}
