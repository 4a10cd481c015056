#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One LDM of the wall: the smallest area of a tile whose red, green, blue and intensity gains can
// be set. Geometry is in wall pixels and covers x <= px < x + width, y <= py < y + height.
// Numbers are 1-based; 0 means "not numbered yet".
struct Macropixel
{
    // Intensity gain that switches an LDM dark, and the gain of normal output.
    static constexpr double darkIntensity = -1.0;
    static constexpr double normalIntensity = 0.0;
    // An LDM is on only while its intensity gain is above this; exactly at it, it is off.
    static constexpr double onThreshold = -0.9;

    Macropixel() = default;
    // Note the order: width before height here, height before width in the record.
    Macropixel(quint32 number, float x, float y, float width, float height)
        : number(number)
        , x(x)
        , y(y)
        , height(height)
        , width(width)
    {
    }

    bool isOn() const { return intensityGain > onThreshold; }
    bool contains(float px, float py) const { return x <= px && px < x + width && y <= py && py < y + height; }

    quint32 number = 0;
    QString name; // MAC address of the receiver that drives the LDM
    float x = 0.0f;
    float y = 0.0f;
    float height = 0.0f;
    float width = 0.0f;
    bool selected = true;   // inside the current selection rectangle
    bool adjustable = true; // taking part in the next correction
    bool lit = true;        // shown, not switched dark
    // The LDM's own number within its tile. In mesh cells handed to a mesh upload it carries
    // instead the number of the display LDM that contains the cell.
    quint32 indexInTile = 0;
    quint32 tileNumber = 0;
    double redGain = 0.0;
    double greenGain = 0.0;
    double blueGain = 0.0;
    double intensityGain = normalIntensity;
    double redObserved = 0.0;
    double greenObserved = 0.0;
    double blueObserved = 0.0;
};

// The records travel through signals, slots and QML only as pointers.
Q_DECLARE_METATYPE(Macropixel*)
Q_DECLARE_METATYPE(const Macropixel*)
