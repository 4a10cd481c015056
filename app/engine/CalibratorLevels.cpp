#include "engine/Calibrator.h"

#include <optional>

// ---- Black and maximum levels -------------------------------------------------------------------

bool Calibrator::setAndSendGains(double red, double green, double blue, uint kind)
{
    coSetRGBGains_(red, green, blue, int(kind));
    return sendRGBGains_(red, green, blue, kind);
}

QString Calibrator::displayFailure() const
{
    const ErrorType& last = taskState().lastDisplayResult;
    const QString detail = last.message.isEmpty() ? QStringLiteral("kind %1").arg(last.kind) : last.message;
    return QStringLiteral("Correction stopped with display error ") + detail;
}

QString Calibrator::colorimeterFailure() const
{
    const bool reported = m_colorimeterErrorType.kind != ErrorType::Success && !colorimeterError().isEmpty();
    return QStringLiteral("Correction stopped with colorimeter error ")
           + (reported ? colorimeterError() : QStringLiteral("no new or valid data after multiple retries"));
}

std::optional<double> Calibrator::getAmbientBlack()
{
    setStatusString(QStringLiteral("Getting ambient black level..."));
    const bool sent = m_usingCoroutines ? setAndSendGains(0.0, 0.0, 0.0, 0) : setRGBGains_(0.0, 0.0, 0.0);
    if (!sent) {
        stopRun(displayFailure());
        return std::nullopt;
    }
    waitMs(m_readDelay + timing().settleMs);
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
    waitMs(m_readDelay + timing().settleMs);
    if (!takeMultipleReadings_(int(m_readCount))) {
        stopRun(colorimeterFailure());
        return false;
    }
    m_gainTask = coSetGains();
    return driveTask(m_gainTask);
}
