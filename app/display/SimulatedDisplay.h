#pragma once

#include "display/DisplayBase.h"

// The output device used when no LED processor is at hand: it keeps the wall model and the test
// colour exactly as the base display does and talks to no device. It stands for the device too: a
// rebuild of its (unchanged) wall keeps the gains set on it, as a processor keeps what it holds.
class SimulatedDisplay : public DisplayBase
{
    Q_OBJECT
public:
    explicit SimulatedDisplay(QObject* parent = nullptr);

    ErrorType resetMesh() override;
    void cancelPending() override;

protected:
    bool holdsItsOwnGains() const override { return true; }
};
