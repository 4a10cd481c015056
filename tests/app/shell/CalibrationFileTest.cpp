#include "support/QtPrinters.h"

#include "shell/CalibrationFile.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A correction as a run leaves it: small drives at the bottom, a negative Duv, curve fields.
QList<CalibrationPoint> realisticCorrection()
{
    QList<CalibrationPoint> points;
    for (int i = 0; i < 5; ++i) {
        CalibrationPoint point;
        const double level = i / 4.0;
        point.red = 1.234567890123e-05 + 0.91 * level * level;
        point.green = 3.3e-06 + 0.987654321 * level * level;
        point.blue = 0.79 * level * level + 1.0 / 3.0 * 1e-4;
        point.cct = 6487.123456789 + i;
        point.duv = -0.00123456789 * (i + 1);
        point.luminance = 812.3456789 * level;
        point.luminanceTarget = 800.0 * level;
        point.redPx = point.greenPx = point.bluePx = level;
        point.redPy = point.red;
        point.redMx = level + 0.05;
        point.redMy = point.red + 0.0349;
        point.redSlope = 1.8 * level;
        point.greenSlope = -0.25;
        point.blueMy = 2.0 / 3.0;
        point.redDisplayGain = 0.93;
        point.greenDisplayGain = 1.0;
        point.blueDisplayGain = 0.8712345678901234;
        point.seconds = 42;
        points.append(point);
    }
    return points;
}

void expectSamePoints(const QList<CalibrationPoint>& read, const QList<CalibrationPoint>& written)
{
    ASSERT_EQ(read.size(), written.size());
    auto same = [](double a, double b) { return a == b || std::abs(a - b) <= 1e-15 * std::abs(b); };
    for (qsizetype i = 0; i < read.size(); ++i) {
        const CalibrationPoint& r = read[i];
        const CalibrationPoint& w = written[i];
        for (auto field : {&CalibrationPoint::red, &CalibrationPoint::green, &CalibrationPoint::blue,
                           &CalibrationPoint::cct, &CalibrationPoint::duv, &CalibrationPoint::luminance,
                           &CalibrationPoint::luminanceTarget, &CalibrationPoint::redPx, &CalibrationPoint::redPy,
                           &CalibrationPoint::redMx, &CalibrationPoint::redMy, &CalibrationPoint::redSlope,
                           &CalibrationPoint::greenSlope, &CalibrationPoint::blueMy, &CalibrationPoint::redDisplayGain,
                           &CalibrationPoint::blueDisplayGain})
            EXPECT_TRUE(same(r.*field, w.*field)) << "point " << i << ": " << r.*field << " != " << w.*field;
        EXPECT_EQ(r.seconds, 0u); // written, never read
    }
}

QString writeText(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    return path;
}

const QByteArray CurveHeader = "redPx\tredPy\tredMx\tredMy\tgreenPx\tgreenPy\tgreenMx\tgreenMy\tbluePx\tbluePy\tblueMx\tblueMy";

} // namespace

TEST(CalibrationFile, ARealisticCorrectionReadsBackAsWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("correction.tsv");
    const QList<CalibrationPoint> points = realisticCorrection();
    ASSERT_EQ(CalibrationFile::write(path, points), QString());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 7); // header, five rows, and nothing after the last line end
    EXPECT_EQ(lines[0], CalibrationFile::headerNames().join('\t').toUtf8() + "\r");
    EXPECT_EQ(CalibrationFile::headerNames().size(), 27);
    const QList<QByteArray> first = lines[1].chopped(1).split('\t');
    ASSERT_EQ(first.size(), 27);
    EXPECT_EQ(first[0], "0");
    EXPECT_EQ(first[1], "1.234567890123e-05");
    EXPECT_EQ(first[8], "0"); // redPx
    EXPECT_EQ(first[26], "42");
    const QList<QByteArray> last = lines[5].chopped(1).split('\t');
    EXPECT_EQ(last[0], "4");
    EXPECT_EQ(last[8], "1");           // 1, not 1.000…
    EXPECT_EQ(last[23], "0.93");       // redDisplayGain
    EXPECT_TRUE(last[5].startsWith("-0.0061728394")); // a negative Duv in the C locale

    const CalibrationFile::ReadResult read = CalibrationFile::read(path);
    EXPECT_EQ(read.status, CalibrationFile::ReadStatus::Read);
    expectSamePoints(read.points, points);
}

TEST(CalibrationFile, ColumnsMayComeInAnyOrderWithBlankLinesAndLongRows)
{
    QTemporaryDir dir;
    QByteArray longTail;
    for (int i = 0; i < 80; ++i)
        longTail += "\t0.123456789012345";
    const QString path = writeText(dir, "any.tsv",
                                   "extra\tred\t" + CurveHeader + "\tRED\tgreen \r\n"
                                   "x\t0.5\t0.1\t0.2\t0.3\t0.4\t0.1\t0.2\t0.3\t0.4\t0.1\t0.2\t0.3\t0.4\t9\t9" + longTail + "\r\n"
                                   "\r\n"
                                   "y\t0.75\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\r\n"
                                   "\n");
    const CalibrationFile::ReadResult read = CalibrationFile::read(path);
    ASSERT_EQ(read.status, CalibrationFile::ReadStatus::Read);
    ASSERT_EQ(read.points.size(), 2); // the long row is one point, blank lines are none
    EXPECT_DOUBLE_EQ(read.points[0].red, 0.5);
    EXPECT_DOUBLE_EQ(read.points[0].redMy, 0.4);
    EXPECT_DOUBLE_EQ(read.points[0].green, 0.0); // "green " is not "green"
    EXPECT_DOUBLE_EQ(read.points[0].redDisplayGain, 1.0);
    EXPECT_DOUBLE_EQ(read.points[1].bluePx, 1.0);
}

TEST(CalibrationFile, FilesThatHoldNoCorrectionSaySoInsteadOfGivingPoints)
{
    QTemporaryDir dir;
    struct Case
    {
        const char* name;
        QByteArray text;
        CalibrationFile::ReadStatus status;
    };
    const Case cases[] = {
        {"empty.tsv", "", CalibrationFile::ReadStatus::Empty},
        {"header.tsv", CurveHeader + "\r\n", CalibrationFile::ReadStatus::NoPoints},
        {"blank.tsv", CurveHeader + "\r\n\r\n   \r\n", CalibrationFile::ReadStatus::NoPoints},
        {"partial.tsv", "redPx\tredPy\tredMx\r\n1\t2\t3\r\n", CalibrationFile::ReadStatus::MissingCurves},
        {"binary.tsv", QByteArray("\x00\x01\xff\xfe\x89PNG\r\n\x1a\n", 12), CalibrationFile::ReadStatus::MissingCurves},
    };
    for (const Case& c : cases) {
        const CalibrationFile::ReadResult read = CalibrationFile::read(writeText(dir, c.name, c.text));
        EXPECT_EQ(read.status, c.status) << c.name;
        EXPECT_TRUE(read.points.isEmpty()) << c.name;
    }
    const CalibrationFile::ReadResult missing = CalibrationFile::read(dir.filePath("none.tsv"));
    EXPECT_EQ(missing.status, CalibrationFile::ReadStatus::CannotOpen);
    EXPECT_FALSE(missing.error.isEmpty());
    EXPECT_FALSE(CalibrationFile::write(dir.filePath("no/such/folder.tsv"), realisticCorrection()).isEmpty());
}

TEST(CalibrationFile, AFailedWriteLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("result.tsv");
    ASSERT_EQ(CalibrationFile::write(path, realisticCorrection()), QString());
    QFile before(path);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray old = before.readAll();
    before.close();

    QList<CalibrationPoint> many;
    for (int i = 0; i < 200; ++i)
        many += realisticCorrection();
    QString error;
    {
        // The disk fills up half way through the new file.
        const FileSizeLimit limit(static_cast<rlim_t>(old.size()));
        error = CalibrationFile::write(path, many);
    }
    EXPECT_FALSE(error.isEmpty());
    QFile after(path);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"result.tsv"})
        << "no temporary file is left behind";
}
