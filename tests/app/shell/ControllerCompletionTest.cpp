#include "support/ControllerFixture.h"
#include "support/DisplayInUse.h"
#include "support/MessageCapture.h"
#include "support/ModelWallObserver.h"
#include "support/ProcessorSimulator.h"
#include "support/QtPrinters.h"
#include "support/RecordingDisplay.h"
#include "support/ScopedTempFolder.h"
#include "support/TestDisplay.h"

#include "display/Kestra.h"
#include "display/SimulatedDisplay.h"
#include "engine/Calibrator.h"
#include "shell/CalibrationFile.h"
#include "shell/CorrectionCurves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// A display that keeps what it was asked to upload.
class UploadRecorder : public SimulatedDisplay
{
public:
    ErrorType sendCalibration(const QList<CurvePoint>& curves, double red, double green, double blue) override
    {
        ++uploads;
        lastCurves = curves;
        gains = {red, green, blue};
        return answer;
    }

    int uploads = 0;
    QList<CurvePoint> lastCurves;
    std::array<double, 3> gains{};
    ErrorType answer;
};

QList<CalibrationPoint> builtCorrection(int points)
{
    QList<CalibrationPoint> correction;
    for (int i = 0; i < points; ++i) {
        CalibrationPoint point;
        const double level = double(i) / (points - 1);
        point.red = 0.9 * level * level;
        point.green = level * level;
        point.blue = 0.8 * level * level + 1e-6;
        point.redDisplayGain = 0.9 + 0.01 * i;
        point.greenDisplayGain = 0.8;
        point.blueDisplayGain = 0.95;
        correction.append(point);
    }
    EXPECT_TRUE(CorrectionCurves::build(correction, 2.0));
    return correction;
}

} // namespace

using ControllerCompletion = ControllerFixture;

TEST(ControllerTexts, ElapsedTimeIsSpelledOutWithPlurals)
{
    EXPECT_EQ(Velotrimmer::elapsedTimeText(3725), QStringLiteral(" 1 hour 2 minutes 5 seconds"));
    EXPECT_EQ(Velotrimmer::elapsedTimeText(60), QStringLiteral(" 1 minute 0 seconds"));
    EXPECT_EQ(Velotrimmer::elapsedTimeText(1), QStringLiteral(" 1 second"));
    EXPECT_EQ(Velotrimmer::elapsedTimeText(0), QStringLiteral(" no time at all"));
    EXPECT_EQ(Velotrimmer::elapsedTimeText(-5), QStringLiteral(" no time at all"));
}

TEST_F(ControllerCompletion, TheLogFileNameCarriesTheUtcTimeAfterTheSavedFolder)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setFilepath("/data:runs/x.tsv");
    const QString name = velotrimmer.defaultLogFileName();
    // The folder is kept as it is; only the time stamp loses its colons.
    EXPECT_TRUE(name.startsWith("/data:runs/VelotrimLog-")) << name.toStdString();
    const QString stamp = name.mid(QStringLiteral("/data:runs/VelotrimLog-").size());
    EXPECT_EQ(stamp.size(), 20);
    EXPECT_TRUE(stamp.endsWith('Z'));
    EXPECT_FALSE(stamp.contains(':'));
}

TEST_F(ControllerCompletion, TemplatersCoverEveryAdjustableTileWithTheMesh)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setMode(Velotrimmer::Template);
    TestDisplay display;
    display.buildWall(3, 1, 4, 200);
    DisplayInUse inUse(velotrimmer, display);
    MessageCapture log;
    QSignalSpy started(&velotrimmer, &Velotrimmer::workersRunningChanged);

    velotrimmer.setRunning(true);
    ASSERT_TRUE(started.wait()) << "the adjusters are built and the calibrator starts";
    EXPECT_TRUE(log.contains("buildTemplaters: 1200 balancers,  3 tiles,  1200 macropixels"));
    EXPECT_TRUE(log.contains("Adjustable Tiles: 3,  Ldms: 48"));
    const AdjusterSet& set = velotrimmer.adjusterSet();
    ASSERT_EQ(set.adjusters().size(), 1200);
    ASSERT_EQ(set.tiles().size(), 3);
    EXPECT_EQ(set.tiles()[1]->ldms.size(), 400);
    EXPECT_EQ(set.adjusters().first()->number(), 1u);
    EXPECT_EQ(set.adjusters().last()->number(), 1200u);
    // The 21st cell of the second tile starts the second row of cells.
    const Macropixel* cell = set.tiles()[1]->ldms[20];
    EXPECT_FLOAT_EQ(cell->x, 200.0f);
    EXPECT_FLOAT_EQ(cell->y, 10.0f);
    EXPECT_FLOAT_EQ(cell->width, 10.0f);
    EXPECT_EQ(cell->tileNumber, 2u);
    EXPECT_EQ(cell->indexInTile, display.findLdm(2, 200, 10)->number);

    // Whatever the engine makes of the run, it ends with a status and the cells are released.
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }));
    EXPECT_TRUE(velotrimmer.adjusterSet().adjusters().isEmpty());
}

TEST_F(ControllerCompletion, StopWhileTheAdjustersArePreparedEndsTheRunBeforeItStarts)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setMode(Velotrimmer::Template);
    TestDisplay display;
    // 10 x 10 tiles of 400 cells: far more than one slice of the set-up makes.
    display.buildWall(10, 10, 4, 200);
    constexpr qsizetype Cells = 40000;
    DisplayInUse inUse(velotrimmer, display);
    MessageCapture log;
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    QSignalSpy workers(&velotrimmer, &Velotrimmer::workersRunningChanged);
    // The operator presses Stop as soon as the status line shows the first cells made.
    qsizetype builtAtStop = -1;
    QObject::connect(
        &velotrimmer, &Velotrimmer::statusStringChanged, &velotrimmer,
        [&] {
            if (builtAtStop < 0 && velotrimmer.running() && !velotrimmer.adjusterSet().isEmpty()) {
                builtAtStop = velotrimmer.adjusterSet().size();
                velotrimmer.setRunning(false);
            }
        },
        Qt::QueuedConnection);

    velotrimmer.setRunning(true);
    ASSERT_TRUE(velotrimmer.running());
    EXPECT_EQ(running.count(), 1) << "Stop is offered while the adjusters are prepared";
    EXPECT_TRUE(velotrimmer.statusString().startsWith("Preparing adjusters: 0 of 40000 macropixels"))
        << velotrimmer.statusString().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !velotrimmer.running(); }));
    EXPECT_GT(builtAtStop, 0);
    EXPECT_LT(builtAtStop, Cells);
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Uniformity cancelled before it started."));
    EXPECT_TRUE(velotrimmer.adjusterSet().adjusters().isEmpty());
    EXPECT_TRUE(velotrimmer.adjusterSet().macropixels().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("Uniformity set-up stopped after %1 of 40000 macropixels.").arg(builtAtStop)));
    ASSERT_EQ(running.count(), 2);
    EXPECT_FALSE(running.at(1).at(0).toBool());
    for (const QList<QVariant>& call : std::as_const(workers))
        EXPECT_FALSE(call.at(0).toBool()) << "the calibrator never started";

    // Nothing of the stopped set-up goes on: the next run builds every cell and starts.
    workers.clear();
    velotrimmer.setRunning(true);
    ASSERT_TRUE(workers.wait(WaitLimitMs));
    EXPECT_TRUE(workers.at(0).at(0).toBool());
    EXPECT_EQ(velotrimmer.adjusterSet().size(), Cells);
    EXPECT_EQ(log.messages().filter(QStringLiteral("buildTemplaters: 40000 balancers,  100 tiles,  40000 macropixels")).size(), 1);
    velotrimmer.setRunning(false);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }));
    EXPECT_TRUE(waitUntil([&] { return velotrimmer.adjusterSet().isEmpty(); }));
}

TEST_F(ControllerCompletion, TheDemonstrationWallIsRefusedForTemplatesWithoutDividingByZero)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    velotrimmer.setMode(Velotrimmer::Template); // fetches the demonstration wall
    ASSERT_GT(velotrimmer.display()->adjustableTileCount(), 0u);
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);

    velotrimmer.setRunning(true);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(running.count(), 0);
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_TRUE(velotrimmer.statusString().contains("cannot be divided into cells")) << velotrimmer.statusString().toStdString();
}

TEST_F(ControllerCompletion, AMeshThatDoesNotFitTheLdmGridIsRefused)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setMode(Velotrimmer::Template);
    TestDisplay display;
    display.buildWall(2, 1, 3, 300);
    DisplayInUse inUse(velotrimmer, display);
    velotrimmer.setRunning(true);
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Tile  cell size (20, 20) not divisible by LDM size (3, 3)"));
}

// The interface's LDM grid, with the dummy camera: whenever the display asks for observed values,
// each LDM shows what a known linear response makes of its gains.
void observeThroughModel(DisplayBase* display)
{
    QObject::connect(display, &DisplayBase::needFakeLdmRGBsChanged, display, [display] {
        for (uint n = 1; n <= display->ldmCount(); ++n) {
            const Macropixel& ldm = display->ldm(n);
            const ModelWallObserver::Triple observed = ModelWallObserver::respond(
                ModelWallObserver::variedResponse(n), {ldm.redGain, ldm.greenGain, ldm.blueGain});
            display->setLdmRGBObserved(n, observed[0], observed[1], observed[2]);
        }
    });
}

constexpr double TargetRed = 110.0;
constexpr double TargetGreen = 120.0;
constexpr double TargetBlue = 100.0;

TEST_F(ControllerCompletion, ABalanceRunWithTheDummyCameraBringsEveryLdmToTheTargets)
{
    QSettings().setValue("camera", true);
    Velotrimmer& velotrimmer = build();
    useSimulatedBench();
    skipReadDelays();
    velotrimmer.setMode(Velotrimmer::Balance);
    velotrimmer.setBalanceTargetRed(TargetRed);
    velotrimmer.setBalanceTargetGreen(TargetGreen);
    velotrimmer.setBalanceTargetBlue(TargetBlue);
    DisplayBase* display = velotrimmer.display();
    observeThroughModel(display);
    const uint ldms = display->adjustableLdmCount();
    ASSERT_GT(ldms, 1u);
    MessageCapture log;
    QSignalSpy started(&velotrimmer, &Velotrimmer::workersRunningChanged);

    velotrimmer.setRunning(true);
    ASSERT_TRUE(velotrimmer.running());
    ASSERT_TRUE(started.wait());
    const AdjusterSet& set = velotrimmer.adjusterSet();
    ASSERT_EQ(set.adjusters().size(), qsizetype(ldms));
    EXPECT_TRUE(set.adjusters().first()->loggable());
    EXPECT_FALSE(set.adjusters().last()->loggable());

    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }, 120000));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Uniformity completed."));
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_TRUE(log.contains("calibratorDone: all done."));
    EXPECT_DOUBLE_EQ(velotrimmer.progress(), -1.0);
    EXPECT_TRUE(velotrimmer.adjusterSet().adjusters().isEmpty());
    // The display holds each LDM's final gains, and they show the targets.
    for (uint n = 1; n <= display->ldmCount(); ++n) {
        const Macropixel& ldm = display->ldm(n);
        const ModelWallObserver::Triple observed = ModelWallObserver::respond(
            ModelWallObserver::variedResponse(n), {ldm.redGain, ldm.greenGain, ldm.blueGain});
        EXPECT_NEAR(observed[0], TargetRed, 1.5) << "LDM " << n;
        EXPECT_NEAR(observed[1], TargetGreen, 1.5) << "LDM " << n;
        EXPECT_NEAR(observed[2], TargetBlue, 1.5) << "LDM " << n;
    }
}

TEST_F(ControllerCompletion, ABalanceRunOnTheProcessorLeavesItHoldingTheFinalGains)
{
    ProcessorSimulator processor;
    processor.requireDigest();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, ProcessorSimulator::Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::meshTiles(2, 40, 20, 2, 1)));
    processor.acceptUpdates();
    QSettings().setValue("camera", true);
    Velotrimmer& velotrimmer = build();
    useSimulatedBench();
    skipReadDelays();
    Kestra& kestra = *velotrimmer.kestra();
    kestra.setUsername(QStringLiteral("admin"));
    kestra.setPassword(QStringLiteral("secret"));
    kestra.setAddress(QString::fromStdString(processor.address()));
    ASSERT_TRUE(kestra.fetchOutputConfig().ok());
    ASSERT_EQ(kestra.ldmCount(), 4u);
    DisplayInUse inUse(velotrimmer, kestra);
    velotrimmer.setMode(Velotrimmer::Balance);
    velotrimmer.setBalanceTargetRed(TargetRed);
    velotrimmer.setBalanceTargetGreen(TargetGreen);
    velotrimmer.setBalanceTargetBlue(TargetBlue);
    observeThroughModel(&kestra);

    velotrimmer.setRunning(true);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }, 120000));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Uniformity completed."));

    // The last update that reached the processor carries every LDM at its final gains.
    const std::vector<std::string> bodies = processor.bodies("PATCH", ProcessorSimulator::kDataTarget);
    ASSERT_FALSE(bodies.empty());
    const QJsonObject receivers = QJsonDocument::fromJson(QByteArray::fromStdString(bodies.back()))
                                      .object()
                                      .value("dev")["receivers"]
                                      .toObject();
    for (uint n = 1; n <= kestra.ldmCount(); ++n) {
        const Macropixel& ldm = kestra.ldm(n);
        const QJsonObject gains =
            receivers[ldm.name]["ldms"][QString::number(ldm.indexInTile)]["gains"].toObject();
        ASSERT_FALSE(gains.isEmpty()) << "LDM " << n;
        const ModelWallObserver::Triple observed = ModelWallObserver::respond(
            ModelWallObserver::variedResponse(n), {gains["r"].toDouble(), gains["g"].toDouble(), gains["b"].toDouble()});
        EXPECT_NEAR(observed[0], TargetRed, 1.5) << "LDM " << n;
        EXPECT_NEAR(observed[1], TargetGreen, 1.5) << "LDM " << n;
        EXPECT_NEAR(observed[2], TargetBlue, 1.5) << "LDM " << n;
    }
}

TEST_F(ControllerCompletion, ABalanceRunTheEngineCannotFinishEndsAsFailed)
{
    QSettings().setValue("camera", true);
    Velotrimmer& velotrimmer = build();
    useSimulatedBench();
    skipReadDelays();
    velotrimmer.setMode(Velotrimmer::Balance);
    RecordingDisplay display;
    display.fetchOutputConfig();
    ASSERT_GT(display.adjustableLdmCount(), 0u);
    display.scriptOperation("setLdmRGBs", {ErrorType::failure(ErrorType::Fatal, "refused")});
    DisplayInUse inUse(velotrimmer, display);
    observeThroughModel(&display);
    MessageCapture log;

    velotrimmer.setRunning(true);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }));
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Uniformity cancelled; display left in indeterminate state."));
    EXPECT_TRUE(log.contains("Calibrator::setLdmRGBs: fatal error refused"));
    EXPECT_EQ(display.count("setLdmRGBs"), 1);
    EXPECT_TRUE(velotrimmer.adjusterSet().adjusters().isEmpty());
}

TEST_F(ControllerCompletion, ATemplateRunHandsTheMasterItsCellsAndTheAdjustersTheirLimits)
{
    QSettings().setValue("camera", true);
    Velotrimmer& velotrimmer = build();
    useSimulatedBench();
    skipReadDelays();
    velotrimmer.setMode(Velotrimmer::Template);
    velotrimmer.setTileMeshWidth(4);
    velotrimmer.setTileMeshHeight(2);
    velotrimmer.setBtCompliantIterations(7);
    velotrimmer.setBtMinIterations(9);
    velotrimmer.setBtMaxIterations(70);
    TestDisplay display;
    display.buildWall(2, 1, 2, 40);
    DisplayInUse inUse(velotrimmer, display);
    MessageCapture log;
    QSignalSpy started(&velotrimmer, &Velotrimmer::workersRunningChanged);

    velotrimmer.setRunning(true);
    ASSERT_TRUE(started.wait());
    const AdjusterSet& set = velotrimmer.adjusterSet();
    ASSERT_EQ(set.adjusters().size(), 16);
    for (const Calibrator* adjuster : set.adjusters()) {
        EXPECT_EQ(adjuster->minPointsToFinish(), 7u);
        EXPECT_EQ(adjuster->minIterationsAdjusters(), 9u);
        EXPECT_EQ(adjuster->maxIterationsAdjusters(), 70u);
    }
    // The dummy camera cannot photograph tiles: the run ends failed after its first cycle, with
    // the master having taken the controller's sixteen cells past its list checks.
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.status() != 0; }));
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_TRUE(log.contains("getTilesObserved: not usable with dummy camera."));
    EXPECT_TRUE(log.contains("*** 16 templaters done after 1 update cycles. ***"));
    EXPECT_FALSE(log.contains("***balance(): no macropixels to process. ***"));
    EXPECT_TRUE(velotrimmer.adjusterSet().adjusters().isEmpty());
}

TEST_F(ControllerCompletion, ProgressWithoutRunningAdjustersIsLeftAlone)
{
    Velotrimmer& velotrimmer = build();
    velotrimmer.setProgress(0.25);
    velotrimmer.setStatusString("before");
    velotrimmer.updateProgress();
    EXPECT_DOUBLE_EQ(velotrimmer.progress(), 0.25);
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("before"));
}

TEST_F(ControllerCompletion, AResultFileIsReadAndSentWithTheLastPointsGains)
{
    Velotrimmer& velotrimmer = build();
    UploadRecorder display;
    DisplayInUse inUse(velotrimmer, display);
    QTemporaryDir dir;
    const QString path = dir.filePath("saved.tsv");
    const QList<CalibrationPoint> correction = builtCorrection(6);
    ASSERT_EQ(CalibrationFile::write(path, correction), QString());
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    velotrimmer.setResumeStep(3);

    ASSERT_TRUE(velotrimmer.readCalibration(QUrl::fromLocalFile(path)));
    EXPECT_EQ(display.uploads, 1);
    ASSERT_EQ(display.lastCurves.size(), 6);
    const QList<CurvePoint> expected = CorrectionCurves::curvePoints(correction);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        // The file keeps 16 significant digits.
        EXPECT_NEAR(display.lastCurves[i].redMy, expected[i].redMy, 1e-15);
        EXPECT_NEAR(display.lastCurves[i].bluePx, expected[i].bluePx, 1e-15);
        EXPECT_NEAR(display.lastCurves[i].greenMx, expected[i].greenMx, 1e-15);
    }
    EXPECT_DOUBLE_EQ(display.gains[0], correction.last().redDisplayGain);
    EXPECT_DOUBLE_EQ(display.gains[1], 0.8);
    EXPECT_TRUE(velotrimmer.calibrationAvailable());
    EXPECT_EQ(velotrimmer.resumeStep(), 0u);
    EXPECT_EQ(velotrimmer.filename(), path);
    EXPECT_EQ(velotrimmer.filepath(), dir.path() + "/");
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(running.count(), 2); // busy while sending

    // A failed upload says so where the operator looks.
    display.answer = ErrorType::failure(ErrorType::Retryable, "HTTP error 500: broken");
    ASSERT_TRUE(velotrimmer.readCalibration(QUrl::fromLocalFile(path)));
    EXPECT_EQ(velotrimmer.statusString(),
              QStringLiteral("Sending the correction to the display failed: HTTP error 500: broken"));
}

TEST_F(ControllerCompletion, AFileThatCannotBeUsedKeepsTheCorrectionInHandAndSendsNothing)
{
    Velotrimmer& velotrimmer = build();
    UploadRecorder display;
    DisplayInUse inUse(velotrimmer, display);
    QTemporaryDir dir;
    const QString good = dir.filePath("good.tsv");
    ASSERT_EQ(CalibrationFile::write(good, builtCorrection(4)), QString());
    ASSERT_TRUE(velotrimmer.readCalibration(QUrl::fromLocalFile(good)));
    ASSERT_EQ(velotrimmer.correctionPoints().size(), 4);

    QFile headerOnly(dir.filePath("header.tsv"));
    ASSERT_TRUE(headerOnly.open(QIODevice::WriteOnly));
    headerOnly.write(CalibrationFile::headerNames().join('\t').toUtf8() + "\r\n\r\n");
    headerOnly.close();
    QFile empty(dir.filePath("empty.tsv"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    QFile partial(dir.filePath("partial.tsv"));
    ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
    partial.write("red\tgreen\tblue\r\n1\t2\t3\r\n");
    partial.close();

    struct Case
    {
        QString file;
        QString status;
    };
    const Case cases[] = {
        {"header.tsv", "File header.tsv holds no correction points"},
        {"empty.tsv", "File empty.tsv is empty"},
        {"partial.tsv", "File is missing one or more px, py, mx, or my columns, so it can\u2019t be used"},
        {"missing.tsv", "Can\u2019t open file missing.tsv: "},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(velotrimmer.readCalibration(QUrl::fromLocalFile(dir.filePath(c.file))));
        EXPECT_TRUE(velotrimmer.statusString().startsWith(c.status)) << velotrimmer.statusString().toStdString();
        EXPECT_EQ(velotrimmer.correctionPoints().size(), 4) << c.file.toStdString();
        EXPECT_EQ(display.uploads, 1) << c.file.toStdString();
    }
}

TEST_F(ControllerCompletion, SavingReportsWhereItWroteOrWhyItCouldNot)
{
    // A fresh account: its documents folder, the one offered for saving, does not exist yet.
    ScopedTempFolder home("HOME");
    Velotrimmer& velotrimmer = build();
    UploadRecorder display;
    DisplayInUse inUse(velotrimmer, display);
    QTemporaryDir dir;
    const QString source = dir.filePath("in.tsv");
    ASSERT_EQ(CalibrationFile::write(source, builtCorrection(3)), QString());
    ASSERT_TRUE(velotrimmer.readCalibration(QUrl::fromLocalFile(source)));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    ASSERT_TRUE(documents.startsWith(home.path()));
    ASSERT_FALSE(QFileInfo::exists(documents));

    struct Case
    {
        QString path;
        QString reason; // empty: written
    };
    const QList<Case> cases{
        {dir.filePath("out.tsv"), {}},
        {dir.filePath("no/such/out.tsv"), "No such file or directory"},
        {dir.filePath("folder"), "a folder has that name"},
        {documents, "that is the folder offered for saving"},
        {dir.filePath("folder") + "/", "no file name was given"},
    };
    for (const bool log : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE((log ? "log to " : "correction to ") + c.path.toStdString());
            const bool folderBefore = QFileInfo(c.path).isDir();
            velotrimmer.setStatus(0);
            const QUrl url = QUrl::fromLocalFile(c.path);
            const bool answer = log ? velotrimmer.saveLog(url) : velotrimmer.saveCalibration(url);
            EXPECT_EQ(answer, log || c.reason.isEmpty());
            if (c.reason.isEmpty()) {
                EXPECT_EQ(velotrimmer.statusString(),
                          QStringLiteral("%1 saved to %2").arg(log ? "Log" : "Correction", c.path));
                EXPECT_EQ(velotrimmer.status(), 1);
                if (!log) {
                    EXPECT_EQ(CalibrationFile::read(c.path).points.size(), 3);
                }
                continue;
            }
            EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("Unable to open file %1: %2").arg(c.path, c.reason));
            EXPECT_EQ(velotrimmer.status(), -1);
            // Nothing takes the place of a folder, nor of the one offered.
            EXPECT_EQ(QFileInfo(c.path).isDir(), folderBefore);
            EXPECT_FALSE(QFileInfo(c.path).isFile());
        }
    }
}

TEST_F(ControllerCompletion, DialogsAreOfferedAFolderThatExists)
{
    ScopedTempFolder home("HOME");
    Velotrimmer& velotrimmer = build();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QTemporaryDir kept;
    const QString keptFolder = kept.path() + "/";

    // The path's own folder, else the kept one, while they exist.
    velotrimmer.setFilepath(keptFolder);
    EXPECT_EQ(velotrimmer.offeredFolder(home.path() + "/run.tsv"), home.path() + "/");
    EXPECT_EQ(velotrimmer.offeredFolder("run.tsv"), keptFolder);
    EXPECT_EQ(velotrimmer.offeredFolder(QString()), keptFolder);
    // A kept folder that has gone: the documents folder, made on a fresh account.
    velotrimmer.setFilepath(keptFolder + "gone/");
    EXPECT_EQ(velotrimmer.offeredFolder(QString()), documents + "/");
    EXPECT_TRUE(QFileInfo(documents).isDir());
    // A file in the documents folder's place: the home folder.
    ASSERT_TRUE(QDir(documents).removeRecursively());
    QFile blocker(documents);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(velotrimmer.offeredFolder(QString()), home.path() + "/");
}
