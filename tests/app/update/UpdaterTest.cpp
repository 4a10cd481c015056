#include "support/FileSizeLimit.h"
#include "support/ControllerFixture.h"

#include "LoopbackHttpServer.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QQmlApplicationEngine>
#include <QQmlContext>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

constexpr int ShortQuitDelayMs = 200;
constexpr int ShortInactivityMs = 500;
const QByteArray FeedPath = "/api/v1/updates/velotrim/release";

QByteArray feed(const QStringList& versions)
{
    QByteArray items;
    for (const QString& v : versions) {
        if (!items.isEmpty())
            items += ',';
        items += "{\"version\":\"" + v.toUtf8() + "\",\"name\":\"setup-" + v.toUtf8() + "\",\"url\":\"u" + v.toUtf8()
               + "\",\"notes\":\"n\"}";
    }
    return "{\"items\":[" + items + "]}";
}

QByteArray installerBody(int size)
{
    QByteArray body = "#!/bin/sh\necho started > \"$0.started\"\n#";
    while (body.size() < size - 1)
        body += char('a' + body.size() % 26);
    return body + '\n';
}

// A controller whose updater asks a loopback server; the trash, the desktop opener and the
// application version are the test's own.
class UpdaterTest : public ControllerFixture
{
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        ASSERT_TRUE(m_home.isValid());
        m_oldPath = qgetenv("PATH");
        m_oldData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
        QDir().mkpath(m_home.filePath("bin"));
        QDir().mkpath(m_home.filePath("data"));
        writeScript(m_home.filePath("bin/xdg-open"), "#!/bin/sh\necho \"$@\" >> " + openerLog().toUtf8() + "\n");
        qputenv("PATH", m_home.filePath("bin").toUtf8() + ":" + m_oldPath);
        QCoreApplication::setApplicationVersion("V1.4.2");
        ASSERT_TRUE(m_server.listen());
        build();
        updater().setServerAddress(m_server.baseUrl());
        updater().setQuitDelay(ShortQuitDelayMs);
    }
    void TearDown() override
    {
        ControllerFixture::TearDown();
        qputenv("PATH", m_oldPath);
        qputenv("XDG_DATA_HOME", m_oldData);
    }

    Updater& updater() { return *controller().updater(); }
    QString openerLog() const { return m_home.filePath("opened.log"); }
    QString target() const { return m_home.filePath("setup.run"); }
    bool inTrash() const { return QFile::exists(m_home.filePath("data/Trash/files/setup.run")); }

    static void writeScript(const QString& path, const QByteArray& text)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }

    // Checks and waits for the answer; the resulting available count.
    int checkAnswer(bool manual)
    {
        updater().setAvailable(-999);
        updater().setManualCheck(manual);
        QSignalSpy changed(&updater(), &Updater::availableChanged);
        updater().check("release", true);
        changed.wait(5000);
        return updater().available();
    }

    bool startDownload(const QByteArray& path)
    {
        return updater().download(m_server.baseUrl() + path, QUrl::fromLocalFile(target()));
    }

    // Runs events until the download ends (the controller stops running) without announcing
    // that the program will quit, or until the program quits. False when neither happened in time.
    bool runUntilEnded(bool* quit = nullptr)
    {
        QEventLoop loop;
        bool quitCalled = true;
        updater().setQuit([&] { loop.exit(0); });
        QObject::connect(&controller(), &Velotrimmer::runningChanged, &loop, [&](bool running) {
            if (running)
                return;
            // Looked at once the download's ending has run on: an announced quit is waited for.
            QTimer::singleShot(0, &loop, [&] {
                if (controller().statusString() == QStringLiteral("Installer launching; Velotrim will quit..."))
                    return;
                quitCalled = false;
                loop.exit(1);
            });
        });
        QTimer::singleShot(10000, &loop, [&] {
            quitCalled = false;
            loop.exit(2);
        });
        const int result = loop.exec();
        updater().setQuit([] {});
        if (quit)
            *quit = quitCalled;
        return result != 2;
    }

    QTemporaryDir m_home;
    LoopbackHttpServer m_server;
    QByteArray m_oldPath;
    QByteArray m_oldData;
};

TEST_F(UpdaterTest, CheckSendsTheFeedTargetAndTheUserAgent)
{
    m_server.route(FeedPath, feed({"1.4.3"}));
    EXPECT_EQ(checkAnswer(true), 1);
    ASSERT_EQ(m_server.requests().size(), 1);
    EXPECT_EQ(m_server.requests()[0].target, FeedPath + "?arch=Linux-x86_64&latest");
    EXPECT_EQ(m_server.requests()[0].headers.value("user-agent"), "KESTRA Velotrim/V1.4.2");
    EXPECT_EQ(updater().installers(), QStringList{"setup-1.4.3"});
    EXPECT_EQ(updater().urls(), QStringList{"u1.4.3"});
}

struct VersionCase
{
    const char* name;
    QStringList feed;
    QStringList newer;
};

class UpdaterVersions : public UpdaterTest, public ::testing::WithParamInterface<VersionCase>
{
};

TEST_P(UpdaterVersions, OnlyNewerReleasesAreListedInFeedOrder)
{
    m_server.route(FeedPath, feed(GetParam().feed));
    EXPECT_EQ(checkAnswer(true), GetParam().newer.size());
    EXPECT_EQ(updater().versions(), GetParam().newer);
}

INSTANTIATE_TEST_SUITE_P(Feed, UpdaterVersions,
    ::testing::Values(VersionCase{"PatchIsNewer", {"1.4.3"}, {"1.4.3"}},
        VersionCase{"EqualOrOlderAreNot", {"1.4.2", "V1.04.2", "1.4.1", "1.4.2.0"}, {}},
        VersionCase{"NonNumericPartIsDropped", {"1.04.beta.2", "1.04.beta.3"}, {"1.04.beta.3"}},
        VersionCase{"ThreeNewer", {"1.5", "1.4.1", "1.6", "2.0"}, {"1.5", "1.6", "2.0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdaterTest, ParseVersionDropsALeadingLetterAndNonNumericParts)
{
    EXPECT_EQ(Updater::parseVersion("V1.04.2"), QVersionNumber(1, 4, 2));
    EXPECT_EQ(Updater::parseVersion("1.04.beta.2"), QVersionNumber(1, 4, 2));
}

struct SkipCase
{
    const char* name;
    const char* application;
    const char* skip;
    bool manual;
    QStringList newer;
};

class UpdaterSkip : public UpdaterTest, public ::testing::WithParamInterface<SkipCase>
{
};

TEST_P(UpdaterSkip, TheSkipVersionRaisesTheBaselineOfStartupChecksOnly)
{
    QCoreApplication::setApplicationVersion(GetParam().application);
    QSettings().setValue("SkipVersion", GetParam().skip);
    m_server.route(FeedPath, feed({"1.5.0", "1.9.5", "1.10.0", "1.11.0"}));
    checkAnswer(GetParam().manual);
    EXPECT_EQ(updater().versions(), GetParam().newer);
}

INSTANTIATE_TEST_SUITE_P(Skip, UpdaterSkip,
    ::testing::Values(SkipCase{"StartupSkips", "V1.4.2", "1.10.0", false, {"1.11.0"}},
        SkipCase{"ManualIgnoresSkip", "V1.4.2", "1.10.0", true, {"1.5.0", "1.9.5", "1.10.0", "1.11.0"}},
        SkipCase{"ComparedAsNumbers", "1.9.0", "1.10.0", false, {"1.11.0"}},
        SkipCase{"OlderSkipKeepsTheApplication", "v1.9.6", "1.5.0", false, {"1.10.0", "1.11.0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdaterTest, NoServerFailsOnALaterTurnWithoutNetwork)
{
    updater().setServerAddress(QString());
    updater().setAvailable(-999);
    updater().check("release", true);
    EXPECT_EQ(updater().available(), -999) << "answered before the caller could wait";
    QSignalSpy changed(&updater(), &Updater::availableChanged);
    ASSERT_TRUE(changed.wait(2000));
    EXPECT_EQ(updater().available(), -1);
    EXPECT_EQ(updater().error(), "No update server configured");
    EXPECT_TRUE(m_server.requests().isEmpty());
}

TEST_F(UpdaterTest, AnEmptyBodyIsNoNewerRelease)
{
    m_server.route(FeedPath, "");
    EXPECT_EQ(checkAnswer(true), 0);
}

TEST_F(UpdaterTest, ACompleteDownloadIsShownStartedAndQuits)
{
    const QByteArray body = installerBody(4096);
    m_server.route("/setup.run", body);
    ASSERT_TRUE(startDownload("/setup.run"));
    EXPECT_TRUE(controller().running());
    QElapsedTimer clock;
    clock.start();
    bool quit = false;
    ASSERT_TRUE(runUntilEnded(&quit));
    EXPECT_TRUE(quit);
    EXPECT_GE(clock.elapsed(), ShortQuitDelayMs);
    QFile file(target());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), body);
    EXPECT_EQ(m_server.requests()[0].headers.value("user-agent"), "KESTRA Velotrim/V1.4.2");
    QFile opened(openerLog());
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll().trimmed(), m_home.path().toUtf8());
    EXPECT_TRUE(ControllerFixture::waitUntil([&] { return QFile::exists(target() + ".started"); }, 5000));
    EXPECT_EQ(controller().statusString(), "Installer launching; Velotrim will quit...");
}

struct FailureCase
{
    const char* name;
    LoopbackHttpServer::Delivery delivery;
    int status;
    const char* statusPrefix;
};

class UpdaterFailures : public UpdaterTest, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(UpdaterFailures, AFailedDownloadIsTrashedAndNeverStarted)
{
    if (GetParam().delivery == LoopbackHttpServer::Delivery::Silent)
        updater().setDownloadInactivityLimit(ShortInactivityMs);
    m_server.route("/setup.run", installerBody(100000), GetParam().status, GetParam().delivery);
    ASSERT_TRUE(startDownload("/setup.run"));
    bool quit = true;
    ASSERT_TRUE(runUntilEnded(&quit));
    EXPECT_FALSE(quit);
    EXPECT_TRUE(controller().statusString().startsWith(GetParam().statusPrefix)) << controller().statusString().toStdString();
    EXPECT_FALSE(QFile::exists(target()));
    EXPECT_TRUE(inTrash());
    EXPECT_FALSE(QFile::exists(openerLog()));
    EXPECT_FALSE(QFile::exists(target() + ".started"));
    EXPECT_FALSE(controller().running());
}

INSTANTIATE_TEST_SUITE_P(Download, UpdaterFailures,
    ::testing::Values(FailureCase{"NotFound", LoopbackHttpServer::Delivery::Whole, 404, "Download stopped with error: "},
        FailureCase{"ClosedMidBody", LoopbackHttpServer::Delivery::CloseMidBody, 200, "Download stopped with error: "},
        FailureCase{"Stalled", LoopbackHttpServer::Delivery::Silent, 200, "Download stopped with error: no data"}),
    [](const auto& info) { return std::string(info.param.name); });


TEST_F(UpdaterTest, AFailedWriteIsTrashedAndNeverStarted)
{
    m_server.route("/setup.run", installerBody(400000));
    ASSERT_TRUE(startDownload("/setup.run"));
    bool quit = true;
    {
        const FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(runUntilEnded(&quit));
    }
    EXPECT_FALSE(quit);
    EXPECT_EQ(controller().statusString(), "Download aborted; unable to write to file.");
    EXPECT_FALSE(QFile::exists(target()));
    EXPECT_TRUE(inTrash());
    EXPECT_FALSE(QFile::exists(target() + ".started"));
    EXPECT_FALSE(controller().running());
}

TEST_F(UpdaterTest, AnUntrustedServerCertificateFailsTheDownload)
{
    const TestCertificate certificate = TestCertificate::make();
    ASSERT_TRUE(certificate.valid());
    LoopbackHttpServer tls;
    ASSERT_TRUE(tls.listenTls(certificate.certificate, certificate.key));
    tls.route("/setup.run", installerBody(1000));
    ASSERT_TRUE(updater().download(tls.baseUrl() + "/setup.run", QUrl::fromLocalFile(target())));
    ASSERT_TRUE(runUntilEnded());
    EXPECT_EQ(controller().statusString(), "Download stopped with SSL errors. See Log Messages for details.");
    EXPECT_TRUE(inTrash());
    EXPECT_FALSE(QFile::exists(target() + ".started"));
}

TEST_F(UpdaterTest, ProgressIsTheFractionOfTheKnownSize)
{
    m_server.route("/setup.run", "", 200, LoopbackHttpServer::Delivery::Silent);
    ASSERT_TRUE(startDownload("/setup.run"));
    updater().downloadProgress(512, 2048);
    EXPECT_DOUBLE_EQ(controller().progress(), 0.25);
    EXPECT_EQ(controller().statusString(), "Downloading " + target() + ", 25%");
    updater().downloadProgress(512, -1);
    EXPECT_DOUBLE_EQ(controller().progress(), 0.25);
    EXPECT_EQ(controller().statusString(), "Downloading " + target());
    updater().downloadAbort();
}

TEST_F(UpdaterTest, UnknownSizeDownloadsWithoutAFraction)
{
    const QByteArray body = installerBody(3000);
    m_server.route("/setup.run", body, 200, LoopbackHttpServer::Delivery::NoLength);
    QList<double> seen;
    QObject::connect(&controller(), &Velotrimmer::progressChanged, [&] { seen.append(controller().progress()); });
    ASSERT_TRUE(startDownload("/setup.run"));
    bool quit = false;
    ASSERT_TRUE(runUntilEnded(&quit));
    EXPECT_TRUE(quit);
    for (double p : seen)
        EXPECT_TRUE(p == 0.0 || p == -1.0 || p == 1.0) << p;
    QFile file(target());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), body);
}

TEST_F(UpdaterTest, StopAndAbortEndTheDownloadAtOnce)
{
    for (const bool viaStop : {true, false}) {
        SCOPED_TRACE(viaStop ? "Stop" : "downloadAbort");
        m_server.route("/setup.run", "", 200, LoopbackHttpServer::Delivery::Silent);
        ASSERT_TRUE(startDownload("/setup.run"));
        if (viaStop) {
            controller().setRunning(false);
            updater().downloadProgress(0, 100);
        } else {
            updater().downloadAbort();
        }
        EXPECT_EQ(controller().statusString(), "Download stopped.");
        EXPECT_FALSE(controller().running());
        EXPECT_FALSE(QFile::exists(target()));
        EXPECT_FALSE(QFile::exists(openerLog()));
    }
    updater().downloadAbort(); // nothing running: nothing happens
    EXPECT_EQ(controller().statusString(), "Download stopped.");
}

TEST_F(UpdaterTest, AnUnopenableTargetSendsNothing)
{
    EXPECT_FALSE(updater().download(m_server.baseUrl() + "/setup.run",
                                    QUrl::fromLocalFile(m_home.filePath("missing/folder/setup.run"))));
    EXPECT_EQ(controller().statusString(), "Unable to open file " + m_home.filePath("missing/folder/setup.run"));
    EXPECT_FALSE(controller().running());
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_server.requests().isEmpty());
}

TEST_F(UpdaterTest, AnInstallerThatCannotStartIsReportedWithoutQuitting)
{
    // Not a program: the kernel refuses to execute it.
    m_server.route("/setup.run", QByteArray(2000, '\x7f'));
    ASSERT_TRUE(startDownload("/setup.run"));
    bool quit = true;
    ASSERT_TRUE(runUntilEnded(&quit));
    EXPECT_FALSE(quit);
    EXPECT_TRUE(controller().statusString().startsWith("Unable to start the installer")) << controller().statusString().toStdString();
    EXPECT_TRUE(QFile::exists(target()));
}

TEST_F(UpdaterTest, ADownloadIsRefusedWhileTheControllerRuns)
{
    controller().runNothing();
    ASSERT_TRUE(controller().running());
    EXPECT_FALSE(startDownload("/setup.run"));
    controller().setRunning(false);
}

// The update prompt in a small window of its own, offscreen, on the fixture's controller.
class UpdatePromptTest : public UpdaterTest
{
protected:
    void SetUp() override
    {
        UpdaterTest::SetUp();
        if (HasFatalFailure())
            return;
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->rootContext()->setContextProperty("velotrimmer", &controller());
        m_engine->loadData("import QtQuick\nimport QtQuick.Controls\n"
                           "ApplicationWindow { width: 640; height: 480; visible: true\n"
                           "  property alias prompt: updatePrompt\n  UpdatePrompt { id: updatePrompt } }\n",
                           QUrl("qrc:/src/ui/UpdatePromptHarness.qml"));
        ASSERT_EQ(m_engine->rootObjects().size(), 1);
        m_prompt = m_engine->rootObjects().first()->property("prompt").value<QObject*>();
        ASSERT_NE(m_prompt, nullptr);
    }
    void TearDown() override
    {
        m_engine.reset();
        UpdaterTest::TearDown();
    }

    void call(const char* function)
    {
        ASSERT_TRUE(QMetaObject::invokeMethod(m_prompt, function));
    }
    bool shown(const char* which)
    {
        return ControllerFixture::waitUntil([&] { return m_prompt->property(which).toBool(); }, 5000);
    }
    QString text() const { return m_prompt->property("messageText").toString(); }

    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QObject* m_prompt = nullptr;
};

TEST_F(UpdatePromptTest, AStartupResultDuringARunIsOfferedAfterIt)
{
    m_server.route(FeedPath, feed({"1.5.0"}));
    controller().runNothing();
    ASSERT_TRUE(controller().running());
    QSignalSpy changed(&updater(), &Updater::availableChanged);
    call("checkAtStart");
    ASSERT_TRUE(changed.wait(5000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(controller().running());
    EXPECT_FALSE(m_prompt->property("offerShown").toBool());
    controller().setRunning(false);
    ASSERT_TRUE(shown("offerShown"));
    EXPECT_EQ(text(), "New version 1.5.0 is available:<br><br>n<br><br>Do you want to install it?");
}

struct PromptAnswerCase
{
    const char* name;
    int status;
    QByteArray body;
    bool configured;
    const char* text; // empty: "Error: " with the updater's error
};

class UpdatePromptAnswers : public UpdatePromptTest, public ::testing::WithParamInterface<PromptAnswerCase>
{
};

TEST_P(UpdatePromptAnswers, AManualCheckAlwaysEndsWithAMessageTheStartupCheckOnlyWithAnOffer)
{
    m_server.route(FeedPath, GetParam().body, GetParam().status);
    if (!GetParam().configured)
        updater().setServerAddress(QString());
    for (const bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "manual" : "start-up");
        QSignalSpy changed(&updater(), &Updater::availableChanged);
        call(manual ? "checkNow" : "checkAtStart");
        if (manual) {
            EXPECT_TRUE(controller().running());
        }
        // At start-up no newer release leaves available at 0: no change to wait for.
        const bool answered = changed.wait(manual ? 5000 : 1000);
        EXPECT_TRUE(answered || !manual);
        QCoreApplication::processEvents();
        EXPECT_FALSE(controller().running());
        EXPECT_EQ(m_prompt->property("messageShown").toBool(), manual);
        if (manual) {
            EXPECT_EQ(text(), GetParam().text[0] ? QString(GetParam().text) : "Error: " + updater().error() + ".");
            // The status line no longer says the check is under way.
            EXPECT_EQ(controller().statusString(), text());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Prompt, UpdatePromptAnswers,
    ::testing::Values(PromptAnswerCase{"EmptyBody", 200, "", true, "No newer version found; v1.4.2 is current."},
        PromptAnswerCase{"ServerError", 500, "broken", true, ""},
        PromptAnswerCase{"NoServer", 200, "", false, "Error: No update server configured."}),
    [](const auto& info) { return std::string(info.param.name); });

// A manual check offers the skipped release again and says it is the skipped one, however its
// number is written.
TEST_F(UpdatePromptTest, TheOfferedVersionIsComparedWithTheSkippedOneAsANumber)
{
    updater().setSkipVersion("V1.05.0");
    m_server.route(FeedPath, feed({"1.5.0"}));
    call("checkNow");
    ASSERT_TRUE(shown("offerShown"));
    EXPECT_TRUE(text().endsWith("<br><br>(This version is skipped during startup check.)")) << text().toStdString();
    QObject* offer = m_prompt->findChild<QObject*>("offerBox");
    ASSERT_NE(offer, nullptr);
    EXPECT_TRUE(offer->property("otherText").toString().isEmpty()) << "Skip This Update is offered again";
    EXPECT_EQ(controller().statusString(), "New version 1.5.0 is available.");
}

TEST_F(UpdatePromptTest, ASkippedVersionIsNotOfferedAtTheNextStartupCheck)
{
    m_server.route(FeedPath, feed({"1.5.0"}));
    call("checkAtStart");
    ASSERT_TRUE(shown("offerShown"));
    call("skipOffered");
    EXPECT_EQ(QSettings().value("SkipVersion").toString(), "1.5.0");
    EXPECT_FALSE(m_prompt->property("offerShown").toBool());
    QSignalSpy changed(&updater(), &Updater::availableChanged);
    call("checkAtStart");
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(updater().available(), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_prompt->property("offerShown").toBool());
}

} // namespace
