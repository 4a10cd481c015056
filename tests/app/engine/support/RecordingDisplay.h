#pragma once

#include "display/DisplayBase.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

class QThread;

// A display on the base behaviour that records every engine call (with the thread its device
// hook ran on) and answers gain calls with scripted results. A call answered with an error does
// not change the display; a successful one does what the base display does.
class RecordingDisplay : public DisplayBase
{
    Q_OBJECT
public:
    struct Call
    {
        QString operation; // "setRGB", "setDisplayGainRGB", "setLdmRGBs", "setMeshRGBs", "commitMeshRGBs"
        uint number = 0;
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
        QThread* thread = nullptr;
        // The LDM records an LDM or mesh call carried, copied as they were at the call.
        QList<Macropixel> ldms;
    };

    explicit RecordingDisplay(QObject* parent = nullptr);

    ErrorType resetMesh() override { return {}; }
    void cancelPending() override {}

    // Results of the next setRGB / setDisplayGainRGB calls, in order; once used up, calls succeed.
    void scriptResults(const QList<ErrorType>& results);
    // From the given gain call on (counting every setRGB and setDisplayGainRGB from 1), every
    // gain call fails with failure.
    void failFrom(int gainCall, const ErrorType& failure);

    // Results of the next calls of one LDM or mesh operation ("setLdmRGBs", "setMeshRGBs",
    // "commitMeshRGBs"), in order; once used up, calls succeed.
    void scriptOperation(const QString& operation, const QList<ErrorType>& results);

    QList<Call> calls() const;
    // The calls of one operation, in order.
    QList<Call> calls(const QString& operation) const;
    int count(const QString& operation) const;
    void clearCalls();

protected:
    ErrorType setRGB_(uint number, double red, double green, double blue) override;
    ErrorType setDisplayGainRGB_(double red, double green, double blue) override;
    ErrorType setLdmRGBs_(QList<Macropixel*>& ldms) override;
    ErrorType setMeshRGBs_(QList<Macropixel*>& ldms, float scale) override;
    ErrorType commitMeshRGBs_(QList<Macropixel*>& ldms) override;

private:
    // Records the call and returns the scripted answer for a gain call.
    ErrorType record(const QString& operation, uint number, double red, double green, double blue, bool gainCall);
    // Records an LDM or mesh call and returns its scripted answer.
    ErrorType recordLdms(const QString& operation, const QList<Macropixel*>& ldms, double scale);

    mutable QMutex m_mutex;
    QList<Call> m_calls;
    QList<ErrorType> m_script;
    QHash<QString, QList<ErrorType>> m_operationScripts;
    int m_gainCalls = 0;
    int m_failFrom = 0;
    ErrorType m_failure;
};
