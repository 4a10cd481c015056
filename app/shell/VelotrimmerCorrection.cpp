#include "shell/Velotrimmer.h"

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "engine/Calibrator.h"
#include "shell/CalibrationFile.h"
#include "shell/CorrectionCurves.h"
#include "shell/FileLocations.h"

#include <QDebug>

#include <cmath>

// ---- The processor around a correction ---------------------------------------------------------

void Velotrimmer::setupKestra()
{
    if (!kestraIsCurrent())
        return;
    m_pollDisplay = false;
    qDebug("Setting up KESTRA for correction.");
    m_kestraPercentBrightness = m_kestra->percentBrightness();
    m_kestraCct = m_kestra->cct();
    m_kestraDuv = m_kestra->duv();
    m_kestraGamma = m_kestra->gamma();
    m_kestraEotfType = m_kestra->eotfType();
    m_kestra->setSendingEnabled(false);
    m_kestra->setRGB(0, 0.0, 0.0, 0.0);
    m_kestra->setCurvesEnabled(false);
    m_kestra->setTestPatternEnabled(true);
    qInfo("Velotrimmer::setupKestra(): updating kestra");
    updateKestra_();
}

void Velotrimmer::updateKestra_()
{
    m_kestra->setSendingEnabled(true);
    const bool wasRunning = m_running;
    if (!wasRunning)
        runNothing();
    const ErrorType result = m_kestra->sendDisplaySettings();
    if (!result.ok())
        qWarning("Velotrimmer::updateKestra_: error %s", qUtf8Printable(result.message));
    if (!wasRunning)
        setRunning(false);
}

void Velotrimmer::resetKestra(bool completed)
{
    if (!kestraIsCurrent())
        return;
    qInfo("Resetting KESTRA after correction.");
    m_kestra->setSendingEnabled(false);
    m_kestra->setTestPatternEnabled(false);
    m_kestra->setCurvesEnabled(true);
    m_kestra->setRGB(0, 1.0, 1.0, 1.0);
    qInfo("resume %d, completed %d", m_resumeStep, completed ? 1 : 0);

    const bool zeroGain = m_kestra->displayGainRed() == 0.0 || m_kestra->displayGainGreen() == 0.0
                          || m_kestra->displayGainBlue() == 0.0;
    bool reset = false;
    if (zeroGain) {
        if (completed || m_resumeStep != 0)
            qInfo("Display gains zero; resetting");
        else
            qInfo("Cancelled in first step; reset display gains");
        reset = true;
    } else if (!completed && m_resumeStep == 0 && !m_trust1stPoint) {
        qInfo("Cancelled in first step; reset display gains");
        reset = true;
    }
    if (reset)
        m_kestra->setDisplayGainRGB(1.0, 1.0, 1.0);

    updateKestra_();
    m_pollDisplay = true;
}

void Velotrimmer::summarizeCorrection()
{
    const qsizetype n = m_points.size();
    if (n < 2)
        return;
    double iterations = 0.0;
    double seconds = 0.0;
    double cctError = 0.0;
    double duvError = 0.0;
    double luminanceError = 0.0;
    int luminancePoints = 0;
    // The errors are measured against the targets the run used: the processor's own with the processor.
    const double targetCCT = kestraIsCurrent() ? std::trunc(m_kestraCct) : m_targetCCT;
    const double targetDuv = kestraIsCurrent() ? m_kestraDuv : m_targetDuv;
    for (qsizetype i = 1; i < n; ++i) {
        const CalibrationPoint& point = m_points.at(i);
        iterations += point.iterations;
        seconds += point.seconds;
        cctError += std::abs(point.cct - targetCCT);
        duvError += std::abs(point.duv - targetDuv);
        // A level without a target luminance has no relative error.
        if (point.luminanceTarget != 0.0) {
            luminanceError += 100.0 * std::abs(point.luminance - point.luminanceTarget) / point.luminanceTarget;
            ++luminancePoints;
        }
    }
    const double m = static_cast<double>(n - 1);
    Calibrator::formatTimeRemaining(QStringLiteral("Including setup time, correction took"),
                                    m_calibrator ? m_calibrator->elapsedSeconds() : 0);
    const QString luminance = luminancePoints == 0 ? QStringLiteral("n/a")
                                                   : QString::asprintf("%.2f%%", luminanceError / luminancePoints);
    qInfo("Averages over %d point%s: %u iterations, %u seconds; errors %.0f K CCT, %.4f duv, %s luminance",
          static_cast<int>(n - 1), n - 1 == 1 ? "" : "s", static_cast<uint>(std::lround(iterations / m)),
          static_cast<uint>(std::lround(seconds / m)), cctError / m, duvError / m, qUtf8Printable(luminance));
}

QString Velotrimmer::fileTimestamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).replace(QLatin1Char(':'), QLatin1Char('-'));
}

QString Velotrimmer::defaultLogFileName() const
{
    return QStringLiteral("%1VelotrimLog-%2").arg(m_filepath, fileTimestamp());
}

// ---- Curves and the hand-off to the display ----------------------------------------------------

bool Velotrimmer::buildCurves_()
{
    return CorrectionCurves::build(m_points, m_stepSpacing);
}

void Velotrimmer::sendCalibration_()
{
    if (m_points.isEmpty()) {
        setStatusString(QStringLiteral("There is no correction to send."));
        return;
    }
    const CalibrationPoint& last = m_points.constLast();
    const ErrorType result = m_display->sendCalibration(CorrectionCurves::curvePoints(m_points), last.redDisplayGain,
                                                        last.greenDisplayGain, last.blueDisplayGain);
    if (result.ok())
        return;
    qWarning("sendCalibration: error %s", qUtf8Printable(result.message));
    setStatusString(QStringLiteral("Sending the correction to the display failed: %1").arg(result.message));
}

// ---- Files -------------------------------------------------------------------------------------

QString Velotrimmer::offeredFolder(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return FileLocations::dialogFolder(slash > 0 ? path.left(slash + 1) : m_filepath);
}

void Velotrimmer::reportUnsaved(const QString& path, const QString& reason, UnsavedLog log)
{
    if (log == UnsavedLog::Write)
        qWarning("Unable to open file %s: %s", qUtf8Printable(path), qUtf8Printable(reason));
    setStatusString(QStringLiteral("Unable to open file %1: %2").arg(path, reason));
    setStatus(-1);
}

// A save keeps its folder for the next file dialog only once it succeeded: a folder where saving
// failed (gone, not writable, the system's) is never offered again.
bool Velotrimmer::saveCalibration(QUrl url)
{
    const QString path = url.toLocalFile();
    if (const QString refused = FileLocations::refusal(path); !refused.isEmpty()) {
        reportUnsaved(path, refused, UnsavedLog::Write);
        return false;
    }
    const QString error = CalibrationFile::write(path, m_points);
    if (!error.isEmpty()) {
        reportUnsaved(path, error, UnsavedLog::Write);
        return false;
    }
    setFilepath(path);
    setStatusString(QStringLiteral("Correction saved to %1").arg(path));
    setStatus(1);
    return true;
}

bool Velotrimmer::readCalibration(QUrl url)
{
    const QString path = url.toLocalFile();
    qInfo("read file at %s", qUtf8Printable(path));
    if (refuseWhileBusy(QStringLiteral("Stop the run before reading a correction.")))
        return false;
    setFilename(path);
    setFilepath(path);
    const QString shortName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);

    // Every failure keeps the correction in hand.
    CalibrationFile::ReadResult file = CalibrationFile::read(path);
    switch (file.status) {
    case CalibrationFile::ReadStatus::CannotOpen:
        setStatusString(QStringLiteral("Can\u2019t open file %1: %2").arg(shortName, file.error));
        qWarning("Unable to open file %s: %s", qUtf8Printable(path), qUtf8Printable(file.error));
        return false;
    case CalibrationFile::ReadStatus::Empty:
        setStatusString(QStringLiteral("File %1 is empty").arg(shortName));
        qWarning("%s", qUtf8Printable(m_statusString));
        return false;
    case CalibrationFile::ReadStatus::MissingCurves:
        setStatusString(
            QStringLiteral("File is missing one or more px, py, mx, or my columns, so it can\u2019t be used"));
        qWarning("%s", qUtf8Printable(m_statusString));
        return false;
    case CalibrationFile::ReadStatus::NoPoints:
        setStatusString(QStringLiteral("File %1 holds no correction points").arg(shortName));
        qWarning("%s", qUtf8Printable(m_statusString));
        return false;
    case CalibrationFile::ReadStatus::Read:
        break;
    }

    m_points = std::move(file.points);
    for (qsizetype i = 0; i < m_points.size(); ++i) {
        const CalibrationPoint& point = m_points.at(i);
        qInfo("#%2d: %.6f, %.6f, %.6f", static_cast<int>(i), point.red, point.green, point.blue);
    }
    const QList<CalibrationPoint> points = m_points;
    onCalibrator([shortName, points](Calibrator& calibrator) { calibrator.describePoint(shortName, points); });
    setResumeStep(0);
    setCalibrationAvailable(true);
    runNothing();
    sendCalibration_();
    endRunning();
    return true;
}

bool Velotrimmer::saveLog(QUrl url)
{
    const QString path = url.toLocalFile();
    if (const QString refused = FileLocations::refusal(path); !refused.isEmpty()) {
        reportUnsaved(path, refused, UnsavedLog::Write);
        return true;
    }
    setStatusString(QStringLiteral("Saving log to %1...").arg(path));
    const QString error = m_appLog->saveTo(path);
    if (!error.isEmpty()) {
        // The log has said why already.
        reportUnsaved(path, error, UnsavedLog::Written);
        return true;
    }
    setFilepath(path);
    setStatusString(QStringLiteral("Log saved to %1").arg(path));
    setStatus(1);
    return true;
}
