#include "support/ControllerFixture.h"
#include "support/MessageCapture.h"
#include "support/ModelColorimeter.h"
#include "support/ProcessorSimulator.h"
#include "support/QtPrinters.h"

#include "display/Kestra.h"
#include "display/SimulatedDisplay.h"
#include "engine/Calibrator.h"
#include "shell/CalibrationFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QSettings>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// Whole corrections: the controller starts them, the engine runs them on its thread against a
// model colorimeter, and the controller finishes them with curves, a result name and the upload.
class ControllerCorrection : public ControllerFixture
{
protected:
    void start(DisplayBase* display, uint steps)
    {
        Velotrimmer& velotrimmer = controller();
        m_colorimeter = std::make_unique<ModelColorimeter>(display);
        velotrimmer.setColorimeter(m_colorimeter.get());
        velotrimmer.setSteps(steps);
        velotrimmer.setReadCount(1);
        velotrimmer.setStepSpacing(1.0);
        skipReadDelays();
        quickEngineTiming();
        velotrimmer.setRunning(true);
    }

    bool finished() { return waitUntil([this] { return !controller().running(); }, 90000); }

    void TearDown() override
    {
        destroy();
        m_colorimeter.reset();
        ControllerFixture::TearDown();
    }

    std::unique_ptr<ModelColorimeter> m_colorimeter;
};

namespace {

// The curves of the last calibration upload the processor received: one array per channel.
struct Upload
{
    QJsonArray red;
    QJsonArray green;
    QJsonArray blue;
    QJsonObject gains;
};

std::optional<Upload> lastUpload(const ProcessorSimulator& processor)
{
    const std::vector<ProcessorSimulator::Request> requests = processor.requests();
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
        if (it->method != "PATCH" || !it->authorized)
            continue;
        const QJsonObject display =
            QJsonDocument::fromJson(QByteArray::fromStdString(it->body)).object()["dev"].toObject()["display"].toObject();
        const QJsonObject curves = display["out"].toObject()["curves"].toObject();
        if (!curves.contains("r"))
            continue;
        auto parse = [](const QJsonValue& text) { return QJsonDocument::fromJson(text.toString().toUtf8()).array(); };
        return Upload{parse(curves["r"]), parse(curves["g"]), parse(curves["b"]), display["gains"].toObject()};
    }
    return std::nullopt;
}

} // namespace

TEST_F(ControllerCorrection, ALinearityCorrectionOnTheSimulatedDisplayEndsWithGoodCurvesAndAResultName)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    velotrimmer.setFilepath("/results/run.tsv");
    MessageCapture log;
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    start(velotrimmer.simulatedDisplay(), 4);
    ASSERT_TRUE(finished());

    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_TRUE(log.contains("Correcting to sRGB."));
    EXPECT_TRUE(log.contains("Velotrimmer: Correction completed."));
    EXPECT_TRUE(log.contains("4 points are good."));
    ASSERT_EQ(velotrimmer.correctionPoints().size(), 5);
    EXPECT_DOUBLE_EQ(velotrimmer.correctionPoints()[2].greenPx, 0.5);
    EXPECT_TRUE(velotrimmer.calibrationAvailable());
    EXPECT_TRUE(velotrimmer.filename().startsWith("/results/KestraCal-")) << velotrimmer.filename().toStdString();
    EXPECT_TRUE(velotrimmer.filename().endsWith(".tsv"));
    EXPECT_FALSE(velotrimmer.filename().contains('Z'));
    EXPECT_FALSE(velotrimmer.filename().contains(':'));
    const QStringList averages = log.messages().filter("Averages over 4 points: ");
    EXPECT_EQ(averages.size(), 1);
    EXPECT_FALSE(running.isEmpty());
    EXPECT_FALSE(running.last().at(0).toBool());
}

TEST_F(ControllerCorrection, ASingleStepCorrectionReportsOnePoint)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    MessageCapture log;
    start(velotrimmer.simulatedDisplay(), 1);
    ASSERT_TRUE(finished());
    EXPECT_TRUE(log.contains("1 point is good."));
    EXPECT_EQ(velotrimmer.status(), 1);
}

TEST_F(ControllerCorrection, ACompletedCorrectionIsJudgedByTheStepsItWasGiven)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    MessageCapture log;
    start(velotrimmer.simulatedDisplay(), 4);
    velotrimmer.setSteps(9); // for the next run
    ASSERT_TRUE(finished());
    EXPECT_TRUE(log.contains("4 points are good."));
    EXPECT_EQ(velotrimmer.status(), 1);
}

TEST_F(ControllerCorrection, AStoppedCorrectionIsACancelledOneAndCanBeResumed)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    MessageCapture log;
    start(velotrimmer.simulatedDisplay(), 17);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.progress() > 0.15; }));
    velotrimmer.setRunning(false);
    ASSERT_TRUE(waitUntil([&] { return log.contains("Velotrimmer: Correction cancelled."); }));
    ASSERT_TRUE(finished());
    EXPECT_EQ(velotrimmer.status(), -1);
    const uint resumeStep = velotrimmer.resumeStep();
    EXPECT_GT(resumeStep, 0u);

    log.clear();
    velotrimmer.resume();
    ASSERT_TRUE(finished());
    EXPECT_TRUE(log.contains("======== Resuming correction ========"));
    EXPECT_TRUE(log.contains("17 points are good."));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_EQ(velotrimmer.resumeStep(), 0u);
    EXPECT_EQ(velotrimmer.correctionPoints().size(), 18);
}

TEST_F(ControllerCorrection, NothingStartsOrSwitchesUntilTheStoppedCorrectionHasEnded)
{
    QSettings().setValue("output", true);
    Velotrimmer& velotrimmer = build();
    MessageCapture log;
    start(velotrimmer.simulatedDisplay(), 17);
    ASSERT_TRUE(waitUntil([&] { return velotrimmer.progress() > 0.1; }));
    velotrimmer.setRunning(false);

    // The calibrator has not reported its end yet: it still drives the display and owns the task.
    QSignalSpy running(&velotrimmer, &Velotrimmer::runningChanged);
    velotrimmer.setRunning(true);
    velotrimmer.takeMeasurement();
    velotrimmer.setMode(Velotrimmer::Balance);
    velotrimmer.switchOutput();
    EXPECT_FALSE(velotrimmer.running());
    EXPECT_EQ(running.count(), 0);
    EXPECT_EQ(velotrimmer.mode(), Velotrimmer::Linearity);
    EXPECT_EQ(velotrimmer.display(), static_cast<DisplayBase*>(velotrimmer.simulatedDisplay()));
    EXPECT_EQ(velotrimmer.statusString(), QStringLiteral("The last run is still ending; try again in a moment."));

    // Its end is the cancelled correction's; then a new start is taken.
    ASSERT_TRUE(waitUntil([&] { return log.contains("Velotrimmer: Correction cancelled."); }));
    EXPECT_EQ(velotrimmer.status(), -1);
    EXPECT_GT(velotrimmer.resumeStep(), 0u);
    EXPECT_FALSE(velotrimmer.running());
    velotrimmer.takeMeasurement();
    EXPECT_TRUE(velotrimmer.running());
    ASSERT_TRUE(finished());
}

TEST_F(ControllerCorrection, ACorrectionThroughTheProcessorEndsWithItsCurvesOnTheProcessorAndAFileThatSendsAgain)
{
    ProcessorSimulator processor;
    processor.requireDigest();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget, ProcessorSimulator::Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall)));
    processor.setRoute("PATCH", ProcessorSimulator::kDataTarget, ProcessorSimulator::Reply::json("{}"));

    Velotrimmer& velotrimmer = build();
    Kestra* kestra = velotrimmer.kestra();
    kestra->setUsername("admin");
    kestra->setPassword("secret");
    kestra->setAddress(QString::fromStdString(processor.address()));
    // The layout comes from the processor; the targets are its own: 6500 K and 8 % of 10000 nits.
    ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    kestra->setPercentBrightness(8.0);

    MessageCapture log;
    start(kestra, 4);
    ASSERT_TRUE(finished());
    EXPECT_TRUE(log.contains("Correcting to sRGB."));
    EXPECT_EQ(velotrimmer.status(), 1);
    EXPECT_TRUE(velotrimmer.pollDisplay());
    EXPECT_FALSE(kestra->testPatternEnabled());
    EXPECT_TRUE(kestra->curvesEnabled());

    // The processor holds the curves of every point and the last point's display gains.
    const QList<CalibrationPoint> points = velotrimmer.correctionPoints();
    ASSERT_EQ(points.size(), 5);
    std::optional<Upload> upload = lastUpload(processor);
    ASSERT_TRUE(upload.has_value());
    ASSERT_EQ(upload->red.size(), 5);
    EXPECT_EQ(upload->green.size(), 5);
    EXPECT_NEAR(upload->gains["r"].toDouble(), points.last().redDisplayGain, 1e-9);
    EXPECT_NEAR(upload->gains["b"].toDouble(), points.last().blueDisplayGain, 1e-9);

    // Saved, read back and sent again: the same curves reach the processor once more.
    QTemporaryDir dir;
    const QString path = dir.filePath("result.tsv");
    ASSERT_TRUE(velotrimmer.saveCalibration(QUrl::fromLocalFile(path)));
    const std::size_t before = processor.requestCount();
    ASSERT_TRUE(velotrimmer.readCalibration(QUrl::fromLocalFile(path)));
    EXPECT_GT(processor.requestCount(), before);
    std::optional<Upload> again = lastUpload(processor);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->red.size(), 5);
    for (qsizetype i = 0; i < 5; ++i) {
        const QJsonObject first = upload->blue.at(i).toObject();
        const QJsonObject second = again->blue.at(i).toObject();
        for (const char* key : {"px", "py", "mx", "my"})
            EXPECT_NEAR(first[key].toDouble(), second[key].toDouble(), 1e-12) << i << key;
    }
    EXPECT_EQ(velotrimmer.correctionPoints().size(), 5);
    EXPECT_FALSE(velotrimmer.running());
}
