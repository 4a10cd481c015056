#include "engine/Calibrator.h"

#include "engine/TimeRemaining.h"
#include "instruments/Colorimeter.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>

namespace {

// The task value shared by every calibrator.
std::atomic<qint32> sharedTask{Calibrator::Nothing};

// Setting limits.
constexpr uint MinTargetCCT = 1667;
constexpr uint MaxTargetCCT = 10000;
constexpr double MaxTargetDuv = 0.01;
constexpr uint MinReadDelay = 500;
constexpr uint MaxReadDelay = 5000;
constexpr double MinGamma = 1.0;
constexpr double MaxGamma = 3.8;

// Two doubles are equal when they differ by no more than a 1e-12 part of the smaller magnitude.
bool fuzzyEqual(double a, double b)
{
    return std::abs(a - b) * 1e12 <= std::min(std::abs(a), std::abs(b));
}

} // namespace

Calibrator::Calibrator(uint mode, uint number, QObject* parent)
    : QObject(parent)
    , m_mode(mode)
    , m_number(number)
{
    // Made now where it will be, so that no thread makes it while another reads it.
    if (mode == ColorimeterMode || number == 0)
        makeTaskState();
    // Once per process: a wall's run makes hundreds of thousands of calibrators.
    static const bool registered = [] {
        ErrorType::registerMetaType();
        qRegisterMetaType<Colorimeter*>("Colorimeter*");
        qRegisterMetaType<QList<Macropixel*>>("QList<Macropixel*>");
        qRegisterMetaType<QList<Tile*>>("QList<Tile*>");
        return true;
    }();
    Q_UNUSED(registered);
}

Calibrator::~Calibrator() = default;

const Calibrator::TaskState& Calibrator::taskState() const
{
    static const TaskState defaults;
    return m_taskState ? *m_taskState : defaults;
}

Calibrator::TaskState& Calibrator::makeTaskState()
{
    if (!m_taskState)
        m_taskState = std::make_unique<TaskState>();
    return *m_taskState;
}

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
    writeProperty(makeTaskState().colorimeterError, newError, newError, &Calibrator::colorimeterErrorChanged);
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
    writeProperty(makeTaskState().adjusters, newAdjusters, newAdjusters, &Calibrator::adjustersChanged);
}

void Calibrator::setMacropixels(const QList<Macropixel*>& newMacropixels)
{
    writeProperty(makeTaskState().macropixels, newMacropixels, newMacropixels, &Calibrator::macropixelsChanged);
}

void Calibrator::setTiles(const QList<Tile*>& newTiles)
{
    writeProperty(makeTaskState().tiles, newTiles, newTiles, &Calibrator::tilesChanged);
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
    return taskState().requestTime;
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
    if (drivenByMaster()) {
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
    case Template:
        runUniformity();
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
    // An adjuster driven by a master is only marked, as setRunning marks it.
    if (drivenByMaster()) {
        m_running = false;
        return;
    }
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

void Calibrator::readColorimeterData(Colorimeter* data)
{
    if (!m_running || !data)
        return;
    TaskState& state = makeTaskState();
    data->lock();
    m_reading = {data->cct(), data->duv(), data->luminance()};
    state.timestamp = data->timestamp();
    state.luminanceUnits = data->luminanceUnits();
    m_colorimeterErrorType = data->errorType();
    state.colorimeterError = data->error();
    data->unlock();
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
