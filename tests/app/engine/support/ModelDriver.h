#pragma once

#include "engine/Calibrator.h"
#include "engine/EngineTask.h"

#include <QList>

#include <functional>

// Plays the driver of an engine coroutine without devices: resumes the task and, at each
// suspension, writes the reading that a measurement function gives for the gains the task left in
// rgb. For tests that check the engine's arithmetic against a known model.
class ModelDriver
{
public:
    using Measure = std::function<Calibrator::Triple(const Calibrator::Triple& gains)>;

    ModelDriver(Calibrator& calibrator, Measure measure);

    // The reading of the gains the calibrator holds now, as a first measurement.
    void measureNow();
    // Drives the task to its end (at most maxSuspensions); returns the number of suspensions.
    int drive(EngineTask& task, int maxSuspensions = 10000);
    // The gains measured at each suspension, in order.
    const QList<Calibrator::Triple>& measuredGains() const { return m_measured; }

private:
    Calibrator& m_calibrator;
    Measure m_measure;
    QList<Calibrator::Triple> m_measured;
};
