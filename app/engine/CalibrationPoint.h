#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One measured level of a correction, or one iteration of a level: the gains that were set, what
// was measured there (in the terms of the stated targets), the level's target luminance, the
// deltas the solver proposed and the display gains in force. Copied whole; the controller turns
// the level points of a finished correction into tone curves.
struct CalibrationPoint
{
    QString label;
    // Carried with the point to the controller; no engine operation writes it.
    double value = 0.0;
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    // How often this gain set was met within a level (1 in a fresh point).
    quint32 count = 1;
    // Whole seconds the level took.
    quint32 seconds = 0;
    quint32 iterations = 0;
    double cct = 0.0;
    double duv = 0.0;
    double luminance = 0.0;
    // The level's target; the measured luminance when the level was given as negative.
    double luminanceTarget = 0.0;
    double redDelta = 0.0;
    double greenDelta = 0.0;
    double blueDelta = 0.0;
    double redDisplayGain = 1.0;
    double greenDisplayGain = 1.0;
    double blueDisplayGain = 1.0;
    // Curve fields that the controller fills from the points; the engine leaves them at zero.
    double redPx = 0.0;
    double redPy = 0.0;
    double redMx = 0.0;
    double redMy = 0.0;
    double redSlope = 0.0;
    double greenPx = 0.0;
    double greenPy = 0.0;
    double greenMx = 0.0;
    double greenMy = 0.0;
    double greenSlope = 0.0;
    double bluePx = 0.0;
    double bluePy = 0.0;
    double blueMx = 0.0;
    double blueMy = 0.0;
    double blueSlope = 0.0;
};

Q_DECLARE_METATYPE(CalibrationPoint)
