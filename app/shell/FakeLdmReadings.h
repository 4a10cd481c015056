#pragma once

class DisplayBase;

// What the dummy camera "observes" of the lit LDMs of a wall nobody photographs: a level inside
// the range a balance target accepts, following each LDM's relative gains, with a fixed spread per
// LDM and channel that a variation scales, so that a balance run has something to even out.
class FakeLdmReadings
{
public:
    static constexpr double RedBlueLevel = 150.0;
    static constexpr double GreenLevel = 175.0;

    // Writes the observed colour of every lit LDM of the display (on the display's thread).
    static void write(DisplayBase& display, double variation);

    // A fixed number in [-1, 1) for an LDM number and a channel (0 red, 1 green, 2 blue).
    static double spread(unsigned number, int channel);
    // The reading of a channel at a level, for a relative gain (0 leaves the output as it is) and
    // a deviation; never below 0.
    static double level(double level, double gain, double deviation);
};
