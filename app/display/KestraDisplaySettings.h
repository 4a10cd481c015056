#pragma once

#include <QtGlobal>

#include <optional>
#include <string>

// The display settings that the program controls, as the JSON text of the PATCH that sends them
// whole (brightness, colour temperature, display gains, gamma, the output adjustment with the test
// colour as its gain, the curve switch, the white test pattern switch), written as the processor
// has always received it from Qt's JSON writer.
//
// Every setter and every step of a correction sends them, mostly unchanged: the text is kept and
// written again only when a value differs from those it was written from.
class KestraDisplaySettings
{
public:
    struct Values
    {
        double brightness = 0.0;
        quint32 cct = 0;
        double gainRed = 0.0;
        double gainGreen = 0.0;
        double gainBlue = 0.0;
        double gamma = 0.0;
        double red = 0.0; // the test colour
        double green = 0.0;
        double blue = 0.0;
        bool curvesEnabled = false;
        bool testPatternEnabled = false;

        // Values that compare equal are written alike (0.0 and -0.0 both as 0).
        friend bool operator==(const Values&, const Values&) = default;
    };

    // The text for these values.
    const std::string& body(const Values& values);

private:
    static std::string write(const Values& values);

    std::optional<Values> m_written;
    std::string m_body;
};
