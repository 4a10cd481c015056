#include "ModelColorimeter.h"

#include "display/DisplayBase.h"

#include <QMutexLocker>

ModelColorimeter::ModelColorimeter(DisplayBase* display, QObject* parent)
    : Colorimeter(QStringLiteral("model"), parent)
    , m_display(display)
{
    setLuminanceUnits(QStringLiteral("nits"));
}

ModelColorimeter::Triple ModelColorimeter::measure(const Model& model, const Triple& drive)
{
    Triple result{model.cct0, model.duv0, model.black};
    for (int channel = 0; channel < 3; ++channel) {
        result[0] += model.cct[channel] * drive[channel];
        result[1] += model.duv[channel] * drive[channel];
        result[2] += model.luma[channel] * drive[channel];
    }
    return result;
}

ModelColorimeter::Triple ModelColorimeter::drive() const
{
    return {m_display->red() * m_display->displayGainRed(), m_display->green() * m_display->displayGainGreen(),
            m_display->blue() * m_display->displayGainBlue()};
}

void ModelColorimeter::read()
{
    const int number = ++m_reads;
    if (m_hook)
        m_hook(number);
    const Fault fault = m_script.isEmpty() ? m_fault : m_script.takeFirst();
    if (fault == Fault::Silent)
        return;
    {
        QMutexLocker locker(&readingMutex());
        const Triple measured = measure(m_model, drive());
        setCct(measured[0]);
        setDuv(measured[1]);
        setLuminance(measured[2]);
        if (fault != Fault::SameTimestamp) {
            // Strictly increasing, also for answers within one millisecond.
            QDateTime stamp = QDateTime::currentDateTime();
            if (m_lastStamp.isValid() && stamp <= m_lastStamp)
                stamp = m_lastStamp.addMSecs(1);
            m_lastStamp = stamp;
            setTimestamp(stamp.toString(Qt::ISODateWithMs));
        }
        switch (fault) {
        case Fault::Recoverable:
            setError(QStringLiteral("model: recoverable fault"));
            setErrorType(ErrorType::failure(ErrorType::Retryable, error()));
            break;
        case Fault::Fatal:
            setError(QStringLiteral("model: fatal fault"));
            setErrorType(ErrorType::failure(ErrorType::Fatal, error()));
            break;
        default:
            setError(QString());
            setErrorType(ErrorType());
            break;
        }
    }
    emit dataAvailable(this);
}
