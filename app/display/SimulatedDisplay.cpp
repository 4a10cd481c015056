#include "display/SimulatedDisplay.h"

SimulatedDisplay::SimulatedDisplay(QObject* parent)
    : DisplayBase(QStringLiteral("Simulated Display"), parent)
{
}

ErrorType SimulatedDisplay::resetMesh()
{
    return {};
}

void SimulatedDisplay::cancelPending()
{
}
