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

void RecordingDisplay::scriptOperation(const QString& operation, const QList<ErrorType>& results)
{
    QMutexLocker lock(&m_mutex);
    m_operationScripts.insert(operation, results);
}

QList<RecordingDisplay::Call> RecordingDisplay::calls(const QString& operation) const
{
    QMutexLocker lock(&m_mutex);
    QList<Call> found;
    for (const Call& call : m_calls) {
        if (call.operation == operation)
            found.append(call);
    }
    return found;
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
    m_calls.append({operation, number, red, green, blue, QThread::currentThread(), {}});
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

ErrorType RecordingDisplay::recordLdms(const QString& operation, const QList<Macropixel*>& ldms, double scale)
{
    QMutexLocker lock(&m_mutex);
    Call call{operation, 0, scale, 0.0, 0.0, QThread::currentThread(), {}};
    for (const Macropixel* ldm : ldms)
        call.ldms.append(ldm ? *ldm : Macropixel());
    m_calls.append(call);
    QList<ErrorType>& script = m_operationScripts[operation];
    return script.isEmpty() ? ErrorType() : script.takeFirst();
}

ErrorType RecordingDisplay::setLdmRGBs_(QList<Macropixel*>& ldms)
{
    const ErrorType result = recordLdms(QStringLiteral("setLdmRGBs"), ldms, 0.0);
    return result.ok() ? DisplayBase::setLdmRGBs_(ldms) : result;
}

ErrorType RecordingDisplay::setMeshRGBs_(QList<Macropixel*>& ldms, float scale)
{
    const ErrorType result = recordLdms(QStringLiteral("setMeshRGBs"), ldms, scale);
    return result.ok() ? DisplayBase::setMeshRGBs_(ldms, scale) : result;
}

ErrorType RecordingDisplay::commitMeshRGBs_(QList<Macropixel*>& ldms)
{
    const ErrorType result = recordLdms(QStringLiteral("commitMeshRGBs"), ldms, 0.0);
    return result.ok() ? DisplayBase::commitMeshRGBs_(ldms) : result;
}
