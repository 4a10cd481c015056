#include "engine/Calibrator.h"

#include "display/DisplayBase.h"
#include "engine/ThreadWait.h"
#include "engine/TimeRemaining.h"
#include "instruments/Colorimeter.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <cstdarg>

namespace {

// The task value shared by every calibrator.
std::atomic<qint32> sharedTask{Calibrator::Nothing};

// Setting limits.
constexpr uint MinTargetCCT = 1667;
constexpr uint MaxTargetCCT = 10000;
constexpr double MaxTargetDuv = 0.01;
constexpr uint MinReadDelay = 500;
constexpr uint MaxReadDelay = 5000;
constexpr uint MaxReadCount = 100;
constexpr double MinGamma = 1.0;
constexpr double MaxGamma = 3.8;

// Retry bounds.
constexpr int GainAttempts = 20;
constexpr int ReadingTries = 10;

// A level of the master is capped at this many iterations; progress counts in them.
constexpr double MasterIterationCap = 50.0;

// Final averaging: how much of each point's delta is taken on, and the smallest weight that counts.
constexpr double FinalDeltaShare = 0.25;
constexpr double WeightFloor = 0.0001;

// The read-count test: averaging counts 1, 2, 4, ... 64, each measured this many times.
constexpr int ReadCountLoops = 50;
constexpr int LargestReadCount = 64;
// The Duv spread is given as a percentage of this.
constexpr double DuvPercentBase = 0.01;

constexpr qsizetype LineLimit = 99;

// Two doubles are equal when they differ by no more than a 1e-12 part of the smaller magnitude.
bool fuzzyEqual(double a, double b)
{
    return std::abs(a - b) * 1e12 <= std::min(std::abs(a), std::abs(b));
}

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

Calibrator::Calibrator(uint mode, uint number, QObject* parent)
    : QObject(parent)
    , m_mode(mode)
    , m_number(number)
{
    ErrorType::registerMetaType();
    qRegisterMetaType<Colorimeter*>("Colorimeter*");
    qRegisterMetaType<QList<Macropixel*>>("QList<Macropixel*>");
    qRegisterMetaType<QList<Tile*>>("QList<Tile*>");
}

Calibrator::~Calibrator() = default;

// ---- Properties ---------------------------------------------------------------------------------

void Calibrator::setTargetCCT(uint newTargetCCT)
{
    writeProperty(m_targetCCT, double(newTargetCCT), double(std::clamp(newTargetCCT, MinTargetCCT, MaxTargetCCT)),
                  &Calibrator::targetCCTChanged);
}

void Calibrator::setTargetDuv(double newTargetDuv)
{
    writeProperty(m_targetDuv, newTargetDuv, std::clamp(newTargetDuv, -MaxTargetDuv, MaxTargetDuv),
                  &Calibrator::targetDuvChanged);
}

void Calibrator::setTargetLum(double newTargetLum)
{
    writeProperty(m_targetLum, newTargetLum, newTargetLum, &Calibrator::targetLumChanged, fuzzyEqual);
}

void Calibrator::setReadDelay(uint newReadDelay)
{
    // 0 means "no delay at all"; anything else is held within the settling range.
    writeProperty(m_readDelay, newReadDelay, newReadDelay == 0 ? 0 : std::clamp(newReadDelay, MinReadDelay, MaxReadDelay),
                  &Calibrator::readDelayChanged);
}

void Calibrator::setReadCount(uint newReadCount)
{
    writeProperty(m_readCount, newReadCount, std::clamp(newReadCount, 1u, MaxReadCount), &Calibrator::readCountChanged);
}

void Calibrator::setGamma(double newGamma)
{
    writeProperty(m_gamma, newGamma, std::clamp(newGamma, MinGamma, MaxGamma), &Calibrator::gammaChanged);
}

void Calibrator::setSteps(uint newSteps)
{
    writeProperty(m_steps, newSteps, std::max(newSteps, 1u), &Calibrator::stepsChanged);
}

void Calibrator::setMaximumValue(double newMaximumValue)
{
    writeProperty(m_maximumValue, newMaximumValue, newMaximumValue, &Calibrator::maximumValueChanged);
}

void Calibrator::setStatusString(const QString& newStatusString)
{
    if (newStatusString == m_statusString)
        return;
    m_statusString = newStatusString;
    emit statusStringChanged(m_statusString);
}

void Calibrator::setAmbientBlack(bool newAmbientBlack)
{
    writeProperty(m_ambientBlack, newAmbientBlack, newAmbientBlack, &Calibrator::ambientBlackChanged);
}

void Calibrator::setStepSpacing(double newStepSpacing)
{
    writeProperty(m_stepSpacing, newStepSpacing, newStepSpacing, &Calibrator::stepSpacingChanged, fuzzyEqual);
}

void Calibrator::setColorimeterErrorType(const ErrorType& newErrorType)
{
    const auto sameState = [](const ErrorType& a, const ErrorType& b) {
        return (a.kind == ErrorType::Success) == (b.kind == ErrorType::Success);
    };
    writeProperty(m_colorimeterErrorType, newErrorType, newErrorType, &Calibrator::colorimeterErrorTypeChanged, sameState);
}

void Calibrator::setColorimeterError(const QString& newError)
{
    writeProperty(m_colorimeterError, newError, newError, &Calibrator::colorimeterErrorChanged);
}

void Calibrator::setMode(uint newMode)
{
    writeProperty(m_mode, newMode, newMode, &Calibrator::modeChanged);
}

Calibrator::TaskType Calibrator::task()
{
    return TaskType(sharedTask.load());
}

void Calibrator::setTask(TaskType newTask)
{
    if (sharedTask.exchange(newTask) == newTask)
        return;
    emit taskChanged();
}

void Calibrator::setProgress(double newProgress)
{
    m_progress = newProgress;
    emit progressChanged(m_progress);
}

void Calibrator::setResumeStep(uint newResumeStep)
{
    writeProperty(m_resumeStep, newResumeStep, newResumeStep, &Calibrator::resumeStepChanged);
}

void Calibrator::setErrorAllowed(double newErrorAllowed)
{
    writeProperty(m_errorAllowed, newErrorAllowed, newErrorAllowed, &Calibrator::errorAllowedChanged, fuzzyEqual);
}

void Calibrator::setLoggable(bool newLoggable)
{
    writeProperty(m_loggable, newLoggable, newLoggable, &Calibrator::loggableChanged);
}

void Calibrator::setHighGainLimit(double newHighGainLimit)
{
    writeProperty(m_highGainLimit, newHighGainLimit, newHighGainLimit, &Calibrator::highGainLimitChanged, fuzzyEqual);
}

void Calibrator::setLowGainLimit(double newLowGainLimit)
{
    writeProperty(m_lowGainLimit, newLowGainLimit, newLowGainLimit, &Calibrator::lowGainLimitChanged, fuzzyEqual);
}

void Calibrator::setAdjusters(const QList<Calibrator*>& newAdjusters)
{
    writeProperty(m_adjusters, newAdjusters, newAdjusters, &Calibrator::adjustersChanged);
}

void Calibrator::setMacropixels(const QList<Macropixel*>& newMacropixels)
{
    writeProperty(m_macropixels, newMacropixels, newMacropixels, &Calibrator::macropixelsChanged);
}

void Calibrator::setTiles(const QList<Tile*>& newTiles)
{
    writeProperty(m_tiles, newTiles, newTiles, &Calibrator::tilesChanged);
}

void Calibrator::setStepRGB(double red, double green, double blue)
{
    m_templateTargets = {red, green, blue};
}

void Calibrator::setBalanceRGB(double red, double green, double blue)
{
    m_displayGains = {red, green, blue};
}

QString Calibrator::requestTime() const
{
    QMutexLocker lock(&m_requestMutex);
    return m_requestTime;
}

void Calibrator::setRunPosition(uint firstStep, uint stepsToRun, uint currentStep, uint iteration)
{
    m_firstStep = firstStep;
    m_stepsToRun = stepsToRun;
    m_currentStep = currentStep;
    m_iteration = iteration;
}

// ---- Task dispatch ------------------------------------------------------------------------------

void Calibrator::setRunning(bool on)
{
    // An adjuster driven by a master is only marked; it has no task of its own.
    if (m_usingCoroutines && m_number > 0) {
        m_running = on;
        return;
    }
    QMutexLocker lock(&m_runMutex);
    if (!on)
        m_startPending = false;
    if (m_running == on)
        return;
    if (on && m_taskActive) {
        // A stop and a new start arrived while a task was waiting: the new task must not run
        // inside the old one's frame. It starts once the old one has returned.
        m_startPending = true;
        qDebug("Calibrator::setRunning: #%u start deferred until the stopped task has ended", m_number);
        return;
    }
    m_running = on;
    if (on) {
        m_finishRequested = false;
        runTask();
    }
    emit runningChanged(m_running);
    if (m_startPending && !m_taskActive) {
        m_startPending = false;
        QMetaObject::invokeMethod(this, [this] { setRunning(true); }, Qt::QueuedConnection);
    }
}

void Calibrator::runTask()
{
    m_taskActive = true;
    const TaskType selected = task();
    switch (selected) {
    case Nothing:
        break;
    case Calibrate:
        calibrateSteps(0);
        break;
    case Measure:
        takeMeasurement();
        break;
    case TestReadCounts:
        testReadCounts();
        break;
    case Resume:
        calibrateSteps(m_resumeStep);
        break;
    case Balance:
        refuseUnavailableRun("balance");
        break;
    case Template:
        refuseUnavailableRun("template");
        break;
    default:
        qDebug("Calibrator::setRunning: #%u unknown task type %d", m_number, int(selected));
        // Every started task is answered with done, so the controller never waits for nothing.
        endRun();
        emit done(m_number, false);
        break;
    }
    m_taskActive = false;
}

void Calibrator::refuseUnavailableRun(const char* runWord)
{
    const QString status = QStringLiteral("Calibrator: %1 runs are not available in this version").arg(QLatin1String(runWord));
    qDebug("%s", qUtf8Printable(status));
    setStatusString(status);
    endRun();
    emit done(m_number, false);
}

void Calibrator::beginRun()
{
    QMutexLocker lock(&m_runMutex);
    if (m_running)
        return;
    m_running = true;
    m_finishRequested = false;
    emit runningChanged(true);
}

void Calibrator::endRun()
{
    QMutexLocker lock(&m_runMutex);
    if (!m_running)
        return;
    m_running = false;
    emit runningChanged(false);
}

void Calibrator::calibrate()
{
    calibrateSteps(0);
}

void Calibrator::resume()
{
    calibrateSteps(m_resumeStep);
}

void Calibrator::calibrateSteps(uint start)
{
    Q_UNUSED(start);
    // The correction run is not part of this version of the engine; say so instead of pretending.
    const QString status = QStringLiteral("Correction runs are not available in this version");
    qDebug("Calibrator::calibrateSteps: %s", qUtf8Printable(status));
    setStatusString(status);
    endRun();
    emit done(m_number, false);
}

void Calibrator::finishBalancing()
{
    m_finishRequested = true;
}

void Calibrator::readColorimeterData(Colorimeter* data)
{
    if (!m_running || !data)
        return;
    data->lock();
    m_reading = {data->cct(), data->duv(), data->luminance()};
    m_timestamp = data->timestamp();
    m_luminanceUnits = data->luminanceUnits();
    m_colorimeterErrorType = data->errorType();
    m_colorimeterError = data->error();
    data->unlock();
    m_readingReady = true;
}

void Calibrator::macropixelsObserved(const QList<Macropixel*>& newMacropixels)
{
    if (m_mode != BalanceMode || newMacropixels.isEmpty())
        return;
    setMacropixels(newMacropixels);
    m_readingReady = true;
}

void Calibrator::tilesObserved(const QList<Tile*>& newTiles)
{
    if (m_mode != TemplateMode || newTiles.isEmpty())
        return;
    setTiles(newTiles);
    m_readingReady = true;
}

// ---- Progress and time remaining ----------------------------------------------------------------

void Calibrator::refreshProgress()
{
    // Unsigned on purpose: a current step before the first one wraps and reads as "all done".
    const quint32 levelsDone = m_currentStep - m_firstStep;
    double fraction = (double(levelsDone) - 1.0 + double(m_iteration) / MasterIterationCap) / double(m_stepsToRun);
    if (std::isnan(fraction) || fraction < 0.0)
        fraction = 0.0;
    else if (fraction > 1.0)
        fraction = 1.0;
    setProgress(fraction);
}

QString Calibrator::updateStatusTimeRemaining(const QDateTime& start, double fraction)
{
    return TimeRemaining::phrase(start.secsTo(QDateTime::currentDateTime()), fraction);
}

void Calibrator::formatTimeRemaining(const QString& prefix, qint64 seconds)
{
    if (seconds == 0)
        return;
    qDebug("%s%s.", qUtf8Printable(prefix), qUtf8Printable(TimeRemaining::duration(seconds)));
}

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
    m_lastDisplayResult = ErrorType();
    for (int attempt = 1; attempt <= GainAttempts && m_running; ++attempt) {
        DisplayBase* display = m_display;
        if (!display) {
            m_lastDisplayResult = ErrorType::failure(ErrorType::Fatal, QStringLiteral("No display to send gains to"));
            qDebug("Calibrator::%s: fatal error %s", operation, qUtf8Printable(m_lastDisplayResult.message));
            break;
        }
        m_lastDisplayResult = kind == SendDisplayGains ? display->setDisplayGainRGB(red, green, blue)
                                                       : display->setRGB(m_number, red, green, blue);
        if (m_lastDisplayResult.kind == ErrorType::Success)
            break;
        if (m_lastDisplayResult.kind == ErrorType::Fatal) {
            qDebug("Calibrator::%s: fatal error %s", operation, qUtf8Printable(m_lastDisplayResult.message));
            break;
        }
        // Recoverable, or a kind this engine does not know: either way one attempt is used up.
        if (m_running && verbose())
            qDebug("#%-4d Calibrator::%s: recoverable error %s; will retry...", int(m_number), operation,
                   qUtf8Printable(m_lastDisplayResult.message));
        if (attempt < GainAttempts)
            waitMs(m_timing.gainRetryPauseMs);
    }
    if (m_colorimeterErrorType.kind != ErrorType::Success && m_running)
        qDebug(exitFormat, int(m_number), int(m_colorimeterErrorType.kind), int(m_lastDisplayResult.kind));
    return m_lastDisplayResult.kind == ErrorType::Success;
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
    for (int attempt = 1; attempt <= ReadingTries; ++attempt) {
        if (!m_running)
            return false;
        {
            QMutexLocker lock(&m_requestMutex);
            m_requestTime = timeOfDay();
        }
        m_previousTimestamp = m_timestamp;
        m_readingReady = false;
        emit takeReading();
        const bool answered = ThreadWait::until([this] { return m_readingReady || !m_running; },
                                                QDeadlineTimer(qint64(m_timing.readingTimeoutMs)));
        if (!m_running)
            return false;
        if (!answered || !m_readingReady) {
            if (verbose())
                qDebug("takeReading_: no answer within %u ms; will retry...", m_timing.readingTimeoutMs);
            continue;
        }
        switch (m_colorimeterErrorType.kind) {
        case ErrorType::Success:
            if (m_timestamp != m_previousTimestamp)
                return true;
            waitMs(m_timing.staleReadingPauseMs);
            break;
        case ErrorType::Retryable:
            if (verbose())
                qDebug("takeReading_: recoverable error %s; will retry...", qUtf8Printable(m_colorimeterError));
            waitMs(m_timing.recoverableReadingPauseMs);
            break;
        case ErrorType::Fatal:
            if (verbose())
                qDebug("takeReading_: fatal error %s", qUtf8Printable(m_colorimeterError));
            return false;
        default:
            if (verbose())
                qDebug("takeReading_: unknown error kind %d %s; will retry...", int(m_colorimeterErrorType.kind),
                       qUtf8Printable(m_colorimeterError));
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

double Calibrator::pointWeight(const CalibrationPoint& point, double maxError)
{
    const double bound = maxError == 0.0 ? m_maximumWeightedError : maxError;
    const double weight = bound + WeightFloor - point.deltaSum();
    return weight > WeightFloor ? weight : 0.0;
}

uint Calibrator::pointsWithinError(double maxError)
{
    uint within = 0;
    for (const CalibrationPoint& point : std::as_const(m_points)) {
        if (pointWeight(point, maxError) > 0.0)
            ++within;
    }
    return within;
}

bool Calibrator::setFinalRGB(double maxError)
{
    double weightSum = 0.0;
    Triple gains{0.0, 0.0, 0.0};
    Triple readings{0.0, 0.0, 0.0};
    Triple deltas{0.0, 0.0, 0.0};
    int used = 0;
    for (const CalibrationPoint& point : std::as_const(m_points)) {
        const double weight = pointWeight(point, maxError);
        if (weight <= 0.0)
            continue;
        ++used;
        weightSum += weight;
        const Triple pointGains{point.red, point.green, point.blue};
        const Triple pointDeltas{point.redDelta, point.greenDelta, point.blueDelta};
        const Triple pointReading{point.cct, point.duv, point.luminance};
        for (int i = 0; i < 3; ++i) {
            gains[i] += weight * (pointGains[i] + pointDeltas[i] * FinalDeltaShare);
            readings[i] += weight * pointReading[i];
            deltas[i] += weight * pointDeltas[i];
        }
    }
    if (used == 0 || uint(used) < m_minPointsForAveraging) {
        if (verbose())
            qDebug("#%-4d final, %d pts, not enough points to average", int(m_number), used);
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        gains[i] = std::clamp(gains[i] / weightSum, m_minimumValue, m_maximumValue);
        readings[i] /= weightSum;
        deltas[i] /= weightSum;
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
                                            m_reading[Luminance], qUtf8Printable(m_luminanceUnits)));
        } else {
            const QString reason = m_colorimeterError.isEmpty() ? QStringLiteral("no new or valid reading") : m_colorimeterError;
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
    m_startTime = QDateTime::currentDateTime();
    m_levelPoints.clear();
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
        waitMs(m_timing.readCountPauseMs);
        const bool measured = takeMultipleReadings_(count);
        readingsDone += count;
        setProgress(double(readingsDone) / TotalReadings);
        setStatusString(QStringLiteral("Read count in progress%1...").arg(updateStatusTimeRemaining(m_startTime, m_progress)));
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
