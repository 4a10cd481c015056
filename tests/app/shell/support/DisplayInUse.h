#pragma once

#include "display/SimulatedDisplay.h"
#include "shell/Velotrimmer.h"

#include <QTest>

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
        // A stopped run ends when the engine has answered; until then the controller refuses to
        // change the display, so the change is asked again until it is made.
        DisplayBase* own = m_controller.simulatedDisplay();
        (void)QTest::qWaitFor(
            [&] {
                m_controller.setDisplay(own);
                return m_controller.display() == own;
            },
            RunEndLimitMs);
    }

    DisplayInUse(const DisplayInUse&) = delete;
    DisplayInUse& operator=(const DisplayInUse&) = delete;

private:
    static constexpr int RunEndLimitMs = 60000;

    Velotrimmer& m_controller;
};
