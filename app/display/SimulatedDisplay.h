#pragma once

#include "display/DisplayBase.h"

// The output device used when no LED processor is at hand: it keeps the wall model and the test
// colour exactly as the base display does and talks to no device.
class SimulatedDisplay : public DisplayBase
{
    Q_OBJECT
public:
    explicit SimulatedDisplay(QObject* parent = nullptr);

    ErrorType resetMesh() override;
    void cancelPending() override;
};
