#include "engine/Background.h"
#include "engine/TileGrader.h"
#include "instruments/CameraController.h"
#include "instruments/ImageSource.h"
#include "support/FakeCamera.h"
#include "support/MessageCapture.h"
#include "support/ScopedTempFolder.h"
#include "support/TestPhotos.h"
#include "support/TestSettings.h"

#include <opencv2/imgcodecs.hpp>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int ConnectTimeoutMs = 5000;
constexpr int GrabTimeoutMs = 60000;
// Well below the program's ten-second wait for a photo, with room for a loaded machine.
constexpr int PromptMs = 5000;
constexpr int Wide = 3;
constexpr int High = 2;
constexpr int SubColumns = 2;
constexpr int SubRows = 2;
constexpr float Aspect = 1.5f;
constexpr int Ambient = 40;

// Pauses short enough for tests; the photo wait still leaves the fake camera time to deliver.
Background::Timing quickTiming(int imageWaitMs)
{
    Background::Timing timing;
    timing.imageWaitMs = imageWaitMs;
    timing.firstAttemptPauseMs = 10;
    timing.pauseStepMs = 30;
    return timing;
}

// Stands for the controller on the main thread: answers blankDisplay by switching the photo the
// camera takes between the dark and the lit scene, and keeps a copy of each answer to a grab.
class ControllerStandIn : public QObject
{
public:
    struct Answer
    {
        bool success = false;
        bool hadList = false;
        std::vector<cv::Mat> averages;
    };

    ControllerStandIn(Background* background, FakeCamera* fake) : m_fake(fake)
    {
        QObject::connect(background, &Background::blankDisplay, this, [this](bool blank) {
            blanks.push_back(blank);
            if (m_fake && !m_darkShot.isEmpty())
                m_fake->setShotFile(blank ? m_darkShot : m_litShot);
        });
        QObject::connect(background, &Background::grabImageDataDone, this,
                         [this](bool success, QList<cv::Mat*>* list) {
                             Answer answer{success, list != nullptr, {}};
                             if (list) {
                                 for (const cv::Mat* mat : *list)
                                     answer.averages.push_back(mat->clone());
                             }
                             answers.push_back(std::move(answer));
                         });
    }

    void setShots(const QString& lit, const QString& dark)
    {
        m_litShot = lit;
        m_darkShot = dark;
        if (m_fake)
            m_fake->setShotFile(lit);
    }

    std::vector<bool> blanks;
    std::vector<Answer> answers;

private:
    FakeCamera* m_fake;
    QString m_litShot;
    QString m_darkShot;
};

// The grabber on a worker thread of its own with its real grader, in front of the camera
// controller over the scripted fake camera, as the program keeps it.
class BackgroundTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        ASSERT_TRUE(photos.isValid());
        TestSettings::clearSettings();
        background = new Background;
        background->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, background, &QObject::deleteLater);
        standIn = std::make_unique<ControllerStandIn>(background, &*fake);
        background->setTiming(quickTiming(4000));
        background->setArrayInfo(Wide, High, Aspect);
        background->setSubarrayInfo(SubColumns, SubRows);
        background->setReadDelay(0);
        thread.start();
    }

    void TearDown() override
    {
        // The controller's quit order: stop the grab, then join the thread.
        if (thread.isRunning())
            QMetaObject::invokeMethod(background, [b = background] { b->setRunning(false); }, Qt::QueuedConnection);
        thread.quit();
        thread.wait();
        camera.reset();
        TestSettings::clearSettings();
        if (HasFailure())
            std::cout << "Log:\n" << log.messages().join('\n').toStdString() << std::endl;
    }

    void connectCamera()
    {
        camera = std::make_unique<CameraController>();
        camera->connect();
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake->setUpDone(*camera); }, ConnectTimeoutMs));
        use(camera.get());
    }

    // Queued, as the controller hands them over ahead of the grab.
    void use(ImageSource* source)
    {
        QMetaObject::invokeMethod(background, [b = background, source] { b->setImageSource(source); },
                                  Qt::QueuedConnection);
    }
    void removeReflections(bool remove)
    {
        QMetaObject::invokeMethod(background, [b = background, remove] { b->removeReflections(remove); },
                                  Qt::QueuedConnection);
    }
    void setTiming(Background::Timing timing)
    {
        QMetaObject::invokeMethod(background, [b = background, timing] { b->setTiming(timing); },
                                  Qt::QueuedConnection);
    }

    void startGrab(bool verbose = true)
    {
        QMetaObject::invokeMethod(background, [b = background] { b->setRunning(true); }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(background, [b = background, verbose] { b->grabImageData(verbose); },
                                  Qt::QueuedConnection);
    }

    // Waits for the answer, and a little longer to see that no second one follows.
    const ControllerStandIn::Answer& waitForAnswer(int timeoutMs = GrabTimeoutMs)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !standIn->answers.empty(); }, timeoutMs));
        QTest::qWait(100);
        EXPECT_EQ(standIn->answers.size(), 1u);
        if (standIn->answers.empty())
            standIn->answers.emplace_back();
        return standIn->answers.front();
    }

    bool grabberRunning()
    {
        bool running = true;
        QMetaObject::invokeMethod(background, [&] { running = background->running(); },
                                  Qt::BlockingQueuedConnection);
        return running;
    }

    // A wall of distinct sections (blue rising with the section index) over the ambient light, and
    // the ambient light alone, as PNG files the camera hands out unchanged.
    void drawShots(bool withDark)
    {
        std::vector<cv::Scalar> colours;
        for (int i = 0; i < Wide * High; ++i)
            colours.emplace_back(100 + 25 * i, 220 - 15 * i, 160 + (i % 2) * 50);
        const cv::Size size(900, 600);
        const cv::Mat wall = TestPhotos::sectionedWall(cv::Size(450, 300), Wide, High, colours);
        litShot = photos.filePath("lit.png");
        ASSERT_TRUE(cv::imwrite(litShot.toStdString(),
                                TestPhotos::photographWall(wall, size, TestPhotos::mildPerspective(size),
                                                           cv::Scalar::all(Ambient))));
        darkShot = withDark ? photos.filePath("dark.png") : QString();
        if (withDark) {
            ASSERT_TRUE(cv::imwrite(darkShot.toStdString(), cv::Mat(size, CV_8UC3, cv::Scalar::all(Ambient))));
        }
        standIn->setShots(litShot, darkShot);
    }

    // The grader's own averages for the files, on this thread.
    std::vector<cv::Mat> referenceAverages(const QString& lit, const QString& dark)
    {
        TileGrader grader;
        grader.setSections(Wide, High);
        grader.setSubsections(SubColumns, SubRows);
        grader.setAspectRatio(Aspect);
        std::vector<cv::Mat> result;
        if (!grader.loadOriginal(lit, dark))
            return result;
        for (const cv::Mat* mat : *grader.sectionAverages())
            result.push_back(mat->clone());
        return result;
    }

    static bool equal(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b)
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i].size() != b[i].size() || a[i].type() != b[i].type() || cv::norm(a[i], b[i], cv::NORM_INF) != 0.0)
                return false;
        }
        return true;
    }

    int countLines(const QString& start) const
    {
        int count = 0;
        for (const QString& line : log.messages())
            count += line.startsWith(start) ? 1 : 0;
        return count;
    }

    MessageCapture log;
    ScopedTempFolder temp;
    QTemporaryDir photos;
    QString litShot;
    QString darkShot;
    InstalledFakeCamera fake;
    // Declared after the fake: the camera is gone before the fake is taken out.
    std::unique_ptr<CameraController> camera;
    QThread thread;
    Background* background = nullptr; // deleted on its thread as it ends
    std::unique_ptr<ControllerStandIn> standIn;
};

// ---- Successful grabs --------------------------------------------------------------------------

struct GrabCase
{
    const char* name;
    bool removeReflections;
};

class SuccessfulGrab : public BackgroundTest, public ::testing::WithParamInterface<GrabCase>
{
};

TEST_P(SuccessfulGrab, ReturnsTheGradersAveragesPerSectionAndDeletesThePhotos)
{
    const GrabCase& c = GetParam();
    connectCamera();
    QList<QThread*> verboseAnnouncedOn;
    QObject::connect(camera.get(), &ImageSource::verboseChanged, camera.get(),
                     [&] { verboseAnnouncedOn.append(QThread::currentThread()); }, Qt::DirectConnection);
    drawShots(c.removeReflections);
    removeReflections(c.removeReflections);
    startGrab();

    const ControllerStandIn::Answer& answer = waitForAnswer();
    ASSERT_TRUE(answer.success) << log.messages().join('\n').toStdString();
    ASSERT_EQ(answer.averages.size(), size_t(Wide * High));

    // The grader's result for exactly the photos drawn: with a dark frame only when it was taken.
    EXPECT_TRUE(equal(answer.averages, referenceAverages(litShot, darkShot)));
    if (c.removeReflections) {
        EXPECT_FALSE(equal(answer.averages, referenceAverages(litShot, QString())));
    }

    // Section-row order: the drawn blue rises with the section index.
    for (size_t s = 1; s < answer.averages.size(); ++s) {
        EXPECT_GT(cv::mean(answer.averages[s])[0], cv::mean(answer.averages[s - 1])[0] + 5.0) << "section " << s;
        EXPECT_EQ(answer.averages[s].size(), cv::Size(SubColumns, SubRows));
    }

    // One photo per attempt loop: a dark and a lit one, or the lit one alone.
    const QStringList downloads = fake->downloads();
    EXPECT_EQ(downloads.size(), c.removeReflections ? 2 : 1);
    const std::vector<bool> blanks = c.removeReflections ? std::vector<bool>{true, false} : std::vector<bool>();
    EXPECT_EQ(standIn->blanks, blanks);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return std::none_of(downloads.begin(), downloads.end(), [](const QString& p) { return QFile::exists(p); });
    }, ConnectTimeoutMs));
    EXPECT_EQ(countLines(QStringLiteral("CaptureImage(): new image ")), downloads.size());
    EXPECT_TRUE(grabberRunning());
    // Verbose was switched on for the grab and back off, on the camera's own thread.
    EXPECT_TRUE(QTest::qWaitFor([&] { return verboseAnnouncedOn.size() == 2; }, PromptMs));
    EXPECT_EQ(verboseAnnouncedOn, QList<QThread*>(2, QThread::currentThread()));
    EXPECT_FALSE(camera->verbose());
}

INSTANTIATE_TEST_SUITE_P(Background, SuccessfulGrab,
                         ::testing::Values(GrabCase{"LitPhotoOnly", false}, GrabCase{"DarkPhotoFirst", true}),
                         [](const ::testing::TestParamInfo<GrabCase>& info) { return std::string(info.param.name); });

// ---- Failures ----------------------------------------------------------------------------------

TEST_F(BackgroundTest, ACameraThatNeverDeliversEndsInABoundedFailure)
{
    connectCamera();
    fake->skipDownloads(true);
    setTiming(quickTiming(300));
    startGrab();

    const ControllerStandIn::Answer& answer = waitForAnswer();
    EXPECT_FALSE(answer.success);
    EXPECT_FALSE(answer.hadList);
    const int noImage = countLines(QStringLiteral("CaptureImage(): no image returned after "));
    EXPECT_GE(noImage, 1);
    EXPECT_LE(noImage, Background::MaxCaptureAttempts * Background::MaxTries);
    EXPECT_LE(fake->releaseCommands().count('1'), Background::MaxCaptureAttempts * Background::MaxTries);
    EXPECT_EQ(countLines(QStringLiteral("Background::grabImageData() capture / processing failed; try #")),
              Background::MaxTries);
    EXPECT_TRUE(log.contains(QStringLiteral("Background::grabImageData() failed after multiple retries")));
    EXPECT_FALSE(grabberRunning());
}

TEST_F(BackgroundTest, AStopDuringAWaitEndsTheGrabPromptlyWithoutTheFailureLine)
{
    connectCamera();
    fake->skipDownloads(true);
    setTiming(Background::Timing{}); // the program's own ten-second wait for a photo
    startGrab();
    // The shutter is down: the grab waits for its photo.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->releaseCommands().contains(QLatin1Char('1')); }, ConnectTimeoutMs));

    QElapsedTimer elapsed;
    elapsed.start();
    QMetaObject::invokeMethod(background, [b = background] { b->setRunning(false); }, Qt::QueuedConnection);
    const ControllerStandIn::Answer& answer = waitForAnswer(PromptMs);
    EXPECT_LT(elapsed.elapsed(), PromptMs);
    EXPECT_FALSE(answer.success);
    EXPECT_FALSE(answer.hadList);
    EXPECT_FALSE(log.contains(QStringLiteral("Background::grabImageData() failed after multiple retries")));
    EXPECT_EQ(fake->releaseCommands().count('1'), 1);
}

// The grader may be changed only between grabs: a call queued while a grab waits for its photo
// is held until the grab has ended and runs before the answer goes out.
TEST_F(BackgroundTest, ACallForTheIdleGrabberWaitsForTheGrabInFlight)
{
    connectCamera();
    fake->skipDownloads(true);
    setTiming(Background::Timing{}); // the program's own ten-second wait for a photo
    std::mutex mutex;
    QStringList order; // on the grabber's thread
    QObject::connect(
        background, &Background::grabImageDataDone, background,
        [&] {
            const std::lock_guard lock(mutex);
            order.append(QStringLiteral("answer"));
        },
        Qt::DirectConnection);
    startGrab();
    ASSERT_TRUE(QTest::qWaitFor([&] { return countLines(QStringLiteral("CaptureImage(): grabbing image...")) > 0; },
                                ConnectTimeoutMs));

    QMetaObject::invokeMethod(
        background,
        [&, b = background] {
            b->whenIdle([&] {
                const std::lock_guard lock(mutex);
                order.append(QStringLiteral("call"));
            });
        },
        Qt::QueuedConnection);
    QTest::qWait(300);
    {
        const std::lock_guard lock(mutex);
        EXPECT_TRUE(order.isEmpty());
    }

    QMetaObject::invokeMethod(background, [b = background] { b->setRunning(false); }, Qt::QueuedConnection);
    waitForAnswer(PromptMs);
    const std::lock_guard lock(mutex);
    EXPECT_EQ(order, QStringList({QStringLiteral("call"), QStringLiteral("answer")}));
}

TEST_F(BackgroundTest, QuittingDuringAGrabIsClean)
{
    connectCamera();
    fake->skipDownloads(true);
    setTiming(Background::Timing{});
    startGrab();
    ASSERT_TRUE(QTest::qWaitFor([&] { return countLines(QStringLiteral("CaptureImage(): grabbing image...")) > 0; },
                                ConnectTimeoutMs));
    QElapsedTimer elapsed;
    elapsed.start();
    QMetaObject::invokeMethod(background, [b = background] { b->setRunning(false); }, Qt::QueuedConnection);
    thread.quit();
    ASSERT_TRUE(thread.wait(PromptMs));
    EXPECT_LT(elapsed.elapsed(), PromptMs);
}

TEST_F(BackgroundTest, AnUnrecoverableCameraErrorTakesNoPhoto)
{
    // A camera that finds nothing to connect to reports a fatal error, and no later report of
    // its own clears it.
    fake->setDiscovery(FakeCamera::Discovery::NoList);
    camera = std::make_unique<CameraController>();
    camera->connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return camera->errorType().kind == ErrorType::Fatal; }, ConnectTimeoutMs));
    use(camera.get());
    drawShots(false);
    startGrab();

    const ControllerStandIn::Answer& answer = waitForAnswer();
    EXPECT_FALSE(answer.success);
    EXPECT_FALSE(answer.hadList);
    EXPECT_TRUE(log.contains(QStringLiteral("Background::grabImageData() failed with unrecoverable error")));
    EXPECT_EQ(countLines(QStringLiteral("CaptureImage(): grabbing image...")), 0);
    EXPECT_TRUE(fake->downloads().isEmpty());
    EXPECT_FALSE(grabberRunning());
}

TEST_F(BackgroundTest, APhotoWithoutAWallIsRetriedThenFails)
{
    connectCamera();
    const QString blank = photos.filePath("blank.png");
    ASSERT_TRUE(cv::imwrite(blank.toStdString(), cv::Mat(cv::Size(300, 200), CV_8UC3, cv::Scalar::all(0))));
    standIn->setShots(blank, QString());
    startGrab();

    const ControllerStandIn::Answer& answer = waitForAnswer();
    EXPECT_FALSE(answer.success);
    EXPECT_FALSE(answer.hadList);
    EXPECT_EQ(fake->downloads().size(), Background::MaxTries);
    EXPECT_EQ(countLines(QStringLiteral("Background::grabImageData() capture / processing failed; try #")),
              Background::MaxTries);
    EXPECT_TRUE(log.contains(QStringLiteral("Background::grabImageData() failed after multiple retries")));
    EXPECT_FALSE(grabberRunning());
}

TEST_F(BackgroundTest, TheDummyCameraCountsAsAPhotoAtOnce)
{
    ImageSource dummy;
    dummy.connect();
    use(&dummy);
    startGrab();

    const ControllerStandIn::Answer& answer = waitForAnswer();
    // No file comes, so the grader has nothing to load and every try fails at once.
    EXPECT_FALSE(answer.success);
    EXPECT_EQ(countLines(QStringLiteral("CaptureImage(): grabbing image...")), Background::MaxTries);
    EXPECT_EQ(countLines(QStringLiteral("CaptureImage(): new image ")), 0);
    EXPECT_EQ(countLines(QStringLiteral("CaptureImage(): no image returned")), 0);
    // The grabber is done with the dummy before it goes.
    thread.quit();
    thread.wait();
}

} // namespace
