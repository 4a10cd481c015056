#include "shell/Velotrimmer.h"

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "engine/Background.h"
#include "engine/Calibrator.h"
#include "engine/TileGrader.h"
#include "instruments/Colorimeter.h"
#include "instruments/ImageSource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>

namespace {

const QString RunStillEnding = QStringLiteral("The last run is still ending; try again in a moment.");

} // namespace

// ---- Calls into the worker threads -------------------------------------------------------------

void Velotrimmer::onCalibrator(std::function<void(Calibrator&)> call)
{
    if (!m_calibrator)
        return;
    QMetaObject::invokeMethod(
        m_calibrator, [calibrator = m_calibrator.data(), call = std::move(call)] { call(*calibrator); },
        Qt::QueuedConnection);
}

void Velotrimmer::onBackground(std::function<void(Background&)> call)
{
    if (!m_background)
        return;
    QMetaObject::invokeMethod(
        m_background, [background = m_background.data(), call = std::move(call)] { call(*background); },
        Qt::QueuedConnection);
}

void Velotrimmer::onTileGrader(std::function<void(TileGrader&)> call)
{
    // Never in the middle of a grab: the grader's state is the grab's until it has ended.
    onBackground([call = std::move(call)](Background& background) {
        background.whenIdle([&background, call] { call(*background.grader()); });
    });
}

void Velotrimmer::setTask(int task)
{
    m_task = task;
    onCalibrator([task](Calibrator& calibrator) { calibrator.setTask(static_cast<Calibrator::TaskType>(task)); });
}

// ---- Runs --------------------------------------------------------------------------------------

bool Velotrimmer::refuseWhileBusy(const QString& duringRun)
{
    if (m_running) {
        if (!duringRun.isEmpty())
            setStatusString(duringRun);
        return true;
    }
    if (m_awaitingDone) {
        setStatusString(RunStillEnding);
        return true;
    }
    return false;
}

bool Velotrimmer::refuseStart()
{
    return m_shutDown || refuseWhileBusy(QString());
}

bool Velotrimmer::refuseWithoutColorimeter()
{
    const QString missing = m_colorimeter ? m_colorimeter->unavailableReason() : QStringLiteral("none chosen");
    if (missing.isEmpty())
        return false;
    const QString text = QStringLiteral("Not started: no colorimeter (%1). Connect one, or choose another in Preferences.")
                             .arg(missing);
    qInfo("%s", qUtf8Printable(text));
    setStatusString(text);
    setStatus(-1);
    return true;
}

void Velotrimmer::startCalibrator()
{
    announceRunning();
    startWorkers();
}

void Velotrimmer::announceRunning()
{
    emit runningChanged(true);
}

void Velotrimmer::startWorkers()
{
    // Every task but the empty one ends with the calibrator's done, which settles the run.
    m_awaitingDone = m_task != Calibrator::Nothing;
    emit workersRunningChanged(true);
}

void Velotrimmer::endRunning()
{
    if (!m_running)
        return;
    m_running = false;
    cancelSetup();
    emit runningChanged(false);
    emit workersRunningChanged(false);
}

void Velotrimmer::waitWhileRunning(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired() && m_running) {
        QCoreApplication::processEvents();
        QThread::msleep(WaitSliceMs);
    }
}

void Velotrimmer::setRunning(bool running)
{
    if (running == m_running || (running && (refuseStart() || (!uniformityMode() && refuseWithoutColorimeter()))))
        return;
    if (!running) {
        endRunning();
        return;
    }
    m_running = true;
    setStatus(0);
    const bool simulated = !kestraIsCurrent();
    onCalibrator([simulated](Calibrator& calibrator) { calibrator.setSimulatedDisplay(simulated); });

    if (uniformityMode()) {
        setResumeStep(0);
        if (!startUniformity()) {
            setStatus(-1);
            setRunningSilently(false);
        }
        // The calibrator starts once the adjusters are built.
        return;
    } else {
        setupKestra();
        // The program may have begun to quit while the processor was being prepared.
        if (m_shutDown) {
            setRunningSilently(false);
            return;
        }
        const double gamma = kestraIsCurrent() ? m_kestraGamma : m_gamma;
        const bool srgb = useSrgb();
        if (srgb && gamma != SrgbProcessorGamma) {
            qInfo("Correction canceled: KESTRA Gamma (HDR) is %.2f, must be 1.0 for sRGB corrections.",
                  gamma / SrgbProcessorGamma);
            setStatusString(QStringLiteral("Correction canceled: KESTRA Gamma (HDR) must be 1.0 to correct using sRGB."));
            // Put the processor back while still marked running, so that the refusal is never
            // announced as a start and an end.
            resetKestra(true);
            setRunningSilently(false);
            return;
        }
        qInfo(srgb ? "Correcting to sRGB." : "Correcting to KESTRA gamma.");
        setupCalibrator();
    }
    startCalibrator();
}

void Velotrimmer::resume()
{
    if (refuseStart() || (!uniformityMode() && refuseWithoutColorimeter()))
        return;
    setRunningSilently(true);
    setStatus(0);
    if (uniformityMode()) {
        if (!startUniformity())
            setRunningSilently(false);
        return;
    } else {
        qInfo("======== Resuming correction ========");
        setupKestra();
        if (m_shutDown) {
            setRunningSilently(false);
            return;
        }
        setupCalibrator();
        setTask(Calibrator::Resume);
    }
    startCalibrator();
}

void Velotrimmer::test()
{
    if (refuseStart() || refuseWithoutColorimeter())
        return;
    setRunningSilently(true);
    setStatus(0);
    setupCalibrator();
    setTask(Calibrator::TestReadCounts);
    setResumeStep(0);
    startCalibrator();
}

void Velotrimmer::takeMeasurement()
{
    if (refuseStart() || refuseWithoutColorimeter())
        return;
    setRunningSilently(true);
    setStatus(0);
    // Consecutive measurements accumulate in one log.
    if (m_task != Calibrator::Measure)
        m_linearityLog.clear();
    setupCalibrator();
    setTask(Calibrator::Measure);
    startCalibrator();
}

void Velotrimmer::runNothing()
{
    if (refuseStart())
        return;
    setRunningSilently(true);
    setStatus(0);
    // The task is shared by every calibrator: one write reaches the adjusters too.
    setTask(Calibrator::Nothing);
    startCalibrator();
}

void Velotrimmer::stop()
{
    m_display->cancelPending();
}

void Velotrimmer::setupCalibrator()
{
    m_display->setCycling(false);
    setTask(Calibrator::Calibrate);

    uint targetCCT = m_targetCCT;
    double targetDuv = m_targetDuv;
    double gamma = m_gamma;
    double targetLum = m_brightnessLevel;
    if (kestraIsCurrent()) {
        targetCCT = static_cast<uint>(m_kestraCct);
        targetDuv = m_kestraDuv;
        gamma = m_kestraGamma;
        targetLum = m_kestra->lumaMax() * m_kestraPercentBrightness / 100.0;
    }
    const bool srgb = useSrgb();
    const bool trustFirst = m_trust1stPoint;
    const double gainRed = m_display->displayGainRed();
    const double gainGreen = m_display->displayGainGreen();
    const double gainBlue = m_display->displayGainBlue();
    const uint readCount = m_colorimeter && m_colorimeter->isSpectrometer() ? 1u : m_readCount;
    // Copies only: the call runs on the calibrator's thread while this one may change the settings.
    const uint readDelay = m_readDelay;
    const uint steps = m_steps;
    m_runSteps = steps;
    const bool ambientBlack = m_ambientBlack;
    const double stepSpacing = m_stepSpacing;
    const double errorAllowed = m_errorAllowed;
    onCalibrator([=](Calibrator& calibrator) {
        calibrator.setMode(Linearity);
        calibrator.setTargetCCT(targetCCT);
        calibrator.setTargetDuv(targetDuv);
        calibrator.setGamma(gamma);
        calibrator.setUseSRGB(srgb);
        calibrator.setAssumeTargets(trustFirst);
        calibrator.setBalanceRGB(gainRed, gainGreen, gainBlue);
        calibrator.setTargetLum(targetLum);
        calibrator.setReadDelay(readDelay);
        calibrator.setReadCount(readCount);
        calibrator.setSteps(steps);
        calibrator.setAmbientBlack(ambientBlack);
        calibrator.setStepSpacing(stepSpacing);
        calibrator.setErrorAllowed(errorAllowed);
    });
}

void Velotrimmer::deleteAdjusters()
{
    if (m_adjusterSet.isEmpty() && m_adjusterSet.macropixels().isEmpty())
        return;
    // The calibrator lets go of the lists before their objects go.
    onCalibrator([](Calibrator& calibrator) {
        calibrator.setAdjusters({});
        calibrator.setMacropixels({});
        calibrator.setTiles({});
    });
    // A wall's worth of adjusters takes long to delete: they go a slice at a time.
    m_adjusterBuilder.release(m_adjusterSet);
}

// ---- Completion --------------------------------------------------------------------------------

void Velotrimmer::calibratorDone(uint number, bool completed)
{
    Q_UNUSED(number)
    m_awaitingDone = false;
    const bool wasRunning = m_running;
    if (uniformityMode()) {
        qInfo("calibratorDone: all done.");
        summarizeUniformity();
        if (wasRunning)
            setResumeStep(0);
        setProgress(-1.0);
        m_imageSource->useSavedExposure(false);
        // Only a run that nobody stopped and that the engine finished counts as done.
        const bool succeeded = wasRunning && completed;
        setStatusString((succeeded ? QStringLiteral("%1 completed.")
                                   : QStringLiteral("%1 cancelled; display left in indeterminate state."))
                            .arg(QStringLiteral("Uniformity")));
        setStatus(succeeded ? 1 : -1);
        qInfo("%s took%s.", "Uniformity", qUtf8Printable(elapsedTimeString()));
        deleteAdjusters();
    } else if ((m_task == Calibrator::Calibrate || m_task == Calibrator::Resume) && m_calibrator) {
        const int task = m_task;
        // Keep the interface locked while the correction is finished.
        if (!wasRunning)
            runNothing();
        qInfo("Velotrimmer: Correction %s.", completed ? "completed" : "cancelled");
        m_points = m_calibrator->levelPoints();
        setResumeStep(m_calibrator->resumeStep());
        resetKestra(completed);
        const bool good = buildCurves_();
        const qsizetype steps = m_points.size() - 1;
        // Measured against the steps the run was given, whatever the setting says by now.
        setStatus(completed && good && steps == static_cast<qsizetype>(m_runSteps) ? 1 : -1);
        qInfo("%lld point%s %s.", static_cast<long long>(steps), steps == 1 ? " is" : "s are",
              good ? "good" : "not useful");
        if (good) {
            summarizeCorrection();
            setFilename(QStringLiteral("%1KestraCal-%2.tsv").arg(m_filepath, fileTimestamp().chopped(1)));
            setCalibrationAvailable(true);
            sendCalibration_();
        }
        m_task = task;
    }
    endRunning();
}

QString Velotrimmer::elapsedTimeText(qint64 seconds)
{
    if (seconds < 1)
        return QStringLiteral(" no time at all");
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds - 3600 * hours) / 60;
    const qint64 rest = seconds - 60 * (60 * hours + minutes);
    auto part = [](qint64 value, const char* unit) {
        return QStringLiteral(" %1 %2%3").arg(value).arg(QLatin1String(unit)).arg(value == 1 ? "" : "s");
    };
    QString text;
    if (hours != 0)
        text += part(hours, "hour");
    if (minutes != 0)
        text += part(minutes, "minute");
    text += part(rest, "second");
    return text;
}

QString Velotrimmer::elapsedTimeString() const
{
    return elapsedTimeText(m_runStartTime.secsTo(QDateTime::currentDateTime()));
}
