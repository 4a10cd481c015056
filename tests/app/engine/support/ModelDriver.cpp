#include "ModelDriver.h"

ModelDriver::ModelDriver(Calibrator& calibrator, Measure measure)
    : m_calibrator(calibrator)
    , m_measure(std::move(measure))
{
}

void ModelDriver::measureNow()
{
    m_calibrator.setReading(m_measure(m_calibrator.rgb()));
}

int ModelDriver::drive(EngineTask& task, int maxSuspensions)
{
    int suspensions = 0;
    while (suspensions < maxSuspensions) {
        task.resume();
        if (task.done())
            break;
        ++suspensions;
        m_measured.append(m_calibrator.rgb());
        measureNow();
    }
    return suspensions;
}
