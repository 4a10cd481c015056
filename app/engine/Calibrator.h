#pragma once

#include "common/ErrorType.h"
#include "display/Macropixel.h"
#include "display/Tile.h"
#include "engine/CalibrationPoint.h"
#include "engine/EngineTask.h"
#include "engine/GainMatrix.h"
#include "engine/LevelPoints.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Colorimeter;
class DisplayBase;

// The calibration engine: turns the operator's targets (colour temperature, Duv, luminance, gamma
// or sRGB) into RGB gains by lighting the wall, waiting, measuring and adjusting.
//
// The master calibrator (number 0) lives on a worker thread of the controller. The controller
// selects the work through the shared task value and starts it by a queued setRunning(true); the
// task then runs synchronously inside that call, on the calibrator's thread, and ends with done().
// While it waits, the task keeps the thread's events flowing, so that queued readings
// (readColorimeterData) and a queued setRunning(false) reach it in the middle of the task; clearing
// running makes every wait and loop return at its next check.
//
// Threads: everything but the property setters the controller calls before a run happens on the
// calibrator's thread. running, the shared task and the display pointer may be read or written
// from any thread; requestTime is guarded by its own mutex.
class Calibrator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(uint targetCCT READ targetCCT WRITE setTargetCCT NOTIFY targetCCTChanged)
    Q_PROPERTY(double targetDuv READ targetDuv WRITE setTargetDuv NOTIFY targetDuvChanged)
    Q_PROPERTY(double targetLum READ targetLum WRITE setTargetLum NOTIFY targetLumChanged)
    Q_PROPERTY(uint readDelay READ readDelay WRITE setReadDelay NOTIFY readDelayChanged)
    Q_PROPERTY(double maximumValue READ maximumValue WRITE setMaximumValue NOTIFY maximumValueChanged)
    Q_PROPERTY(QString statusString READ statusString WRITE setStatusString NOTIFY statusStringChanged)
    Q_PROPERTY(bool ambientBlack READ ambientBlack WRITE setAmbientBlack NOTIFY ambientBlackChanged)
    Q_PROPERTY(double stepSpacing READ stepSpacing WRITE setStepSpacing NOTIFY stepSpacingChanged)
    Q_PROPERTY(ErrorType colorimeterErrorType READ colorimeterErrorType WRITE setColorimeterErrorType NOTIFY
                   colorimeterErrorTypeChanged)
    Q_PROPERTY(QString colorimeterError READ colorimeterError WRITE setColorimeterError NOTIFY colorimeterErrorChanged)
    Q_PROPERTY(uint mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(TaskType task READ task WRITE setTask NOTIFY taskChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(uint resumeStep READ resumeStep WRITE setResumeStep NOTIFY resumeStepChanged)
    Q_PROPERTY(double errorAllowed READ errorAllowed WRITE setErrorAllowed NOTIFY errorAllowedChanged)
    Q_PROPERTY(double maximumWeightedError READ maximumWeightedError NOTIFY maximumWeightedErrorChanged)
    Q_PROPERTY(bool loggable READ loggable WRITE setLoggable NOTIFY loggableChanged)
    Q_PROPERTY(double highGainLimit READ highGainLimit WRITE setHighGainLimit NOTIFY highGainLimitChanged)
    Q_PROPERTY(double lowGainLimit READ lowGainLimit WRITE setLowGainLimit NOTIFY lowGainLimitChanged)
    Q_PROPERTY(QList<Calibrator*> adjusters READ adjusters WRITE setAdjusters NOTIFY adjustersChanged)
    Q_PROPERTY(QList<Macropixel*> macropixels READ macropixels WRITE setMacropixels NOTIFY macropixelsChanged)
    Q_PROPERTY(QList<Tile*> tiles READ tiles WRITE setTiles NOTIFY tilesChanged)

public:
    // The work that setRunning(true) starts; one value shared by every calibrator.
    enum TaskType : qint32 {
        Nothing = 0,
        Calibrate = 1,      // a new correction
        Measure = 2,        // one averaged reading
        TestReadCounts = 3, // how many readings to average
        Resume = 4,         // a correction from resumeStep
        Balance = 5,
        Template = 6,
    };
    Q_ENUM(TaskType)

    // What a calibrator measures: the whole display through a colorimeter, or (adjusters) one LDM
    // or tile observed by the camera while balancing or templating.
    static constexpr uint ColorimeterMode = 0;
    static constexpr uint BalanceMode = 1;
    static constexpr uint TemplateMode = 2;

    // How gains reach the display: per-number RGB (setRGB) or display-wide gains.
    static constexpr int SendRGB = 1;
    static constexpr int SendDisplayGains = 2;

    // Three values: red, green, blue gains, or the measured triple (CCT, Duv, luminance in the
    // colorimeter mode; observed red, green, blue levels in the camera modes).
    using Triple = std::array<double, 3>;
    static constexpr int Cct = 0;
    static constexpr int Duv = 1;
    static constexpr int Luminance = 2;

    // The engine's fixed pauses. Only tests and benchmarks change them, to run without the
    // settling times a real wall and instrument need.
    struct Timing
    {
        // Settling before the black and the maximum level are read, on top of the read delay.
        uint settleMs = 3000;
        // Between two reading groups of the read-count test.
        uint readCountPauseMs = 100;
        // Longest wait for one answer of the colorimeter; a silent try counts as a failed try.
        uint readingTimeoutMs = 5000;
        // After a recoverable colorimeter error, and after an answer without a new time stamp.
        uint recoverableReadingPauseMs = 2000;
        uint staleReadingPauseMs = 100;
        // Between attempts to send gains that the display refused with a recoverable error.
        uint gainRetryPauseMs = 100;
        // Between attempts to send LDM gains that the display refused with a recoverable error.
        uint ldmRetryPauseMs = 5000;
        // Longest wait for the observed values of one photograph of a balance or template run.
        // The grabber's worst case (five tries of three capture attempts of 10 s, with their
        // pauses and blanking delays) stays well inside it; past it the run fails.
        uint observationTimeoutMs = 300000;
    };

    Calibrator(uint mode, uint number, QObject* parent = nullptr);
    ~Calibrator() override;

    // ---- Properties and settings ----
    bool running() const { return m_running; }
    uint targetCCT() const { return uint(m_targetCCT); }
    void setTargetCCT(uint newTargetCCT);
    double targetDuv() const { return m_targetDuv; }
    void setTargetDuv(double newTargetDuv);
    double targetLum() const { return m_targetLum; }
    void setTargetLum(double newTargetLum);
    uint readDelay() const { return m_readDelay; }
    void setReadDelay(uint newReadDelay);
    uint readCount() const { return m_readCount; }
    void setReadCount(uint newReadCount);
    double gamma() const { return m_gamma; }
    void setGamma(double newGamma);
    uint steps() const { return m_steps; }
    // 0 steps would leave nothing to divide the levels by: it is stored as 1.
    void setSteps(uint newSteps);
    double maximumValue() const { return m_maximumValue; }
    void setMaximumValue(double newMaximumValue);
    const QString& statusString() const { return m_statusString; }
    void setStatusString(const QString& newStatusString);
    bool ambientBlack() const { return m_ambientBlack; }
    void setAmbientBlack(bool newAmbientBlack);
    double stepSpacing() const { return m_stepSpacing; }
    void setStepSpacing(double newStepSpacing);
    ErrorType colorimeterErrorType() const { return m_colorimeterErrorType; }
    // Stored and signalled only when the error state passes between set and clear.
    void setColorimeterErrorType(const ErrorType& newErrorType);
    const QString& colorimeterError() const { return taskState().colorimeterError; }
    void setColorimeterError(const QString& newError);
    uint mode() const { return m_mode; }
    void setMode(uint newMode);
    static TaskType task();
    void setTask(TaskType newTask);
    double progress() const { return m_progress; }
    // Always stored and signalled.
    void setProgress(double newProgress);
    uint resumeStep() const { return m_resumeStep; }
    void setResumeStep(uint newResumeStep);
    double errorAllowed() const { return m_errorAllowed; }
    void setErrorAllowed(double newErrorAllowed);
    double maximumWeightedError() const { return m_maximumWeightedError; }
    bool loggable() const { return m_loggable; }
    void setLoggable(bool newLoggable);
    double highGainLimit() const { return m_highGainLimit; }
    void setHighGainLimit(double newHighGainLimit);
    double lowGainLimit() const { return m_lowGainLimit; }
    void setLowGainLimit(double newLowGainLimit);
    const QList<Calibrator*>& adjusters() const { return taskState().adjusters; }
    void setAdjusters(const QList<Calibrator*>& newAdjusters);
    const QList<Macropixel*>& macropixels() const { return taskState().macropixels; }
    void setMacropixels(const QList<Macropixel*>& newMacropixels);
    const QList<Tile*>& tiles() const { return taskState().tiles; }
    void setTiles(const QList<Tile*>& newTiles);
    // An adjuster's per-level limits: points within error that finish it, and its fewest and
    // most iterations.
    uint minPointsToFinish() const { return m_minPointsToFinish; }
    void setMinPointsToFinish(uint points) { m_minPointsToFinish = points; }
    uint minIterationsAdjusters() const { return m_minIterationsAdjusters; }
    void setMinIterationsAdjusters(uint iterations) { m_minIterationsAdjusters = iterations; }
    uint maxIterationsAdjusters() const { return m_maxIterationsAdjusters; }
    void setMaxIterationsAdjusters(uint iterations) { m_maxIterationsAdjusters = iterations; }
    // The targets every adjuster of a balance or template run is given.
    void setStepRGB(double red, double green, double blue);
    // The display gains in force when a correction starts.
    void setBalanceRGB(double red, double green, double blue);

    // Written by the controller before a run.
    bool useSRGB() const { return m_useSRGB; }
    void setUseSRGB(bool on) { m_useSRGB = on; }
    bool assumeTargets() const { return m_assumeTargets; }
    void setAssumeTargets(bool on) { m_assumeTargets = on; }
    bool simulatedDisplay() const { return m_simulatedDisplay; }
    void setSimulatedDisplay(bool on) { m_simulatedDisplay = on; }
    // The display to light; may be changed from the controller's thread at any time.
    DisplayBase* display() const { return m_display; }
    void setDisplay(DisplayBase* newDisplay) { m_display = newDisplay; }

    const Timing& timing() const { return taskState().timing; }
    void setTiming(const Timing& timing) { makeTaskState().timing = timing; }
    // The colorimeter's own longest time for one reading; the wait for a reading covers it, so
    // that a slow measurement is never abandoned while the instrument still measures.
    void setColorimeterTimeout(std::chrono::milliseconds timeout) { makeTaskState().colorimeterTimeout = timeout; }

    // ---- State the controller and the tests read after a task ----
    uint number() const { return m_number; }
    // Safe from any thread: the controller reads an adjuster's count for its progress line
    // while the master's thread advances it.
    uint iteration() const { return m_iteration; }
    const QList<CalibrationPoint>& levelPoints() const { return taskState().levelPoints; }
    qint64 elapsedSeconds() const { return taskState().elapsedSeconds; }
    // The iterations of the current level, as the correction step keeps them.
    const LevelPoints& points() const { return m_points; }
    // Replaces the iterations of the current level (the correction step fills them as it goes).
    void setPoints(const QList<CalibrationPoint>& points);
    const Triple& reading() const { return m_reading; }
    // For a driver that measures by other means (observed LDM values of a camera run).
    void setReading(const Triple& reading) { m_reading = reading; }
    const QString& timestamp() const { return taskState().timestamp; }
    const QString& luminanceUnits() const { return taskState().luminanceUnits; }
    QString requestTime() const;
    const Triple& rgb() const { return m_rgb; }
    // The gains in force, as a driver or a resumed run knows them.
    void setRgb(const Triple& gains) { m_rgb = gains; }
    const Triple& rgbDeltas() const { return m_rgbDeltas; }
    void setRgbDeltas(const Triple& deltas) { m_rgbDeltas = deltas; }
    const Triple& displayGains() const { return m_displayGains; }
    const Triple& templateTargets() const { return m_templateTargets; }
    int sendMode() const { return m_sendMode; }
    void setSendMode(int newSendMode) { m_sendMode = newSendMode; }
    bool usingCoroutines() const { return m_usingCoroutines; }
    void setUsingCoroutines(bool on) { m_usingCoroutines = on; }
    double minimumValue() const { return m_minimumValue; }
    void setMinimumValue(double value) { m_minimumValue = value; }
    uint minPointsForAveraging() const { return m_minPointsForAveraging; }
    bool finishRequested() const { return m_finishRequested; }
    uint currentStep() const { return m_currentStep; }
    void setCurrentStep(uint step) { m_currentStep = step; }
    uint firstStep() const { return m_firstStep; }
    uint stepsToRun() const { return m_stepsToRun; }
    // The position of the run that refreshProgress turns into a fraction.
    void setRunPosition(uint firstStep, uint stepsToRun, uint currentStep, uint iteration);

    // ---- Progress and time remaining ----
    // progress = (levels done in this run - 1 + iteration / 50) / levels to run, within 0 .. 1.
    void refreshProgress();
    // The estimate that status lines end with, for a run started at start with fraction done.
    static QString updateStatusTimeRemaining(const QDateTime& start, double fraction);
    // Logs prefix followed by the duration (" 1 minute 5 seconds") and a full stop; nothing for 0.
    static void formatTimeRemaining(const QString& prefix, qint64 seconds);

    // ---- Blocking steps: each ends promptly when running clears ----
    // Waits msecs milliseconds (monotonic) while the thread's events keep flowing.
    void waitMs(uint msecs);
    // Sends gains to the display with retries: kind 0 means sendMode, 2 display gains, any other
    // value per-number RGB. True when the display accepted them (or nothing was sent because the
    // calibrator had already stopped).
    bool setRGBGains_(double red, double green, double blue, int kind = 0);
    // One new, error-free reading into reading(); each try waits a bounded time for the answer.
    bool takeReadings_();
    // The average of count readings (1 to 100). Stopped part-way, the average of those taken;
    // on failure reading() keeps what it held before.
    bool takeMultipleReadings_(int count);
    // Stores gains for the driver of a coroutine run and marks them pending (the kind is not
    // used: the driver sends with sendMode).
    bool coSetRGBGains_(double red, double green, double blue, int kind = 0);
    // sendRGBGains_ is the coroutine runs' sender: the same retries as setRGBGains_, without
    // touching rgb.
    bool sendRGBGains_(double red, double green, double blue, uint kind = 0);

    // ---- Gain solving ----
    // Measures the gain matrix at the current gains: up to three attempts of two opposite
    // excursions per channel, with plausibility checks (colorimeter mode) or repairs (camera modes).
    EngineTask coSetGains();
    EngineTask coMeasureChannelGains_(int channel);
    EngineTask coChangeColor_(int channel, double delta);
    // The steps of a gain measurement that never wait, kept out of its coroutines so that every
    // adjuster's frames stay small: a camera mode's repair of the colour diagonal; the colorimeter
    // mode's plausibility checks (false, each failure logged, when one fails); the mean of a
    // channel's two opposite excursions.
    void repairDiagonal();
    bool gainsPlausible(int attempt) const;
    void averageColumn(int channel, const GainMatrix::Triple& first, double excursion);
    // Solves rgbDeltas that bring reading onto the targets; false when the matrix is singular or
    // the result is not a number.
    bool getRGBDeltas_();
    // Scales rgbDeltas down: to percent of maximumValue, by gainScale, and to maxDelta (each 0
    // switches its limit off). True when a limit applied.
    bool limitRGBDeltas_(double percent, double gainScale, uint maxDelta);
    QString gainsText() const;
    const GainMatrix& gainMatrix() const { return m_gains; }
    void setGainMatrix(const GainMatrix& gains) { m_gains = gains; }
    // Rewrites the linearity log: the title, then one line per point from index 1.
    void describePoint(const QString& title, const QList<CalibrationPoint>& points);
    // Logs a point with the number of times its gain set was met.
    void logPoint(const QString& label, const LevelPoints::Point& point, uint count) const;
    // Logs the gain sets met more than once since the level's last reset.
    void logRepeatedPoints(const QString& title) const;

    // ---- Correction step ----
    // One level: iterates gains towards the targets at the given luminance. Each suspension
    // leaves new gains in rgb for the driver to send and measure. The result is running at the end.
    EngineTask coCalibrateStep(double luminance);
    // The gain set of a point as a text: the three gains with 7 decimals, run together. Two
    // iterations of a level meet the same gain set exactly when these texts match.
    static QString pointKey(const CalibrationPoint& point);
    // A point of the calibrator's state: gains, reading in the terms of the stated targets, the
    // target (the measured luminance when target is negative), deltas and display gains.
    CalibrationPoint makePoint(double target) const;

    // ---- Black and maximum levels ----
    // The luminance with every gain at 0; empty when the gains could not be sent or read.
    std::optional<double> getAmbientBlack();
    // Measures at maximumLevel, then the gain matrix there; false when a send or reading failed.
    bool getMaximumLevel();

    const QList<float>& gammaTable() const { return taskState().gammaTable; }
    double maximumLevel() const { return m_maximumLevel; }
    qint64 stepSeconds() const { return m_stepSeconds; }

    // The log lines about one adjuster (and every line of the master) are written only when this
    // holds.
    bool verbose() const { return m_mode == ColorimeterMode || m_loggable; }

public slots:
    // Starts the task selected by task() (true) or asks the one in progress to stop (false).
    void setRunning(bool on);
    void calibrate();
    void resume();
    void calibrateSteps(uint start);
    // The weight of a point in the final average: how far its summed absolute deltas stay inside
    // maxError (maximumWeightedError when 0); 0 when they do not.
    double pointWeight(const CalibrationPoint& point, double maxError);
    uint pointsWithinError(double maxError = 0);
    // Sets the weighted average of the level's iterations as the final gains.
    bool setFinalRGB(double maxError);
    void finishBalancing();
    void readColorimeterData(Colorimeter* data);
    void testReadCounts();
    void takeMeasurement();
    void macropixelsObserved(const QList<Macropixel*>& newMacropixels);
    void tilesObserved(const QList<Tile*>& newTiles);

signals:
    void done(uint number, bool completed);
    void runningChanged(bool newValue);
    void statusStringChanged(QString newStatusString);
    void calibrationChanged(QString newCalibration);
    void takeReading();
    void getLdmsObserved();
    void getTilesObserved();
    void targetCCTChanged();
    void readDelayChanged();
    void readCountChanged();
    void maximumValueChanged();
    void targetDuvChanged();
    void stepsChanged();
    void gammaChanged();
    void clearLinearityLog();
    void appendLinearityLog(QString newCalibration);
    void ambientBlackChanged();
    void stepSpacingChanged();
    void colorimeterErrorTypeChanged();
    void colorimeterErrorChanged();
    void testingChanged();
    void modeChanged();
    void taskChanged();
    void progressChanged(double m_progress_);
    void targetLumChanged();
    void resumeStepChanged();
    void errorAllowedChanged();
    void maximumWeightedErrorChanged();
    void loggableChanged();
    void highGainLimitChanged();
    void lowGainLimitChanged();
    void adjustersChanged();
    void macropixelsChanged();
    void displayChanged();
    void tilesChanged();
    void updateProgress();

private:
    // The largest averaging count of one reading; the read-count test keeps to it too.
    static constexpr uint MaxReadCount = 100;
    // A level of the master is capped at this many iterations; progress counts in them.
    static constexpr double MasterIterationCap = 50.0;

    // The property writers' rule: when given differs from the stored value (by same), store kept
    // (the given value, or its clamped form) and emit the change signal.
    template <typename Field, typename Same = std::equal_to<>>
    void writeProperty(Field& field, const Field& given, const Field& kept, void (Calibrator::*changed)(),
                       Same same = {})
    {
        if (same(field, given))
            return;
        field = kept;
        (this->*changed)();
    }

    // Runs the selected task; called by setRunning(true) with running already set.
    void runTask();
    // Marks the calibrator running for a task entered through its own slot; no task is dispatched.
    void beginRun();
    // Clears running, on the master with runningChanged when it was set; a driven adjuster is
    // only marked.
    void endRun();
    // An adjuster whose coroutine a master resumes: it has no task of its own.
    bool drivenByMaster() const { return m_usingCoroutines && m_number > 0; }
    // ---- Balance and template runs ----
    // The run of task 5 or 6 on the master: every adjuster advanced in lock-step, one photograph
    // per update cycle.
    void runUniformity();
    // A run that cannot start: logs line, and ends with it as the status, not completed.
    void refuseUniformity(const QString& line);
    // Readies an adjuster for the run: range, targets, coroutines, marked running.
    void prepareAdjuster(Calibrator& adjuster) const;
    // Resumes once every adjuster's unfinished coroutine (the gain phase's or the level phase's);
    // true while one of them has not finished. idleWhenFinished marks a finished adjuster idle.
    bool advanceAdjusters(EngineTask Calibrator::*task, bool idleWhenFinished);
    // One update cycle: sends the changed gains, has the wall photographed, hands each adjuster
    // its LDM's observed values. initial sets every LDM to maximumLevel.
    void setAndReadMacropixels_(bool initial);
    // setLdmRGBs of every LDM with retries; a fatal error or the last recoverable one stops the run.
    bool sendLdmRGBs_();
    // Asks for a photograph and waits for the observed values; false when none came.
    bool waitForObservation();
    // The engine stops a run on its own account: logs line and keeps it as the run's status.
    void failRun(const QString& line);
    // pointWeight for a point whose absolute deltas add up to deltaSum.
    double weightOf(double deltaSum, double maxError) const;
    // The one sender behind setRGBGains_: retries recoverable refusals, counts every attempt.
    bool sendGains(const char* operation, const char* exitFormat, double red, double green, double blue, int kind);
    bool readingGuard(const char* operation) const;
    // Runs a task for the master, measuring each gain set it stores. False when a send or a
    // reading failed, which ends the run with that error as its status.
    bool driveTask(EngineTask& task);
    // Sets gains for the coroutines and sends them at once.
    bool setAndSendGains(double red, double green, double blue, uint kind);
    // The engine stops on its own account: running clears as endRun clears it, and reason
    // becomes the run's status (unless the run had already been stopped from outside).
    void stopRun(const QString& reason);
    // Parts of a level that never wait, kept out of its coroutine so that every adjuster's frame
    // stays small. A level stops with its gains pinned at the minimum (or the maximum); an
    // adjuster is given the colour that tells which.
    void stopClipping(bool atMinimum);
    // The loop analysis: true when the repeated gain sets are close enough to accept the level.
    bool loopSmallEnough() const;
    // Sets the gains of the best gain set met in the level.
    void setBestGains();
    // Records the iteration just measured, with the deltas the solver proposed for it (before they
    // were limited), and logs a gain set met before.
    LevelPoints::Visits recordIteration(double luminance, const Triple& proposed);
    static QString tooDarkText();
    // The master's first gains of a level below the first: those of the level above, scaled by
    // the ratio of the two levels' places on the spacing curve.
    void setPredictedLevelGains();
    // The iteration at index whole; a summarising level's without its reading and deltas.
    LevelPoints::Point pointAt(std::size_t index) const;
    // The level's error bound widened once, and the bound a level averages within when it
    // finishes (twice the bound once finishing is asked for).
    static double widened(double bound);
    static double finishingBound(double bound, bool finishing);
    // What a summarising level will ask for, from the level's bound.
    LevelPoints::Summary levelSummary() const;
    QString displayFailure() const;
    QString colorimeterFailure() const;
    void buildGammaTable(double black);
    void applyAdjustment();
    void finishCorrection(bool ok);
    bool refuseCorrection(const QString& message);
    void appendLinearityLine(const QString& line);
    void runReadCountGroup(int count, int& readingsDone);

    // What only a calibrator that runs tasks of its own uses (the master, or one on a
    // colorimeter): readings and their times, the run's clocks and lists, the tone table, the
    // pauses. Made in the constructor of such a calibrator, before any thread can read it, so
    // that no thread makes it while another reads it. The adjusters of a wall, which a master
    // drives, do not carry it: their reads see its defaults.
    struct TaskState
    {
        QList<CalibrationPoint> levelPoints;
        qint64 elapsedSeconds = 0;
        QString requestTime;
        QString timestamp;
        QString previousTimestamp;
        QString luminanceUnits;
        QDateTime startTime;
        QString colorimeterError;
        QList<Calibrator*> adjusters;
        QList<Macropixel*> macropixels;
        QList<Tile*> tiles;
        QList<float> gammaTable;
        Timing timing;
        std::chrono::milliseconds colorimeterTimeout{0};
        // Monotonic time of the current run; startTime is its wall-clock start for the estimates.
        QElapsedTimer runClock;
        // The display's answer to the last attempt to send gains.
        ErrorType lastDisplayResult;
    };
    const TaskState& taskState() const;
    TaskState& makeTaskState();

    // Members, in the order of the engine's model.
    uint m_mode = ColorimeterMode;
    uint m_number = 0;
    std::atomic<bool> m_running{false};
    QString m_statusString;
    QRecursiveMutex m_runMutex;
    mutable QMutex m_requestMutex;
    double m_targetCCT = 6500.0;
    double m_targetDuv = 0.0;
    double m_targetLum = 0.0;
    Triple m_templateTargets{0.0, 0.0, 0.0};
    uint m_readDelay = 500;
    uint m_readCount = 1;
    double m_gamma = 2.4;
    bool m_useSRGB = false;
    bool m_assumeTargets = false;
    uint m_steps = 10;
    std::atomic<uint> m_iteration{0};
    uint m_minPointsToFinish = 20;
    uint m_minIterationsAdjusters = 50;
    uint m_maxIterationsAdjusters = 400;
    bool m_readingReady = false;
    Triple m_reading{0.0, 0.0, 0.0};
    Triple m_rgb{0.0, 0.0, 0.0};
    Triple m_previousRgb{0.0, 0.0, 0.0};
    Triple m_previousReading{0.0, 0.0, 0.0};
    Triple m_rgbDeltas{0.0, 0.0, 0.0};
    Triple m_displayGains{1.0, 1.0, 1.0};
    uint m_currentStep = 0;
    uint m_savedSteps = 0;
    uint m_resumeStep = 0;
    uint m_firstStep = 0;
    uint m_stepsToRun = 0;
    bool m_usingCoroutines = false;
    bool m_ambientBlack = true;
    double m_minimumValue = 0.0;
    double m_maximumValue = 1.0;
    double m_maximumLevel = 1.0;
    double m_maximumWeightedError = 0.0;
    uint m_minPointsForAveraging = 3;
    double m_stepSpacing = 1.0;
    bool m_finishRequested = false;
    ErrorType m_colorimeterErrorType;
    LevelPoints m_points;
    double m_progress = 0.0;
    double m_errorAllowed = 0.0;
    int m_sendMode = SendRGB;
    bool m_loggable = false;
    double m_highGainLimit = 0.5;
    double m_lowGainLimit = 0.25;
    bool m_simulatedDisplay = false;
    bool m_rgbPending = false;
    std::atomic<DisplayBase*> m_display{nullptr};

    GainMatrix m_gains;
    EngineTask m_stepTask;
    EngineTask m_gainTask;
    qint64 m_stepSeconds = 0;
    Triple m_previousRgbDeltas{0.0, 0.0, 0.0};
    std::array<uint, 3> m_signFlips{0, 0, 0};
    // Between the stated targets and the measured brightest point (assumeTargets).
    struct Adjustment
    {
        double cctOffset = 0.0;
        double duvOffset = 0.0;
        double luminanceFactor = 1.0;
    } m_adjustment;

    std::unique_ptr<TaskState> m_taskState;
    // Why the engine stopped a run by itself; empty when it did not.
    QString m_stopReason;
    // A task's frame is on this thread's stack (its waits process events, so a stop and a new
    // start may arrive inside it); a start that arrives then is held until the task has returned.
    bool m_taskActive = false;
    bool m_startPending = false;
};
