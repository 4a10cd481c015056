#include "engine/Calibrator.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/ModelWallObserver.h"
#include "support/RecordingDisplay.h"
#include "support/WorkerCalibrator.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Answer = ModelWallObserver::Answer;
using Triple = ModelWallObserver::Triple;

const Triple Targets{110.0, 120.0, 100.0};
// How close an observed level must come to its target at the end of a run.
constexpr double LevelTolerance = 1.5;

// The adjusters, their LDM records and (templating) tiles, as the controller builds them: on this
// (the GUI) thread, owned here, handed to the master as lists.
struct Wall
{
    std::vector<std::unique_ptr<Calibrator>> adjusters;
    std::vector<std::unique_ptr<Macropixel>> records;
    std::vector<std::unique_ptr<Tile>> tiles;

    QList<Calibrator*> adjusterList() const
    {
        QList<Calibrator*> list;
        for (const auto& adjuster : adjusters)
            list.append(adjuster.get());
        return list;
    }
    QList<Macropixel*> recordList() const
    {
        QList<Macropixel*> list;
        for (const auto& record : records)
            list.append(record.get());
        return list;
    }
    QList<Tile*> tileList() const
    {
        QList<Tile*> list;
        for (const auto& tile : tiles)
            list.append(tile.get());
        return list;
    }
};

// ldms adjusters and records numbered from 1; templating puts cellsPerTile cells on each tile,
// two cells to each display LDM of the tile.
Wall buildWall(uint mode, int ldms, int cellsPerTile = 0)
{
    Wall wall;
    for (int n = 1; n <= ldms; ++n) {
        auto adjuster = std::make_unique<Calibrator>(mode, uint(n));
        // Short per-level limits: the model is exact, so few points suffice.
        adjuster->setMinPointsToFinish(4);
        adjuster->setMinIterationsAdjusters(8);
        adjuster->setMaxIterationsAdjusters(60);
        adjuster->setStepRGB(Targets[0], Targets[1], Targets[2]);
        adjuster->setReadDelay(0);
        auto record = std::make_unique<Macropixel>();
        record->number = quint32(n);
        if (cellsPerTile > 0) {
            const int tileIndex = (n - 1) / cellsPerTile;
            if (tileIndex >= int(wall.tiles.size())) {
                auto tile = std::make_unique<Tile>();
                tile->number = quint32(tileIndex + 1);
                wall.tiles.push_back(std::move(tile));
            }
            record->tileNumber = quint32(tileIndex + 1);
            record->indexInTile = quint32(((n - 1) % cellsPerTile) / 2 + 1);
            wall.tiles.back()->ldms.append(record.get());
        }
        wall.adjusters.push_back(std::move(adjuster));
        wall.records.push_back(std::move(record));
    }
    return wall;
}

bool hasLineStarting(const MessageCapture& log, const QString& start)
{
    for (const QString& line : log.messages()) {
        if (line.startsWith(start))
            return true;
    }
    return false;
}

int cyclesLogged(const MessageCapture& log)
{
    static const QRegularExpression pattern(QStringLiteral("done after (\\d+) update cycles"));
    for (const QString& line : log.messages()) {
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch())
            return match.captured(1).toInt();
    }
    return -1;
}

class UniformityRun : public ::testing::Test
{
protected:
    void SetUp() override { Calibrator(Calibrator::ColorimeterMode, 0).setTask(Calibrator::Nothing); }

    // The master on its thread with the wall's lists and the targets, as the controller hands
    // them over, and the model observer answering its requests.
    void setUpMaster(uint mode, const Wall& wall, bool simulatedDisplay = true)
    {
        worker = std::make_unique<WorkerCalibrator>(&colorimeter, &display);
        Calibrator& master = worker->calibrator();
        Calibrator::Timing fast;
        fast.ldmRetryPauseMs = 1;
        fast.observationTimeoutMs = 30000;
        master.setTiming(fast);
        master.setMode(mode);
        master.setReadDelay(0);
        master.setReadCount(1);
        master.setLoggable(true);
        master.setStepRGB(Targets[0], Targets[1], Targets[2]);
        master.setSimulatedDisplay(simulatedDisplay);
        master.setAdjusters(wall.adjusterList());
        master.setMacropixels(wall.recordList());
        master.setTiles(wall.tileList());
        observer = std::make_unique<ModelWallObserver>(&master, wall.recordList(), wall.tileList());
        observer->setResponses(ModelWallObserver::variedResponse);
    }

    void setObservationTimeout(uint ms)
    {
        Calibrator::Timing timing = worker->calibrator().timing();
        timing.observationTimeoutMs = ms;
        worker->calibrator().setTiming(timing);
    }

    // done once, and no second one within a short while; running is signalled cleared before
    // done, however the run ended.
    void expectOneDone(bool completed)
    {
        ASSERT_TRUE(worker->waitForDone(1));
        EXPECT_FALSE(worker->waitForDone(2, 200));
        EXPECT_EQ(worker->doneCalls(), (QList<std::pair<uint, bool>>{{0u, completed}}));
        EXPECT_FALSE(worker->calibrator().running());
        ASSERT_TRUE(worker->waitForTaskEnd());
        EXPECT_EQ(worker->runSignals(), WorkerCalibrator::taskEndSignals(completed));
    }

    MessageCapture log;
    RecordingDisplay display;
    ModelColorimeter colorimeter{&display};
    std::unique_ptr<WorkerCalibrator> worker;
    std::unique_ptr<ModelWallObserver> observer;
};

TEST_F(UniformityRun, BalanceBringsEveryLdmToTheTargets)
{
    const Wall wall = buildWall(Calibrator::BalanceMode, 6);
    setUpMaster(Calibrator::BalanceMode, wall);
    worker->start(Calibrator::Balance);
    expectOneDone(true);

    EXPECT_TRUE(hasLineStarting(log, QStringLiteral("*** 6 balancers done after ")));
    EXPECT_EQ(worker->calibrator().statusString(), QStringLiteral("Balance run completed"));
    for (const auto& record : wall.records) {
        const Triple observed = observer->observe(record->number, {record->redGain, record->greenGain, record->blueGain});
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(observed[c], Targets[c], LevelTolerance) << "LDM " << record->number << " channel " << c;
        EXPECT_NEAR(record->redObserved, Targets[0], LevelTolerance) << "LDM " << record->number;
    }
    // The responses differ, so the trims do too.
    EXPECT_NE(wall.records[0]->redGain, wall.records[1]->redGain);

    // The first cycle sends every LDM at the neutral trim, in one batch.
    const QList<RecordingDisplay::Call> sends = display.calls(QStringLiteral("setLdmRGBs"));
    ASSERT_FALSE(sends.isEmpty());
    ASSERT_EQ(sends.first().ldms.size(), 6);
    for (const Macropixel& ldm : sends.first().ldms) {
        EXPECT_EQ(ldm.redGain, 0.0);
        EXPECT_EQ(ldm.greenGain, 0.0);
        EXPECT_EQ(ldm.blueGain, 0.0);
    }
    for (const RecordingDisplay::Call& call : sends)
        EXPECT_NE(call.thread, worker->thread()) << "the display works on its own thread";
    // One photograph per update cycle.
    EXPECT_EQ(observer->requests(), cyclesLogged(log));
    EXPECT_EQ(display.count(QStringLiteral("commitMeshRGBs")), 0);
    for (const auto& adjuster : wall.adjusters)
        EXPECT_FALSE(adjuster->running()) << adjuster->number();
}

TEST_F(UniformityRun, TemplateOnTheSimulatedDisplaySendsLaterCyclesAndPhotographsEveryCycle)
{
    const Wall wall = buildWall(Calibrator::TemplateMode, 8, 4);
    setUpMaster(Calibrator::TemplateMode, wall, true);
    // The number of setLdmRGBs calls made before each photograph.
    QList<int> sendsBefore;
    observer->onRequest([&](int) { sendsBefore.append(display.count(QStringLiteral("setLdmRGBs"))); });
    worker->start(Calibrator::Template);
    expectOneDone(true);

    ASSERT_GT(sendsBefore.size(), 2);
    // Later cycles reach the display: the gains an adjuster changes mark its tile.
    EXPECT_GT(sendsBefore.at(1), sendsBefore.at(0));
    EXPECT_GT(display.count(QStringLiteral("setLdmRGBs")), 10);
    for (const auto& record : wall.records) {
        const Triple observed = observer->observe(record->number, {record->redGain, record->greenGain, record->blueGain});
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(observed[c], Targets[c], LevelTolerance) << "cell " << record->number << " channel " << c;
    }
    // The last cycle changes nothing, sends nothing and still photographs the wall.
    EXPECT_TRUE(log.contains(QStringLiteral("*** Nothing changed; will just grab image ***")));
    EXPECT_EQ(sendsBefore.constLast(), sendsBefore.at(sendsBefore.size() - 2));
    EXPECT_EQ(observer->requests(), cyclesLogged(log));
    EXPECT_TRUE(hasLineStarting(log, QStringLiteral("*** 8 templaters done after ")));
    EXPECT_EQ(display.count(QStringLiteral("setMeshRGBs")), 0);
    EXPECT_EQ(display.count(QStringLiteral("commitMeshRGBs")), 1);
}

TEST_F(UniformityRun, TemplateOnTheProcessorUploadsOnlyTheChangedLdmsCells)
{
    const Wall wall = buildWall(Calibrator::TemplateMode, 8, 4);
    setUpMaster(Calibrator::TemplateMode, wall, false);
    worker->start(Calibrator::Template);
    expectOneDone(true);

    const QList<RecordingDisplay::Call> uploads = display.calls(QStringLiteral("setMeshRGBs"));
    ASSERT_GT(uploads.size(), 2);
    EXPECT_EQ(uploads.first().ldms.size(), 8) << "the first cycle uploads every cell";
    for (const RecordingDisplay::Call& upload : uploads) {
        EXPECT_EQ(upload.red, 1.0) << "scale";
        // Cells go up in whole LDMs: both cells of an LDM, or neither.
        QHash<QPair<quint32, quint32>, int> perLdm;
        for (const Macropixel& cell : upload.ldms)
            ++perLdm[{cell.tileNumber, cell.indexInTile}];
        for (int cells : std::as_const(perLdm))
            EXPECT_EQ(cells, 2);
    }
    // A cycle in which nothing changed uploads nothing.
    EXPECT_LT(uploads.size(), observer->requests());
    EXPECT_EQ(display.count(QStringLiteral("setLdmRGBs")), 0);
    const QList<RecordingDisplay::Call> commits = display.calls(QStringLiteral("commitMeshRGBs"));
    ASSERT_EQ(commits.size(), 1);
    EXPECT_EQ(commits.first().ldms.size(), 8);
    EXPECT_EQ(display.calls().constLast().operation, QStringLiteral("commitMeshRGBs"));
}

struct StopCase
{
    const char* name;
    Calibrator::TaskType task;
    bool simulatedDisplay;
    std::function<void(Wall&)> shapeWall;
    std::function<void(RecordingDisplay&, ModelWallObserver&, Calibrator&)> script;
    QString line; // the log line and the status, or its start
    bool commits = false;
};

class UniformityStop : public UniformityRun, public ::testing::WithParamInterface<StopCase>
{
};

TEST_P(UniformityStop, EndsOnceNotCompletedAndSaysWhy)
{
    const StopCase& stop = GetParam();
    const uint mode = stop.task == Calibrator::Template ? Calibrator::TemplateMode : Calibrator::BalanceMode;
    Wall wall = buildWall(mode, 4, mode == Calibrator::TemplateMode ? 4 : 0);
    if (stop.shapeWall)
        stop.shapeWall(wall);
    setUpMaster(mode, wall, stop.simulatedDisplay);
    if (stop.script)
        stop.script(display, *observer, worker->calibrator());
    QElapsedTimer clock;
    clock.start();
    worker->start(stop.task);
    expectOneDone(false);
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_TRUE(hasLineStarting(log, stop.line)) << qPrintable(log.messages().join(QLatin1Char('\n')));
    EXPECT_TRUE(worker->calibrator().statusString().startsWith(stop.line))
        << qPrintable(worker->calibrator().statusString());
    EXPECT_EQ(display.count(QStringLiteral("commitMeshRGBs")), stop.commits ? 1 : 0);
    EXPECT_FALSE(worker->calibrator().usingCoroutines());
}

const ErrorType Busy = ErrorType::failure(ErrorType::Retryable, QStringLiteral("busy"));
const ErrorType Gone = ErrorType::failure(ErrorType::Fatal, QStringLiteral("gone"));

INSTANTIATE_TEST_SUITE_P(
    Cases, UniformityStop,
    ::testing::Values(
        StopCase{"ThreeAdjustersFourLdms", Calibrator::Balance, true,
                 [](Wall& wall) { wall.adjusters.pop_back(); }, {},
                 QStringLiteral("***balance(): 3 adjusters != 4 macropixels. ***")},
        StopCase{"NoLdms", Calibrator::Balance, true,
                 [](Wall& wall) {
                     wall.adjusters.clear();
                     wall.records.clear();
                 },
                 {}, QStringLiteral("***balance(): no macropixels to process. ***")},
        StopCase{"OutOfSync", Calibrator::Balance, true,
                 [](Wall& wall) { std::swap(wall.records[1], wall.records[2]); }, {},
                 QStringLiteral("*** ERROR: adjusters and macropixels are out of sync: 2 vs. 3 for index 1 ***")},
        StopCase{"LdmUploadFatal", Calibrator::Balance, true, {},
                 [](RecordingDisplay& display, ModelWallObserver&, Calibrator&) {
                     display.scriptOperation(QStringLiteral("setLdmRGBs"), {{}, {}, Gone});
                 },
                 QStringLiteral("Calibrator::setLdmRGBs: fatal error gone")},
        StopCase{"LdmUploadRecoverableTwentyTimes", Calibrator::Balance, true, {},
                 [](RecordingDisplay& display, ModelWallObserver&, Calibrator&) {
                     display.scriptOperation(QStringLiteral("setLdmRGBs"), QList<ErrorType>(20, Busy));
                 },
                 QStringLiteral("Calibrator::setLdmRGBs: recoverable error busy; giving up after 20 attempts")},
        StopCase{"SilentObserver", Calibrator::Balance, true, {},
                 [](RecordingDisplay&, ModelWallObserver& observer, Calibrator& master) {
                     observer.answerFrom(3, Answer::Silent);
                     Calibrator::Timing timing = master.timing();
                     timing.observationTimeoutMs = 300;
                     master.setTiming(timing);
                 },
                 QStringLiteral("Calibrator::setAndReadMacropixels_: no observed values within 300 ms")},
        StopCase{"FailedPhotograph", Calibrator::Balance, true, {},
                 [](RecordingDisplay&, ModelWallObserver& observer, Calibrator&) {
                     observer.answerFrom(2, Answer::FailPhotograph);
                 },
                 QStringLiteral("Balance run cancelled")},
        StopCase{"MeshUploadFails", Calibrator::Template, false, {},
                 [](RecordingDisplay& display, ModelWallObserver&, Calibrator&) {
                     display.scriptOperation(QStringLiteral("setMeshRGBs"), {{}, Gone});
                 },
                 QStringLiteral("Kestra::setAndReadMacropixels_: setMeshRGBs failed: gone")},
        StopCase{"CommitFails", Calibrator::Template, false, {},
                 [](RecordingDisplay& display, ModelWallObserver&, Calibrator&) {
                     display.scriptOperation(QStringLiteral("commitMeshRGBs"), {Gone});
                 },
                 QStringLiteral("Calibrator::commitMeshRGBs: failed: gone"), true}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(UniformityRun, ClearingRunningDuringTheObservationWaitEndsPromptlyWithoutCommit)
{
    const Wall wall = buildWall(Calibrator::TemplateMode, 4, 4);
    setUpMaster(Calibrator::TemplateMode, wall, false);
    // The third photograph never comes: the stop must end the wait, not the time-out.
    observer->answerFrom(3, Answer::Silent);
    QElapsedTimer sinceStop;
    observer->onRequest([&](int request) {
        if (request == 3) {
            sinceStop.start();
            worker->stop();
        }
    });
    worker->start(Calibrator::Template);
    expectOneDone(false);
    EXPECT_LT(sinceStop.elapsed(), 5000);
    EXPECT_EQ(observer->requests(), 3);
    EXPECT_EQ(worker->calibrator().statusString(), QStringLiteral("Template run cancelled"));
    EXPECT_EQ(display.count(QStringLiteral("commitMeshRGBs")), 0);
    EXPECT_GE(display.count(QStringLiteral("setMeshRGBs")), 1) << "the uploaded meshes stay, uncommitted";
}

// The operator stops a run at once: the stop is queued behind the start before the master's
// thread has taken up either, and nothing else ever reaches that thread. The run's first wait
// must still see the stop.
TEST_F(UniformityRun, AStopQueuedRightBehindTheStartEndsTheRun)
{
    const Wall wall = buildWall(Calibrator::BalanceMode, 3);
    setUpMaster(Calibrator::BalanceMode, wall);
    observer->answerFrom(1, Answer::Silent);
    setObservationTimeout(60000);
    Calibrator& master = worker->calibrator();
    master.setTask(Calibrator::Balance);
    QMetaObject::invokeMethod(
        &master,
        [&master] {
            QMetaObject::invokeMethod(&master, "setRunning", Qt::QueuedConnection, Q_ARG(bool, true));
            QMetaObject::invokeMethod(&master, "setRunning", Qt::QueuedConnection, Q_ARG(bool, false));
        },
        Qt::BlockingQueuedConnection);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(worker->waitForDone(1, 20000)) << "the stop waited for something else to arrive";
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(worker->doneCalls(), (QList<std::pair<uint, bool>>{{0u, false}}));
    EXPECT_EQ(master.statusString(), QStringLiteral("Balance run cancelled"));
}

TEST_F(UniformityRun, StartingAnAdjusterMidRunStartsNothing)
{
    const Wall wall = buildWall(Calibrator::BalanceMode, 3);
    setUpMaster(Calibrator::BalanceMode, wall);
    Calibrator* adjuster = wall.adjusters[1].get();
    QSignalSpy adjusterDone(adjuster, &Calibrator::done);
    QSignalSpy adjusterRunning(adjuster, &Calibrator::runningChanged);
    observer->onRequest([&](int request) {
        if (request == 4) {
            adjuster->setTask(Calibrator::Balance);
            adjuster->setRunning(true);
        }
    });
    worker->start(Calibrator::Balance);
    expectOneDone(true);
    EXPECT_EQ(adjusterDone.count(), 0);
    EXPECT_EQ(adjusterRunning.count(), 0);
}

TEST_F(UniformityRun, AStartedAdjusterRefusesToRunOnItsOwn)
{
    Calibrator adjuster(Calibrator::BalanceMode, 5);
    QSignalSpy done(&adjuster, &Calibrator::done);
    adjuster.setTask(Calibrator::Balance);
    adjuster.setRunning(true);
    EXPECT_FALSE(adjuster.running());
    ASSERT_EQ(done.count(), 1);
    EXPECT_FALSE(done.at(0).at(1).toBool());
    EXPECT_TRUE(log.contains(QStringLiteral(
        "#5 balance should NOT happen here! Make sure that running is NOT sent to adjusters_[i].")));
}

} // namespace
