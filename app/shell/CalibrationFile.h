#pragma once

#include "engine/CalibrationPoint.h"

#include <QList>
#include <QString>
#include <QStringList>

// The result file of a correction: tab-separated UTF-8 text, one header line of column names and
// one row per correction point, every line ended by "\r\n", numbers in the C locale with 16
// significant digits.
//
// Reading accepts the columns in any order and ignores unknown ones; the twelve px, py, mx and my
// columns are required, every other column is optional, and "#" and "seconds" are never read.
// Lines are read whole, whatever their length; blank lines are skipped.
class CalibrationFile
{
public:
    static constexpr int Precision = 16;

    enum class ReadStatus {
        Read,          // points holds the rows (at least one)
        CannotOpen,    // error holds the system's text
        Empty,         // not even a header line
        MissingCurves, // a px, py, mx or my column is missing
        NoPoints,      // a usable header and no rows
    };

    struct ReadResult
    {
        ReadStatus status = ReadStatus::CannotOpen;
        QList<CalibrationPoint> points;
        QString error;
    };

    // The 27 header names, in the order they are written.
    static QStringList headerNames();

    // Writes the points, replacing the file whole or not at all; returns the system's error text,
    // empty on success.
    static QString write(const QString& path, const QList<CalibrationPoint>& points);
    static ReadResult read(const QString& path);
};
