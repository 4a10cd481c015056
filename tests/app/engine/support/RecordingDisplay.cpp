#include "RecordingDisplay.h"

#include <QMutexLocker>
#include <QThread>

RecordingDisplay::RecordingDisplay(QObject* parent)
    : DisplayBase(QStringLiteral("Recording Display"), parent)
{
}

void RecordingDisplay::scriptResults(const QList<ErrorType>& results)
{
    QMutexLocker lock(&m_mutex);
    m_script = results;
}

void RecordingDisplay::failFrom(int gainCall, const ErrorType& failure)
{
    QMutexLocker lock(&m_mutex);
    m_failFrom = gainCall;
    m_failure = failure;
}

QList<RecordingDisplay::Call> RecordingDisplay::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

int RecordingDisplay::count(const QString& operation) const
{
    QMutexLocker lock(&m_mutex);
    return int(std::count_if(m_calls.cbegin(), m_calls.cend(), [&](const Call& call) { return call.operation == operation; }));
}

void RecordingDisplay::clearCalls()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
}

ErrorType RecordingDisplay::record(const QString& operation, uint number, double red, double green, double blue,
                                   bool gainCall)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append({operation, number, red, green, blue, QThread::currentThread()});
    if (!gainCall)
        return {};
    ++m_gainCalls;
    if (m_failFrom > 0 && m_gainCalls >= m_failFrom)
        return m_failure;
    return m_script.isEmpty() ? ErrorType() : m_script.takeFirst();
}

ErrorType RecordingDisplay::setRGB_(uint number, double red, double green, double blue)
{
    const ErrorType result = record(QStringLiteral("setRGB"), number, red, green, blue, true);
    return result.ok() ? DisplayBase::setRGB_(number, red, green, blue) : result;
}

ErrorType RecordingDisplay::setDisplayGainRGB_(double red, double green, double blue)
{
    const ErrorType result = record(QStringLiteral("setDisplayGainRGB"), 0, red, green, blue, true);
    return result.ok() ? DisplayBase::setDisplayGainRGB_(red, green, blue) : result;
}

ErrorType RecordingDisplay::setLdmRGBs_(QList<Macropixel*>& ldms)
{
    record(QStringLiteral("setLdmRGBs"), 0, 0.0, 0.0, 0.0, false);
    return DisplayBase::setLdmRGBs_(ldms);
}

ErrorType RecordingDisplay::setMeshRGBs_(QList<Macropixel*>& ldms, float scale)
{
    record(QStringLiteral("setMeshRGBs"), 0, scale, 0.0, 0.0, false);
    return DisplayBase::setMeshRGBs_(ldms, scale);
}

ErrorType RecordingDisplay::commitMeshRGBs_(QList<Macropixel*>& ldms)
{
    record(QStringLiteral("commitMeshRGBs"), 0, 0.0, 0.0, 0.0, false);
    return DisplayBase::commitMeshRGBs_(ldms);
}
