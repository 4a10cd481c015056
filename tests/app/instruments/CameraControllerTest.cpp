#include "instruments/CameraController.h"
#include "instruments/SonyCamera.h"
#include "instruments/camera/CameraSdk.h"
#include "support/FakeCamera.h"
#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/ScopedTempFolder.h"
#include "support/TestSettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QSettings>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>

namespace {

constexpr int ConnectTimeoutMs = 5000;
constexpr int CaptureTimeoutMs = 5000;

struct Status
{
    int kind = 0;
    QString message;
};

// The camera's status reports, in order, as they reach the test's thread.
class StatusLog : public QObject
{
public:
    explicit StatusLog(SonyCamera* camera)
    {
        QObject::connect(camera, &SonyCamera::status, this,
                         [this](const ErrorType& error, const QString& message) {
                             m_statuses.append({error.kind, message});
                         });
    }

    const QList<Status>& statuses() const { return m_statuses; }
    bool waitFor(const QString& message, int timeoutMs = ConnectTimeoutMs)
    {
        return QTest::qWaitFor([&] { return contains(message); }, timeoutMs);
    }
    bool contains(const QString& message) const
    {
        return std::any_of(m_statuses.begin(), m_statuses.end(), [&](const Status& s) { return s.message == message; });
    }
    // The first report after the search began: the outcome of a connection.
    Status outcome() const
    {
        for (const Status& status : m_statuses) {
            if (status.message != QStringLiteral("Looking for camera..."))
                return status;
        }
        return {};
    }

private:
    QList<Status> m_statuses;
};

// Draws the photo the fake camera downloads: a dark frame with a lit square.
QImage wallPhoto()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int y = 16; y < 32; ++y) {
        for (int x = 24; x < 40; ++x)
            image.setPixel(x, y, qRgb(200, 190, 180));
    }
    return image;
}

void waitPastStatusDelay()
{
    QTest::qWait(ImageSource::StatusDelayMs * 3);
}

class CameraControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        TestSettings::clearSettings();
        fake->setShotDrawer(&wallPhoto);
    }

    void TearDown() override
    {
        controller.reset();
        TestSettings::clearSettings();
    }

    void makeController()
    {
        controller = std::make_unique<CameraController>();
        log = std::make_unique<StatusLog>(controller->camera());
    }

    void connectReady()
    {
        makeController();
        controller->connect();
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake->setUpDone(*controller); }, ConnectTimeoutMs));
    }

    // Takes one photo and returns its path as the controller reports it, once the camera has
    // reported itself ready again (the report comes after the path and the readiness).
    QString capture()
    {
        const qsizetype before = log->statuses().size();
        const auto readyAgain = [&] {
            const QList<Status>& statuses = log->statuses();
            return std::any_of(statuses.begin() + before, statuses.end(),
                               [](const Status& s) { return s.message == QStringLiteral("Camera ready"); });
        };
        controller->grab();
        EXPECT_TRUE(controller->imagePath().isEmpty());
        const bool done = QTest::qWaitFor(
            [&] { return !controller->imagePath().isEmpty() && controller->cameraReady() && readyAgain(); },
            CaptureTimeoutMs);
        EXPECT_TRUE(done);
        return controller->imagePath();
    }

    // Returns once the camera's thread has handled every request sent to it so far.
    void settleCamera() { QMetaObject::invokeMethod(controller->camera(), [] {}, Qt::BlockingQueuedConnection); }

    ScopedTempFolder temp;
    InstalledFakeCamera fake;
    // Declared after the fake: the camera is gone before the fake is taken out.
    std::unique_ptr<CameraController> controller;
    std::unique_ptr<StatusLog> log;
};

// ---- Connection --------------------------------------------------------------------------------

struct ConnectionCase
{
    const char* name;
    std::function<void(FakeCamera&)> script;
    bool ready;
    const char* message; // the status of a failed connection
    int connectCalls;
};

void PrintTo(const ConnectionCase& c, std::ostream* os)
{
    *os << c.name;
}

class CameraConnectionTest : public CameraControllerTest, public ::testing::WithParamInterface<ConnectionCase>
{
};

TEST_P(CameraConnectionTest, ReportsTheOutcome)
{
    const ConnectionCase& c = GetParam();
    c.script(*fake);
    makeController();
    controller->connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->outcome().message.size() > 0; }, ConnectTimeoutMs));
    // A connected camera goes on to its set-up; a failure is shown once the status delay has
    // passed without a success.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return c.ready ? fake->setUpDone(*controller) : controller->errorType().kind != 0; },
        ConnectTimeoutMs));

    const Status outcome = log->outcome();
    EXPECT_EQ(fake->callCount(QStringLiteral("Connect")), c.connectCalls);
    EXPECT_FALSE(controller->cameraBusy());
    EXPECT_EQ(controller->cameraReady(), c.ready);
    if (c.ready) {
        EXPECT_EQ(outcome.kind, 0);
        EXPECT_EQ(outcome.message, QStringLiteral("Camera ready"));
        EXPECT_EQ(controller->errorType().kind, 0);
        EXPECT_EQ(controller->statusMessage(), QString());
        EXPECT_EQ(controller->cameraName(), QString::fromLatin1(FakeCamera::Model));
        EXPECT_EQ(QDir(fake->saveFolder()), QDir(temp.path()));
    } else {
        const QString message = QString::fromLatin1(c.message);
        EXPECT_EQ(outcome.kind, 2);
        EXPECT_EQ(outcome.message, message);
        EXPECT_EQ(controller->errorType().kind, 2);
        EXPECT_EQ(controller->errorType().message, message);
        EXPECT_EQ(controller->statusMessage(), message);
        EXPECT_TRUE(controller->cameraName().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CameraConnectionTest,
    ::testing::Values(
        ConnectionCase{"NoList", [](FakeCamera& f) { f.setDiscovery(FakeCamera::Discovery::NoList); }, false,
                       "No camera detected", 0},
        ConnectionCase{"LibrariesMissing",
                       [](FakeCamera& f) { f.setDiscovery(FakeCamera::Discovery::OneCamera, 0x8703); }, false,
                       "Camera discovery error 0x8703; are SDK libraries not installed?", 0},
        ConnectionCase{"DiscoveryError",
                       [](FakeCamera& f) { f.setDiscovery(FakeCamera::Discovery::OneCamera, 0x8A01); }, false,
                       "Camera discovery error 0x8A01", 0},
        ConnectionCase{"EmptyList", [](FakeCamera& f) { f.setDiscovery(FakeCamera::Discovery::EmptyList); }, false,
                       "Camera connection error", 0},
        ConnectionCase{"RefusedOnceThenConnected", [](FakeCamera& f) { f.refuseNextConnect(); }, true, "", 2},
        ConnectionCase{"Connected", [](FakeCamera&) {}, true, "", 1}),
    [](const ::testing::TestParamInfo<ConnectionCase>& info) { return std::string(info.param.name); });

TEST_F(CameraControllerTest, IsNoDummyAndOwnsItsCamera)
{
    makeController();
    EXPECT_FALSE(controller->isDummy());
    ASSERT_NE(controller->camera(), nullptr);
    EXPECT_NE(controller->camera()->thread(), QThread::currentThread());
    EXPECT_TRUE(controller->camera()->thread()->isRunning());
}

TEST_F(CameraControllerTest, ReconnectionWarningsEndReady)
{
    connectReady();
    fake->fireWarning(SCRSDK::Warning::Reconnecting);
    ASSERT_TRUE(log->waitFor(
        QStringLiteral("SonyCamera disconnected (turned off or unplugged?); trying to reconnect...")));
    EXPECT_EQ(log->statuses().last().kind, 1);
    fake->fireWarning(SCRSDK::Warning::Reconnected);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->statuses().last().message == QStringLiteral("Camera ready"); },
                                ConnectTimeoutMs));
    waitPastStatusDelay();
    EXPECT_EQ(controller->errorType().kind, 0);
    EXPECT_TRUE(controller->cameraReady());
}

// ---- Capture -----------------------------------------------------------------------------------

TEST_F(CameraControllerTest, CaptureDeliversThePhotoAndKeepsOnlyTheSavedOne)
{
    connectReady();
    const QString first = capture();
    ASSERT_FALSE(first.isEmpty());
    EXPECT_TRUE(QFile::exists(first));
    EXPECT_EQ(QFileInfo(first).absolutePath(), QFileInfo(temp.path()).absoluteFilePath());
    EXPECT_EQ(QImage(first).size(), wallPhoto().size());
    EXPECT_EQ(log->statuses().last().message, QStringLiteral("Camera ready"));
    EXPECT_EQ(log->statuses().last().kind, 0);
    EXPECT_FALSE(controller->cameraBusy());

    // A new photo replaces the last one on disk.
    const QString second = capture();
    settleCamera(); // the camera's thread removes the replaced photo once it has told the new one
    EXPECT_NE(second, first);
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_TRUE(QFile::exists(second));

    // A saved photo survives the next ones, even when saved twice.
    controller->saveLastImage();
    controller->saveLastImage();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->imagePath().isEmpty(); }, CaptureTimeoutMs));
    settleCamera();
    EXPECT_TRUE(QFile::exists(second));
    const QString third = capture();
    const QString fourth = capture();
    settleCamera();
    EXPECT_TRUE(QFile::exists(second));
    EXPECT_FALSE(QFile::exists(third));
    EXPECT_TRUE(QFile::exists(fourth));
    EXPECT_EQ(QSettings().value(QStringLiteral("savedImage")).toString(), second);
    EXPECT_EQ(fake->releaseCommands(), QStringLiteral("010010010010"));
}

TEST_F(CameraControllerTest, CaptureWithoutDownloadEndsAfterTheShutterTimeout)
{
    connectReady();
    fake->skipDownloads(true);
    QElapsedTimer elapsed;
    elapsed.start();
    controller->grab();
    ASSERT_TRUE(log->waitFor(QStringLiteral("Camera capturing image")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->statuses().last().message == QStringLiteral("Camera ready"); },
                                SonyCamera::ShutterTimeoutMs + 2000));
    EXPECT_GE(elapsed.elapsed(), SonyCamera::ShutterTimeoutMs - 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->cameraReady(); }, 1000));
    EXPECT_FALSE(controller->cameraBusy());
    EXPECT_TRUE(controller->imagePath().isEmpty());
    EXPECT_EQ(fake->releaseCommands(), QStringLiteral("010"));
}

TEST_F(CameraControllerTest, GrabFromAnotherThreadEmptiesThePathAtOnce)
{
    connectReady();
    const QString first = capture();
    ASSERT_FALSE(first.isEmpty());

    QMutex mutex;
    QList<QThread*> announcedOn;
    QObject::connect(controller.get(), &ImageSource::imagePathChanged, controller.get(), [&] {
        const QMutexLocker lock(&mutex);
        announcedOn.append(QThread::currentThread());
    }, Qt::DirectConnection);

    QString pathWhenReturned = QStringLiteral("unset");
    std::unique_ptr<QThread> grabber(QThread::create([&] {
        controller->grab();
        pathWhenReturned = controller->imagePath();
    }));
    grabber->start();
    ASSERT_TRUE(grabber->wait(5000));
    EXPECT_TRUE(pathWhenReturned.isEmpty());

    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->imagePath().isEmpty(); }, CaptureTimeoutMs));
    EXPECT_NE(controller->imagePath(), first);
    EXPECT_TRUE(QFile::exists(controller->imagePath()));
    const QMutexLocker lock(&mutex);
    ASSERT_EQ(announcedOn.size(), 2); // emptied, then the new path
    for (QThread* thread : announcedOn)
        EXPECT_EQ(thread, QThread::currentThread());
}

// ---- Lifetime ----------------------------------------------------------------------------------

TEST_F(CameraControllerTest, DestructionCleansUpOnTheWorkerThreadAndFreesTheCameraOnce)
{
    connectReady();
    const QString saved = capture();
    controller->saveLastImage();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->imagePath().isEmpty(); }, CaptureTimeoutMs));
    const QString last = capture();
    ASSERT_TRUE(QFile::exists(saved));
    ASSERT_TRUE(QFile::exists(last));

    QThread* worker = controller->camera()->thread();
    std::atomic<int> freed{0};
    QObject::connect(controller->camera(), &QObject::destroyed, [&freed] { ++freed; });
    MessageCapture messages;
    log.reset();
    controller.reset();

    EXPECT_EQ(freed.load(), 1);
    EXPECT_TRUE(messages.contains(QStringLiteral("SonyCamera::cleanup()")));
    const QList<QThread*> disconnects = fake->callThreads(QStringLiteral("Disconnect"));
    ASSERT_FALSE(disconnects.isEmpty());
    EXPECT_EQ(disconnects.last(), worker);
    EXPECT_FALSE(fake->connected());
    EXPECT_FALSE(QFile::exists(saved));
    EXPECT_FALSE(QFile::exists(last));
    EXPECT_EQ(fake->callCount(QStringLiteral("Release")), fake->callCount(QStringLiteral("Init")));
}

TEST_F(CameraControllerTest, ConstructionDeletesPhotosLeftBehind)
{
    const QString lastImage = temp.path() + QStringLiteral("/left-last.jpg");
    const QString savedImage = temp.path() + QStringLiteral("/left-saved.jpg");
    for (const QString& path : {lastImage, savedImage}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("photo");
    }
    {
        QSettings settings;
        settings.setValue(QStringLiteral("lastImage"), lastImage);
        settings.setValue(QStringLiteral("savedImage"), savedImage);
    }
    makeController();
    EXPECT_FALSE(QFile::exists(lastImage));
    EXPECT_FALSE(QFile::exists(savedImage));
}

} // namespace
