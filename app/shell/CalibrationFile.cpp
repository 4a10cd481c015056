#include "shell/CalibrationFile.h"

#include <QFile>
#include <QSaveFile>
#include <QLocale>
#include <QTextStream>

#include <array>
#include <utility>

namespace {

const QString Separator = QStringLiteral("\t");
const QString LineEnd = QStringLiteral("\r\n");

using Field = double CalibrationPoint::*;

// The columns that hold a field of the point, in file order, and the twelve a curve needs.
const std::array<std::pair<const char*, Field>, 25> Columns{{
    {"red", &CalibrationPoint::red},
    {"green", &CalibrationPoint::green},
    {"blue", &CalibrationPoint::blue},
    {"cct", &CalibrationPoint::cct},
    {"duv", &CalibrationPoint::duv},
    {"luminance", &CalibrationPoint::luminance},
    {"luminanceTarget", &CalibrationPoint::luminanceTarget},
    {"redPx", &CalibrationPoint::redPx},
    {"redPy", &CalibrationPoint::redPy},
    {"redMx", &CalibrationPoint::redMx},
    {"redMy", &CalibrationPoint::redMy},
    {"redSlope", &CalibrationPoint::redSlope},
    {"greenPx", &CalibrationPoint::greenPx},
    {"greenPy", &CalibrationPoint::greenPy},
    {"greenMx", &CalibrationPoint::greenMx},
    {"greenMy", &CalibrationPoint::greenMy},
    {"greenSlope", &CalibrationPoint::greenSlope},
    {"bluePx", &CalibrationPoint::bluePx},
    {"bluePy", &CalibrationPoint::bluePy},
    {"blueMx", &CalibrationPoint::blueMx},
    {"blueMy", &CalibrationPoint::blueMy},
    {"blueSlope", &CalibrationPoint::blueSlope},
    {"redDisplayGain", &CalibrationPoint::redDisplayGain},
    {"greenDisplayGain", &CalibrationPoint::greenDisplayGain},
    {"blueDisplayGain", &CalibrationPoint::blueDisplayGain},
}};

constexpr std::array<const char*, 12> CurveColumns{"redPx",   "redPy",   "redMx",  "redMy",  "greenPx", "greenPy",
                                                   "greenMx", "greenMy", "bluePx", "bluePy", "blueMx",  "blueMy"};

} // namespace

QStringList CalibrationFile::headerNames()
{
    QStringList names{QStringLiteral("#")};
    for (const auto& column : Columns)
        names << QString::fromLatin1(column.first);
    names << QStringLiteral("seconds");
    return names;
}

QString CalibrationFile::write(const QString& path, const QList<CalibrationPoint>& points)
{
    // Written beside the old file and put in its place only after every byte was written, so a
    // failed write leaves the previous result whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QTextStream out(&file);
    out.setLocale(QLocale::c());
    out.setRealNumberPrecision(Precision);
    out << headerNames().join(Separator) << LineEnd;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const CalibrationPoint& point = points.at(i);
        out << i;
        for (const auto& column : Columns)
            out << Separator << point.*column.second;
        out << Separator << static_cast<qint32>(point.seconds) << LineEnd;
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit()) {
        file.cancelWriting();
        return file.errorString().isEmpty() ? QStringLiteral("write error") : file.errorString();
    }
    return QString();
}

CalibrationFile::ReadResult CalibrationFile::read(const QString& path)
{
    ReadResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    QTextStream in(&file);
    QString header;
    if (!in.readLineInto(&header)) {
        result.status = ReadStatus::Empty;
        return result;
    }

    // The column of each known name; a name given twice takes the later column.
    std::array<qsizetype, Columns.size()> columnOf;
    columnOf.fill(-1);
    const QStringList names = header.split(Separator);
    for (qsizetype index = 0; index < names.size(); ++index) {
        for (std::size_t c = 0; c < Columns.size(); ++c) {
            if (names.at(index) == QLatin1String(Columns[c].first))
                columnOf[c] = index;
        }
    }
    for (const char* required : CurveColumns) {
        for (std::size_t c = 0; c < Columns.size(); ++c) {
            if (qstrcmp(Columns[c].first, required) == 0 && columnOf[c] < 0) {
                result.status = ReadStatus::MissingCurves;
                return result;
            }
        }
    }

    const QLocale c = QLocale::c();
    QString line;
    while (in.readLineInto(&line)) {
        if (line.trimmed().isEmpty())
            continue;
        const QStringList fields = line.split(Separator);
        CalibrationPoint point;
        for (std::size_t column = 0; column < Columns.size(); ++column) {
            const qsizetype index = columnOf[column];
            if (index >= 0 && index < fields.size())
                point.*Columns[column].second = c.toDouble(fields.at(index).trimmed()); // not a number: 0
        }
        result.points.append(point);
    }
    result.status = result.points.isEmpty() ? ReadStatus::NoPoints : ReadStatus::Read;
    return result;
}
