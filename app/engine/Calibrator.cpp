#include "engine/Calibrator.h"

#include "display/DisplayBase.h"
#include "engine/LevelTable.h"
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

// One line of the gain text: at most this many characters.
constexpr qsizetype GainLineLimit = 100;

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

// ---- Gain solving -------------------------------------------------------------------------------

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

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

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
    const GainMatrix::Triple second = m_gains.column(channel);
    const GainMatrix::Triple mean{(first[0] + second[0]) * 0.5, (first[1] + second[1]) * 0.5, (first[2] + second[2]) * 0.5};
    m_gains.setColumn(channel, mean);
    if (m_mode == ColorimeterMode)
        qDebug("%s gains: %+12.7f Lum, %+13.5f CCT, %+14.9f Duv   (delta %.3f)", ChannelNames[channel], mean[0], mean[1],
               mean[2], excursion);
    else if (m_loggable)
        qDebug("%s gains: %+12f R, %+12f G,  %+12f B   (delta %.3f)", ChannelNames[channel], mean[1], mean[2], mean[0],
               excursion);
    co_return ok;
}

EngineTask Calibrator::coSetGains()
{
    if (m_mode == ColorimeterMode) {
        setStatusString(m_currentStep == 0 ? QStringLiteral("Setting initial gains...")
                                           : QStringLiteral("Step %1 of %2: setting gains%3...")
                                                 .arg(m_currentStep)
                                                 .arg(m_steps)
                                                 .arg(updateStatusTimeRemaining(m_startTime, m_progress)));
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
            co_return true;
        }

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
        if (plausible)
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
                       .arg(m_luminanceUnits)
                       .arg(point.luminanceTarget, 6, 'f', 2)
                       .arg(m_luminanceUnits);
        }
        emit appendLinearityLog(line);
    }
}

void Calibrator::logPoint(const QString& label, const CalibrationPoint& point) const
{
    const double error = point.deltaSum() * 100.0;
    if (task() == Calibrate)
        qDebug("%s: %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  Lum %6.2f, CCT %4.0f, duv %+8.4f, error %.2f%%",
               qUtf8Printable(label), int(point.count), point.red, point.green, point.blue, point.redDelta, point.greenDelta,
               point.blueDelta, point.luminance, point.cct, point.duv, error);
    else
        qDebug("%s: %2dx %+.6f, %+.6f, %+.6f;  deltas %+.6f  %+.6f  %+.6f;  R %6.2f, G %6.2f, B %6.2f, error %.2f%%",
               qUtf8Printable(label), int(point.count), point.red, point.green, point.blue, point.redDelta, point.greenDelta,
               point.blueDelta, point.cct, point.duv, point.luminance, error);
}

void Calibrator::logPoints(const QString& title, const QHash<QString, CalibrationPoint>& table) const
{
    qDebug("%s", qUtf8Printable(title));
    const bool correction = task() == Calibrate;
    for (const CalibrationPoint& point : table) {
        const double error = point.deltaSum() * 100.0;
        if (correction)
            qDebug("  %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  Lum %6.2f, CCT %4.0f, duv %+8.4f, error %.2f%%",
                   int(point.count), point.red, point.green, point.blue, point.redDelta, point.greenDelta, point.blueDelta,
                   point.luminance, point.cct, point.duv, error);
        else
            qDebug("  %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  R %6.2f, G %6.2f, B %6.2f, error %.2f%%",
                   int(point.count), point.red, point.green, point.blue, point.redDelta, point.greenDelta, point.blueDelta,
                   point.cct, point.duv, point.luminance, error);
    }
}

// ---- Correction step ----------------------------------------------------------------------------

namespace {

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
constexpr double LoopErrorLimit = 2.0;
constexpr double LoopDeltaLimit = 1.0;
constexpr double UnsolvableAdjusterGain = -0.5;
constexpr int PointKeyDecimals = 7;

} // namespace

QString Calibrator::pointKey(const CalibrationPoint& point)
{
    return QStringLiteral("%1%2%3")
        .arg(point.red, 0, 'f', PointKeyDecimals)
        .arg(point.green, 0, 'f', PointKeyDecimals)
        .arg(point.blue, 0, 'f', PointKeyDecimals);
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

void Calibrator::stopRun(const QString& reason)
{
    // A run already stopped from outside keeps being a cancel.
    if (m_running && !reason.isEmpty() && m_stopReason.isEmpty())
        m_stopReason = reason;
    m_running = false;
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
    QHash<QString, CalibrationPoint> visitedPoints;
    QHash<QString, CalibrationPoint> windowPoints;
    QHash<QString, CalibrationPoint> repeatedPoints;
    QElapsedTimer stepClock;
    stepClock.start();
    m_finishRequested = false;
    m_points.clear();
    m_stepSeconds = 0;
    m_gainTask = coSetGains();

    const QString tooDark = QStringLiteral("Correction stopped; too dark to proceed.");
    const auto finalBound = [this] { return m_maximumWeightedError * (m_finishRequested ? 2.0 : 1.0); };
    // Forget the recent gain sets, damp harder and measure the gain matrix anew, every gain set of
    // the measurement going to the driver. Its result is that of the nested measurement.
    const auto prepareReset = [&] {
        correctionError = m_maximumValue;
        windowPoints.clear();
        repeatedPoints.clear();
        m_signFlips = {0, 0, 0};
        gainScale = master ? MasterDampedGainScale : m_lowGainLimit;
        percent = StepPercentLimit;
    };

    if (m_colorimeterErrorType.kind != ErrorType::Success) {
        stopRun(colorimeterFailure());
        co_return false;
    }
    refreshProgress();

    // From the second level on the master starts from the gains of the level above, scaled by
    // the ratio of the two levels' places on the spacing curve.
    if (master && m_currentStep > 1) {
        setStatusString(QStringLiteral("Step %1 of %2: Setting basic level...").arg(m_currentStep).arg(m_steps));
        const uint levelsBelow = m_steps - m_currentStep;
        const float here = float(double(levelsBelow + 1) / m_steps);
        const float above = float(double(levelsBelow + 2) / m_steps);
        const float scale = float(std::pow(here, m_stepSpacing) / std::pow(above, m_stepSpacing));
        qDebug("scaling by %.2f to predicted level %.3f%%, %.3f%%, %.3f%%", double(scale), scale * m_rgb[0] / m_maximumValue,
               scale * m_rgb[1] / m_maximumValue, scale * m_rgb[2] / m_maximumValue);
        coSetRGBGains_(scale * m_rgb[0], scale * m_rgb[1], scale * m_rgb[2]);
        co_await EngineTask::Yield{};
        if (m_reading[Luminance] == 0.0) {
            stopRun(tooDark);
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
    QString averagedStopReason;
    int widenings = 0;

    for (;;) {
        if (next == Next::Iterate) {
            refreshProgress();
            if (master)
                setStatusString(QStringLiteral("Step %1 of %2: luminance %3, iteration %4%5...")
                                    .arg(m_currentStep)
                                    .arg(m_steps)
                                    .arg(fixed(luminance, 2))
                                    .arg(m_iteration)
                                    .arg(updateStatusTimeRemaining(m_startTime, m_progress)));
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
                m_gainTask = EngineTask();
                co_await nested;
                ok = getRGBDeltas_();
                if (ok)
                    m_gainTask = coSetGains();
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
                const QString failed = QStringLiteral("*** FAILED GETTING RGB DELTA VALUES! ***");
                setStatusString(failed);
                qDebug("%s", qUtf8Printable(failed));
                stopRun(failed);
                co_return false;
            }

            correctionError = std::abs(m_rgbDeltas[0]) + std::abs(m_rgbDeltas[1]) + std::abs(m_rgbDeltas[2]);
            maxDelta = std::max({std::abs(m_rgbDeltas[0]), std::abs(m_rgbDeltas[1]), std::abs(m_rgbDeltas[2])});
            CalibrationPoint current = makePoint(luminance);
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
                const QString status = master ? QStringLiteral("Correction stopped due to R,G,B values persistently at %1")
                                                    .arg(zeroStop ? QStringLiteral("zero") : QStringLiteral("maximum"))
                                              : QStringLiteral("Adjustment #%1 stopped due to R,G,B values persistently at %2")
                                                    .arg(m_number)
                                                    .arg(zeroStop ? QStringLiteral("minimum") : QStringLiteral("maximum"));
                setStatusString(status);
                stopRun(status);
                const char* clipping = zeroStop ? "Zero clipping: can't set R,G,B any lower" : "Maximum value clipping: can't set R,G,B any higher";
                if (master) {
                    qDebug("%s.", clipping);
                    co_return false;
                }
                qDebug("%s on LDM/macropixel %d.", clipping, int(m_number));
                // An adjuster is left on a colour that shows which end it hit.
                if (zeroStop)
                    coSetRGBGains_(m_maximumLevel, m_maximumLevel, m_maximumValue);
                else
                    coSetRGBGains_(m_maximumValue, m_maximumLevel, m_maximumLevel);
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
                prepareReset();
                EngineTask nested = std::move(m_gainTask);
                const bool nestedOk = co_await nested;
                m_gainTask = coSetGains();
                next = nestedOk ? Next::Converge : Next::AveragedStop;
                continue;
            }

            // Book-keeping of the gain set this iteration measured.
            const QString key = pointKey(current);
            if (const auto found = visitedPoints.constFind(key); found != visitedPoints.cend()) {
                if (verbose())
                    qDebug("looping: %.6f, %.6f, %.6f; %d + %d times", current.red, current.green, current.blue,
                           int(current.count), int(found->count));
                current.count += found->count;
            }
            visitedPoints.insert(key, current);
            m_points.append(current);
            if (current.count > LoopingVisits)
                looping = true;
            current.count = 1;
            if (const auto found = windowPoints.constFind(key); found != windowPoints.cend()) {
                if (verbose())
                    qDebug(" repeat: %.6f, %.6f, %.6f; %d + %d times", current.red, current.green, current.blue,
                           int(current.count), int(found->count));
                current.count += found->count;
                repeatedPoints.insert(key, current);
            }
            windowPoints.insert(key, current);

            if (current.count < RepeatingVisits) {
                if (verbose())
                    qDebug("pass %2d: %.6f  %.6f  %.6f;   deltas %+.6f  %+.6f  %+.6f", int(m_iteration), gains[0], gains[1],
                           gains[2], m_rgbDeltas[0], m_rgbDeltas[1], m_rgbDeltas[2]);
                coSetRGBGains_(gains[0], gains[1], gains[2]);
                co_await EngineTask::Yield{};
                if (master && m_reading[Luminance] == 0.0) {
                    if (m_number != 0)
                        qDebug("#%-4d too dark", int(m_number));
                    averagedStopReason = tooDark;
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
                CalibrationPoint best;
                best.redDelta = best.greenDelta = 0.0;
                best.blueDelta = 4.0 * m_maximumValue;
                CalibrationPoint steady = best;
                for (const CalibrationPoint& repeated : std::as_const(repeatedPoints)) {
                    if (repeated.deltaSum() < best.deltaSum())
                        best = repeated;
                    if (repeated.largestDelta() < steady.largestDelta())
                        steady = repeated;
                }
                const double loopError = best.deltaSum();
                const double deltaError = steady.largestDelta();
                if (verbose())
                    qDebug("Max loop error %.2f, max delta error %.2f", loopError, deltaError);
                if (loopError <= LoopErrorLimit && deltaError <= LoopDeltaLimit) {
                    loopAccepted = true;
                    next = Next::Converge;
                    continue;
                }
                if (verbose()) {
                    qDebug("Errors are too big (loop %.2f, delta %.2f); we'll reset gains and try again...", loopError, deltaError);
                    logPoints(QStringLiteral("Errors in repeated points:"), repeatedPoints);
                }
            } else if (verbose()) {
                logPoints(QStringLiteral("Resetting gains due to repeats:"), repeatedPoints);
            }
            prepareReset();
            EngineTask nested = std::move(m_gainTask);
            const bool nestedOk = co_await nested;
            m_gainTask = coSetGains();
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
                m_maximumWeightedError *= WeightedErrorWidening;
            }
            if (verbose())
                qDebug("#%-4d maxError allowed %f%%, valid points %d, needed %d", int(m_number), m_maximumWeightedError,
                       int(pointsWithinError(0)), int(m_minPointsForAveraging));
            done = true;
            if (pointsWithinError(0) < m_minPointsForAveraging && !visitedPoints.isEmpty()) {
                if (verbose())
                    qDebug("#%-4d $$$ Not enough points for averaging; just pick the best point found so far", int(m_number));
                // Never the zero seed: the best is one of the gain sets actually measured.
                const CalibrationPoint* best = nullptr;
                for (const CalibrationPoint& visited : std::as_const(visitedPoints)) {
                    if (!best || visited.deltaSum() < best->deltaSum())
                        best = &visited;
                }
                if (verbose())
                    logPoint(QStringLiteral("Best point found"), *best);
                coSetRGBGains_(best->red, best->green, best->blue);
                co_await EngineTask::Yield{};
            }
            next = Next::Finish;
            continue;
        }

        if (next == Next::AveragedStop) {
            setFinalRGB(finalBound());
            co_await EngineTask::Yield{};
            stopRun(averagedStopReason.isEmpty() ? QStringLiteral("Correction stopped; the gains could not be measured.")
                                                 : averagedStopReason);
            co_return false;
        }

        // Next::Finish
        if (done) {
            if (master)
                qDebug("on exit: CCT %.0f, Duv %.4f at %.1f luminance", m_reading[Cct], m_reading[Duv], m_reading[Luminance]);
            else if (m_loggable)
                qDebug("#%-4d on exit: R %.2f, G %.2f, B %.2f", int(m_number), m_reading[0], m_reading[1], m_reading[2]);
        }
        if (m_points.size() != qsizetype(m_iteration) - 1)
            qDebug("#%d: Points %lld, steps %d", int(m_number), qlonglong(m_points.size()), int(m_iteration) - 1);
        setFinalRGB(finalBound());
        co_await EngineTask::Yield{};
        m_stepSeconds = stepClock.elapsed() / 1000;
        if (master)
            formatTimeRemaining(QStringLiteral("Luminance level %1 %2 took %3 iterations over")
                                    .arg(QString::number(luminance, 'g', QLocale::FloatingPointShortest), m_luminanceUnits)
                                    .arg(int(m_iteration) - 1),
                                m_stepSeconds);
        else if (m_number == 1)
            formatTimeRemaining(QStringLiteral("Process #%1 took %3 iterations over").arg(m_number, -4).arg(int(m_iteration) - 1),
                                m_stepSeconds);
        co_return bool(m_running);
    }
}

// ---- Black and maximum levels -------------------------------------------------------------------

bool Calibrator::setAndSendGains(double red, double green, double blue, uint kind)
{
    coSetRGBGains_(red, green, blue, int(kind));
    return sendRGBGains_(red, green, blue, kind);
}

QString Calibrator::displayFailure() const
{
    const QString detail = m_lastDisplayResult.message.isEmpty() ? QStringLiteral("kind %1").arg(m_lastDisplayResult.kind)
                                                                 : m_lastDisplayResult.message;
    return QStringLiteral("Correction stopped with display error ") + detail;
}

QString Calibrator::colorimeterFailure() const
{
    const bool reported = m_colorimeterErrorType.kind != ErrorType::Success && !m_colorimeterError.isEmpty();
    return QStringLiteral("Correction stopped with colorimeter error ")
           + (reported ? m_colorimeterError : QStringLiteral("no new or valid data after multiple retries"));
}

std::optional<double> Calibrator::getAmbientBlack()
{
    setStatusString(QStringLiteral("Getting ambient black level..."));
    const bool sent = m_usingCoroutines ? setAndSendGains(0.0, 0.0, 0.0, 0) : setRGBGains_(0.0, 0.0, 0.0);
    if (!sent) {
        stopRun(displayFailure());
        return std::nullopt;
    }
    waitMs(m_readDelay + m_timing.settleMs);
    if (!takeMultipleReadings_(int(m_readCount))) {
        stopRun(colorimeterFailure());
        return std::nullopt;
    }
    qDebug("ambient black %.3f nits", m_reading[Luminance]);
    return m_reading[Luminance];
}

bool Calibrator::getMaximumLevel()
{
    setStatusString(QStringLiteral("Getting maximum brightness level..."));
    const double level = m_maximumLevel;
    if (!setAndSendGains(level, level, level, 0)) {
        stopRun(displayFailure());
        return false;
    }
    waitMs(m_readDelay + m_timing.settleMs);
    if (!takeMultipleReadings_(int(m_readCount))) {
        stopRun(colorimeterFailure());
        return false;
    }
    m_gainTask = coSetGains();
    return driveTask(m_gainTask);
}

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

// ---- Correction run -----------------------------------------------------------------------------

void Calibrator::buildGammaTable(double black)
{
    qDebug("\tstep\tpx\t  gamma \t  sRGB\t  using");
    const QList<LevelTable::Level> levels = LevelTable::build(m_steps, m_stepSpacing, m_gamma, m_useSRGB, black, m_targetLum);
    m_gammaTable.clear();
    for (qsizetype i = 0; i < levels.size(); ++i) {
        const LevelTable::Level& level = levels.at(i);
        m_gammaTable.append(level.entry);
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
    if (start != 0 && m_steps != m_savedSteps) {
        refuseCorrection(QString::asprintf("Can't resume correction because number of steps has changed: set to %u to resume",
                                           m_savedSteps));
        return;
    }
    if (start > m_resumeStep) {
        refuseCorrection(QStringLiteral("Warning: resuming after the the first failed step; correction will contain gaps"));
        return;
    }
    if (start > 0 && (start > m_steps || m_levelPoints.size() != qsizetype(m_steps) + 1
                      || m_gammaTable.size() != qsizetype(m_steps) + 1)) {
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
    m_startTime = QDateTime::currentDateTime();
    m_runClock.start();
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
    const auto afterLevel = [this](int level) {
        describePoint(QStringLiteral("After level %1 %2...").arg(double(m_gammaTable.value(level)), 0, 'f', 2).arg(m_luminanceUnits),
                      m_levelPoints);
    };

    if (start == 0) {
        m_savedSteps = m_steps;
        m_gammaTable = QList<float>(qsizetype(m_steps) + 1, 0.0f);
        m_levelPoints = QList<CalibrationPoint>(qsizetype(m_steps) + 1);
        describePoint(QStringLiteral("Starting new correction..."), m_levelPoints);
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
                m_levelPoints[0].luminance = m_levelPoints[0].luminanceTarget = *black;
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
                m_levelPoints[0].redDisplayGain = m_rgb[0];
                m_levelPoints[0].greenDisplayGain = m_rgb[1];
                m_levelPoints[0].blueDisplayGain = m_rgb[2];
                m_rgb = {m_maximumLevel, m_maximumLevel, m_maximumLevel};
                m_previousRgb = m_rgb;
                m_previousReading = m_reading;
                m_levelPoints[m_steps] = makePoint(m_targetLum);
                setResumeStep(m_currentStep);
                qDebug("target level %.3f, measured level %.3f, black level %.3f", m_targetLum, m_levelPoints[m_steps].luminance,
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
                m_levelPoints[0].luminance = m_levelPoints[0].luminanceTarget = *black;
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
                waitMs(m_readDelay + m_timing.settleMs);
                ok = takeMultipleReadings_(int(m_readCount));
                if (!ok)
                    stopRun(colorimeterFailure());
            }
            if (ok && m_reading[Luminance] == 0.0) {
                ok = false;
                stopRun(QStringLiteral("Correction stopped; too dark to proceed."));
            }
            if (ok) {
                m_levelPoints[0].redDisplayGain = m_displayGains[0];
                m_levelPoints[0].greenDisplayGain = m_displayGains[1];
                m_levelPoints[0].blueDisplayGain = m_displayGains[2];
                m_rgb = m_previousRgb = {m_maximumLevel, m_maximumLevel, m_maximumLevel};
                m_previousReading = m_reading;
                m_adjustment.luminanceFactor = m_targetLum / m_reading[Luminance];
                m_adjustment.cctOffset = m_targetCCT - m_reading[Cct];
                m_adjustment.duvOffset = m_targetDuv - m_reading[Duv];
                qDebug("adjustments Lum %.2f, CCT %.0f, duv %.4f", m_adjustment.luminanceFactor, m_adjustment.cctOffset,
                       m_adjustment.duvOffset);
                applyAdjustment();
                qDebug("max level %.3f, black level %.3f", m_reading[Luminance], *black);
                m_levelPoints[m_steps] = makePoint(0.0);
                logPoint(QStringLiteral("Brightest point"), m_levelPoints[m_steps]);
                buildGammaTable(*black);
                setResumeStep(m_currentStep);
                afterLevel(int(m_steps));
                qDebug("set initial gains...");
                ok = getMaximumLevel();
            }
        }
    } else {
        describePoint(QStringLiteral("Resuming correction..."), m_levelPoints);
        applyAdjustment();
        const CalibrationPoint& lastGood = m_levelPoints[m_steps - start + 1];
        qDebug("Setting RGB to last known good levels: %.6f, %.6f, %.6f", lastGood.red, lastGood.green, lastGood.blue);
        m_rgb = {lastGood.red, lastGood.green, lastGood.blue};
        m_gainTask = coSetGains();
        ok = driveTask(m_gainTask);
    }

    for (uint level = levelsLeft; level >= 1 && ok && m_running; --level) {
        ++m_currentStep;
        qDebug("******** LEVEL %d - LUMINANCE %.2f ********", int(level), double(m_gammaTable[level]));
        m_stepTask = coCalibrateStep(m_gammaTable[level]);
        ok = driveTask(m_stepTask) && m_running;
        if (m_running) {
            m_levelPoints[level] = makePoint(m_gammaTable[level]);
            setResumeStep(m_currentStep);
        }
        afterLevel(int(level));
    }
    finishCorrection(ok);
}

void Calibrator::finishCorrection(bool ok)
{
    describePoint(QStringLiteral("Finished Correction:"), m_levelPoints);
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
    m_elapsedSeconds = m_runClock.isValid() ? m_runClock.elapsed() / 1000 : 0;
    m_usingCoroutines = false;
    m_stepTask = EngineTask();
    m_gainTask = EngineTask();
    endRun();
    setProgress(-1.0);
    emit done(m_number, completed);
}
