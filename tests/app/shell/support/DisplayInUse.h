#pragma once

#include "display/SimulatedDisplay.h"
#include "shell/Velotrimmer.h"

// Makes a test's own display the controller's current one for as long as the guard lives, then
// gives the controller back one of its own displays. Declared after the display, it is destroyed
// first, so the controller never holds a display that is gone, even when an assertion ends the
// test early.
class DisplayInUse
{
public:
    DisplayInUse(Velotrimmer& controller, DisplayBase& display)
        : m_controller(controller)
    {
        m_controller.setDisplay(&display);
    }
    ~DisplayInUse()
    {
        m_controller.setRunning(false);
        m_controller.setDisplay(m_controller.simulatedDisplay());
    }

    DisplayInUse(const DisplayInUse&) = delete;
    DisplayInUse& operator=(const DisplayInUse&) = delete;

private:
    Velotrimmer& m_controller;
};
