#include "support/KestraFixture.h"

#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/SignalRecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include <boost/asio/error.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Reply = ProcessorSimulator::Reply;
using Ending = ProcessorSimulator::Ending;

// The display-settings document of a new driver whose cct was set to 5000, byte for byte.
constexpr const char* kSettingsAtCct5000 =
    R"({"dev":{"display":{"brightness":10,"cct":5000,"gains":{"b":1,"g":1,"r":1},"gamma":2.4,)"
    R"("out":{"adjust":{"enabled":true,"gain":{"b":0,"g":0,"r":0},"gamma":{"b":1,"g":1,"r":1},)"
    R"("legacy":false,"lift":{"b":0,"g":0,"r":0},"offset":{"b":0,"g":0,"r":0},"saturation":1},)"
    R"("curves":{"enabled":false}}},"ingest":{"testPattern":{"enabled":false,"type":"white"}}}})";

QJsonValue at(const QJsonObject& document, const QStringList& path)
{
    QJsonValue value = document;
    for (const QString& key : path)
        value = value.toObject().value(key);
    return value;
}

QJsonValue displayValue(const QJsonObject& document, const QString& key)
{
    return at(document, {"dev", "display", key});
}

// The display-settings document as Qt's JSON objects made it, from the driver's current values:
// what the processor has always received.
std::string qtSettingsText(const Kestra& kestra)
{
    const auto rgb = [](const QJsonValue& r, const QJsonValue& g, const QJsonValue& b) {
        return QJsonObject{{"r", r}, {"g", g}, {"b", b}};
    };
    const QJsonObject adjust{
        {"enabled", true},          {"legacy", false},
        {"lift", rgb(0, 0, 0)},     {"gamma", rgb(1, 1, 1)},
        {"gain", rgb(kestra.red(), kestra.green(), kestra.blue())},
        {"offset", rgb(0, 0, 0)},   {"saturation", 1},
    };
    const QJsonObject display{
        {"brightness", kestra.percentBrightness()},
        {"cct", qint64(kestra.cct())},
        {"gains", rgb(kestra.displayGainRed(), kestra.displayGainGreen(), kestra.displayGainBlue())},
        {"gamma", kestra.gamma()},
        {"out", QJsonObject{{"adjust", adjust}, {"curves", QJsonObject{{"enabled", kestra.curvesEnabled()}}}}},
    };
    const QJsonObject ingest{
        {"testPattern", QJsonObject{{"enabled", kestra.testPatternEnabled()}, {"type", "white"}}}};
    return QJsonDocument(QJsonObject{{"dev", QJsonObject{{"display", display}, {"ingest", ingest}}}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

class KestraTest : public KestraFixture
{
};

} // namespace

TEST_F(KestraTest, StartsWithTheProcessorDefaults)
{
    EXPECT_EQ(kestra->name(), "KESTRA");
    EXPECT_TRUE(kestra->isKestra());
    EXPECT_EQ(kestra->username(), "");
    EXPECT_EQ(kestra->password(), "");
    EXPECT_EQ(kestra->cct(), 6500u);
    EXPECT_EQ(kestra->duv(), 0.0);
    EXPECT_EQ(kestra->eotfType(), "sdrPreserve");
    EXPECT_EQ(kestra->gamma(), 2.4);
    EXPECT_EQ(kestra->lumaMax(), 10000.0);
    EXPECT_EQ(kestra->percentBrightness(), 10.0);
    EXPECT_FALSE(kestra->testPatternEnabled());
    EXPECT_FALSE(kestra->curvesEnabled());
    EXPECT_FALSE(kestra->supportsMeshUniformity());
    EXPECT_TRUE(kestra->sendingEnabled());
    EXPECT_EQ(kestra->colorStr(), "#000000");
    EXPECT_EQ(simulator.requestCount(), 0u);
}

TEST_F(KestraTest, KeepsTheUserPlainAndThePasswordScrambled)
{
    kestra->setUsername("operator");
    kestra->setPassword(QString::fromUtf8("pässwort"));

    QSettings settings;
    EXPECT_EQ(settings.value("KestraU").toString(), "operator");
    const QString stored = settings.value("KestraP").toString();
    EXPECT_FALSE(stored.contains("pässwort"));
    Scrambler scrambler(Kestra::kScramblerKey);
    EXPECT_EQ(scrambler.decryptToText(stored), QString::fromUtf8("pässwort"));

    Kestra again(io);
    EXPECT_EQ(again.username(), "operator");
    EXPECT_EQ(again.password(), QString::fromUtf8("pässwort"));
    EXPECT_EQ(simulator.requestCount(), 0u); // credentials are not sent anywhere by themselves
}

TEST_F(KestraTest, WarnsAboutADamagedStoredPassword)
{
    Scrambler scrambler(Kestra::kScramblerKey);
    QByteArray damaged = QByteArray::fromBase64(scrambler.encryptToText("secret").toLatin1());
    damaged[4] = char(damaged[4] ^ 0x5a);
    QByteArray foreign = QByteArray::fromBase64(scrambler.encryptToText("secret").toLatin1());
    foreign[0] = 2;

    for (const QByteArray& value : {damaged, foreign, QByteArray("\x03\x02")}) {
        QSettings().setValue("KestraP", QString::fromLatin1(value.toBase64()));
        MessageCapture capture;
        Kestra reading(io);
        EXPECT_EQ(reading.password(), "") << value.toHex().constData();
        EXPECT_TRUE(capture.contains(
            "Kestra: the stored processor password is damaged and cannot be read; enter it again"))
            << capture.messages().join('\n').toStdString();
    }

    // A stored empty password is no damage.
    QSettings().setValue("KestraP", scrambler.encryptToText(""));
    MessageCapture capture;
    Kestra reading(io);
    EXPECT_FALSE(capture.messages().join('\n').contains("damaged"));
}

TEST_F(KestraTest, AChangedSettingSendsTheWholeDocumentOnceBeforeItsSignal)
{
    connectToSimulator();
    std::size_t patchesAtSignal = 0;
    QObject::connect(kestra.get(), &Kestra::cctChanged, [&] { patchesAtSignal = patchCount(); });
    QSignalSpy cctChanged(kestra.get(), &Kestra::cctChanged);

    kestra->setCct(5000);

    const auto bodies = simulator.bodies("PATCH", kData);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies.front(), kSettingsAtCct5000);
    ASSERT_EQ(cctChanged.count(), 1);
    EXPECT_EQ(cctChanged.at(0).at(0).toUInt(), 5000u);
    EXPECT_EQ(patchesAtSignal, 1u);

    const auto request = simulator.accepted("PATCH", kData).front();
    EXPECT_EQ(request.header("Host"), "127.0.0.1");
    EXPECT_EQ(request.header("Content-Type"), "application/json");

    kestra->setCct(5000);
    EXPECT_EQ(patchCount(), 1u);
    EXPECT_EQ(cctChanged.count(), 1);
}

TEST_F(KestraTest, EverySettingSetterSendsOnlyOnAChange)
{
    connectToSimulator();
    struct Case
    {
        const char* name;
        std::function<void()> change;
        const char* signal;
        std::function<void(const QJsonObject&)> check;
    };
    const std::vector<Case> cases = {
        {"duv", [&] { kestra->setDuv(0.002); }, SIGNAL(duvChanged()), [](const QJsonObject&) {}},
        {"eotfType", [&] { kestra->setEotfType("pq"); }, SIGNAL(eotfTypeChanged()), [](const QJsonObject&) {}},
        {"gamma", [&] { kestra->setGamma(2.2); }, SIGNAL(gammaChanged(double)),
         [](const QJsonObject& d) { EXPECT_EQ(displayValue(d, "gamma").toDouble(), 2.2); }},
        {"percentBrightness", [&] { kestra->setPercentBrightness(55.5); }, SIGNAL(percentBrightnessChanged(double)),
         [](const QJsonObject& d) { EXPECT_EQ(displayValue(d, "brightness").toDouble(), 55.5); }},
        {"testPatternEnabled", [&] { kestra->setTestPatternEnabled(true); }, SIGNAL(testPatternEnabledChanged()),
         [](const QJsonObject& d) { EXPECT_EQ(at(d, {"dev", "ingest", "testPattern", "enabled"}), true); }},
        {"curvesEnabled", [&] { kestra->setCurvesEnabled(true); }, SIGNAL(curvesEnabledChanged()),
         [](const QJsonObject& d) { EXPECT_EQ(at(d, {"dev", "display", "out", "curves", "enabled"}), true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QSignalSpy spy(kestra.get(), c.signal);
        const std::size_t before = patchCount();
        c.change();
        ASSERT_EQ(patchCount(), before + 1);
        EXPECT_EQ(spy.count(), 1);
        const QJsonObject sent = lastPatch();
        c.check(sent);
        // The document never carries duv or the EOTF type, and always carries the constants.
        EXPECT_TRUE(displayValue(sent, "cctDuv").isUndefined());
        EXPECT_TRUE(displayValue(sent, "duv").isUndefined());
        EXPECT_TRUE(displayValue(sent, "eotfType").isUndefined());
        EXPECT_EQ(at(sent, {"dev", "display", "out", "adjust", "saturation"}), 1);
        EXPECT_EQ(at(sent, {"dev", "ingest", "testPattern", "type"}), "white");

        c.change();
        EXPECT_EQ(patchCount(), before + 1);
        EXPECT_EQ(spy.count(), 1);
    }
}

TEST_F(KestraTest, TheSettingsDocumentIsTheTextQtsJsonWrote)
{
    connectToSimulator();
    struct Case
    {
        const char* name;
        std::function<void()> change;
    };
    const std::vector<Case> cases = {
        {"the defaults", [&] { kestra->sendDisplaySettings(); }},
        {"a colour of 17 digits", [&] { kestra->setRGB(0, 0.1 + 0.2, 1.0 / 3.0, 2.0 / 3.0); }},
        {"tiny and huge gains", [&] { kestra->setDisplayGainRGB(1e-5, 1e21, 5e-324); }},
        {"gains at the decimal-exponent edges", [&] { kestra->setDisplayGainRGB(100000.0, 120000.0, 0.0001); }},
        {"whole numbers past 2^53", [&] { kestra->setDisplayGainRGB(9007199254740994.0, 1e16, -1e17); }},
        {"negative zero and a negative colour", [&] { kestra->setRGB(0, -0.0, -0.5, -1e-7); }},
        {"brightness", [&] { kestra->setPercentBrightness(1.7976931348623157e308); }},
        {"gamma", [&] { kestra->setGamma(2.2); }},
        {"the largest cct", [&] { kestra->setCct(std::numeric_limits<uint>::max()); }},
        {"both switches", [&] {
             kestra->setCurvesEnabled(true);
             kestra->setTestPatternEnabled(true);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = patchCount();
        c.change();
        ASSERT_GT(patchCount(), before);
        EXPECT_EQ(simulator.bodies("PATCH", kData).back(), qtSettingsText(*kestra));
    }
}

TEST_F(KestraTest, EverySendCarriesTheValuesOfThatMoment)
{
    // The text is kept between sends: a value changed in any way must reach the next one.
    connectToSimulator();
    const auto lastBody = [&] { return simulator.bodies("PATCH", kData).back(); };
    ASSERT_TRUE(kestra->sendDisplaySettings().ok());
    const std::string first = lastBody();
    ASSERT_TRUE(kestra->sendDisplaySettings().ok());
    EXPECT_EQ(lastBody(), first); // the same values, the same text

    struct Case
    {
        const char* name;
        std::function<void()> changeWithoutSending;
    };
    const std::vector<Case> cases = {
        {"gamma", [&] { kestra->setGamma(1.8); }},
        {"brightness", [&] { kestra->setPercentBrightness(33.0); }},
        {"cct", [&] { kestra->setCct(5600); }},
        {"curves", [&] { kestra->setCurvesEnabled(true); }},
        {"test pattern", [&] { kestra->setTestPatternEnabled(true); }},
        // The status read applies the processor's colour and display gains without sending.
        {"status read", [&] {
             kestra->setSendingEnabled(true);
             simulator.setRoute("GET", ProcessorSimulator::kStatusTarget,
                                ProcessorSimulator::Reply::json(ProcessorSimulator::status()));
             ASSERT_TRUE(kestra->readStatus().ok());
             kestra->setSendingEnabled(false);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kestra->setSendingEnabled(false);
        const std::size_t before = patchCount();
        c.changeWithoutSending();
        EXPECT_EQ(patchCount(), before);
        kestra->setSendingEnabled(true);
        ASSERT_TRUE(kestra->sendDisplaySettings().ok());
        EXPECT_EQ(lastBody(), qtSettingsText(*kestra));
        EXPECT_NE(lastBody(), first);
    }
    EXPECT_EQ(at(lastPatch(), {"dev", "display", "out", "adjust", "gain", "r"}).toDouble(), 0.8);
    EXPECT_EQ(displayValue(lastPatch(), "gains")["b"].toDouble(), 0.9);

    // Back to the first values: the first text again.
    kestra->setGamma(2.4);
    kestra->setPercentBrightness(10.0);
    kestra->setCct(6500);
    kestra->setCurvesEnabled(false);
    kestra->setTestPatternEnabled(false);
    kestra->setDisplayGainRGB(1.0, 1.0, 1.0);
    ASSERT_TRUE(kestra->setRGB(0, 0.0, 0.0, 0.0).ok());
    EXPECT_EQ(lastBody(), first);
}

TEST_F(KestraTest, WithSendingDisabledAChangeIsStoredAndSignalledOnly)
{
    connectToSimulator();
    kestra->setSendingEnabled(false);
    QSignalSpy gammaChanged(kestra.get(), &Kestra::gammaChanged);

    kestra->setGamma(2.2);
    EXPECT_EQ(kestra->gamma(), 2.2);
    EXPECT_EQ(gammaChanged.count(), 1);
    EXPECT_TRUE(kestra->sendDisplaySettings().ok());
    EXPECT_EQ(simulator.requestCount(), 0u);
}

TEST_F(KestraTest, TheTestColourAndDisplayGainsReturnTheSendResult)
{
    connectToSimulator();
    SignalRecorder recorder(kestra.get());

    EXPECT_TRUE(kestra->setRed(0.0).ok()); // the stored red: nothing at all
    EXPECT_EQ(simulator.requestCount(), 0u);
    EXPECT_TRUE(recorder.names().isEmpty());

    EXPECT_TRUE(kestra->setRed(0.25).ok());
    EXPECT_EQ(recorder.names(), QStringList({"redChanged", "colorStrChanged"}));
    EXPECT_EQ(at(lastPatch(), {"dev", "display", "out", "adjust", "gain", "r"}).toDouble(), 0.25);
    EXPECT_EQ(patchCount(), 1u);

    recorder.clear();
    EXPECT_TRUE(kestra->setRGB(0, 0.25, 0.0, 0.0).ok()); // unchanged, and still sent
    EXPECT_TRUE(recorder.names().isEmpty());
    EXPECT_EQ(patchCount(), 2u);

    EXPECT_TRUE(kestra->setDisplayGainRGB(0.9, 0.8, 0.7).ok());
    EXPECT_EQ(recorder.names(), QStringList({"displayGainRedChanged", "displayGainGreenChanged",
                                             "displayGainBlueChanged", "colorStrChanged"}));
    EXPECT_EQ(at(lastPatch(), {"dev", "display", "gains"}).toObject(),
              QJsonObject({{"r", 0.9}, {"g", 0.8}, {"b", 0.7}}));
}

TEST_F(KestraTest, RefusesNumbersThatAreNotFiniteWithoutSending)
{
    connectToSimulator();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    EXPECT_EQ(kestra->setDisplayGainRGB(nan, 1, 1).kind, ErrorType::Fatal);
    EXPECT_EQ(kestra->displayGainRed(), 1.0);
    EXPECT_EQ(kestra->setRGB(0, 0.5, inf, 0.5).kind, ErrorType::Fatal);
    EXPECT_EQ(kestra->setGreen(-inf).kind, ErrorType::Fatal);
    EXPECT_EQ(kestra->green(), 0.0);
    kestra->setGamma(nan);
    EXPECT_EQ(kestra->gamma(), 2.4);

    CurvePoint point;
    point.blueMy = nan;
    EXPECT_EQ(kestra->sendCalibration({point}, 1, 1, 1).kind, ErrorType::Fatal);
    EXPECT_EQ(kestra->sendCalibration({}, 1, inf, 1).kind, ErrorType::Fatal);
    EXPECT_EQ(simulator.requestCount(), 0u);
}

TEST_F(KestraTest, SendsTheCalibrationWithCurvesAsText)
{
    connectToSimulator();
    CurvePoint low{0.0, 0.0, 0.1, 0.12, 0.0, 0.0, 0.1, 0.11, 0.0, 0.0, 0.1, 0.1};
    CurvePoint high{1.0, 0.98, 0.9, 0.875, 1.0, 1.0, 0.9, 0.9, 1.0, 0.95, 0.9, 0.85};

    ASSERT_TRUE(kestra->sendCalibration({low, high}, 0.97, 1.0, 0.93).ok());
    const QJsonObject sent = lastPatch();
    EXPECT_EQ(displayValue(sent, "gains").toObject(), QJsonObject({{"r", 0.97}, {"g", 1.0}, {"b", 0.93}}));
    const QJsonObject curves = at(sent, {"dev", "display", "out", "curves"}).toObject();
    EXPECT_EQ(curves.keys(), QStringList({"b", "enabled", "g", "r", "y"}));
    EXPECT_EQ(curves.value("enabled"), true);
    EXPECT_EQ(curves.value("y"), "[]");
    ASSERT_TRUE(curves.value("r").isString());
    EXPECT_EQ(curves.value("r").toString(), R"([{"mx":0.1,"my":0.12,"px":0,"py":0},{"mx":0.9,"my":0.875,"px":1,"py":0.98}])");
    const QJsonArray blue = QJsonDocument::fromJson(curves.value("b").toString().toUtf8()).array();
    ASSERT_EQ(blue.size(), 2);
    EXPECT_EQ(blue.at(1).toObject(), QJsonObject({{"px", 1.0}, {"py", 0.95}, {"mx", 0.9}, {"my", 0.85}}));
    EXPECT_EQ(QJsonDocument::fromJson(curves.value("g").toString().toUtf8()).array().at(0).toObject().value("my"),
              0.11);

    ASSERT_TRUE(kestra->sendCalibration({}, 1, 1, 1).ok());
    const QJsonObject empty = at(lastPatch(), {"dev", "display", "out", "curves"}).toObject();
    for (const char* channel : {"r", "g", "b", "y"})
        EXPECT_EQ(empty.value(channel), "[]") << channel;
}

TEST_F(KestraTest, ReportsStatusesOtherThan200And204AsHttpErrors)
{
    connectToSimulator();
    struct Case
    {
        Reply reply;
        ErrorType expected;
    };
    const std::vector<Case> cases = {
        {Reply::json("", 204), {}},
        {Reply::json(R"({"ok":true})", 200), {}},
        {Reply::text("applied", 200), {}}, // a PATCH reply is not read
        {Reply::text("created", 201), ErrorType::failure(ErrorType::Retryable, "HTTP error 201: created")},
        {Reply::text("no such key %1", 400), ErrorType::failure(ErrorType::Retryable, "HTTP error 400: no such key %1")},
        {Reply::json("", 599), ErrorType::failure(ErrorType::Retryable, "HTTP error 599: ")},
    };
    for (const Case& c : cases) {
        simulator.setRoute("PATCH", kData, c.reply);
        const ErrorType result = kestra->sendCalibration({}, 1, 1, 1);
        EXPECT_EQ(result.kind, c.expected.kind) << c.reply.status;
        EXPECT_EQ(result.message, c.expected.message);
    }
}

TEST_F(KestraTest, WithoutAnAddressNothingIsResolvedOrSent)
{
    kestra->setUsername(kUser);
    MessageCapture capture;
    const ErrorType result = kestra->setDisplayGainRGB(1, 1, 1);
    EXPECT_EQ(result, ErrorType::failure(ErrorType::Fatal, "No network address"));
    EXPECT_EQ(kestra->sendCalibration({}, 1, 1, 1), result);
    EXPECT_EQ(simulator.requestCount(), 0u);
    EXPECT_FALSE(capture.messages().join('\n').contains("resolving"));
}

TEST_F(KestraTest, ResolvesOncePerAddressAndSendsTheHostWithoutPort)
{
    kestra->setUsername(kUser);
    kestra->setPassword(kPassword);
    const QString port = QString::number(simulator.port());
    for (const QString host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host.toStdString());
        MessageCapture capture;
        kestra->setAddress(host + ':' + port);
        ASSERT_TRUE(kestra->sendCalibration({}, 1, 1, 1).ok());
        ASSERT_TRUE(kestra->sendCalibration({}, 1, 1, 1).ok());
        EXPECT_EQ(capture.messages().filter("Kestra resolving address").size(), 1);
        EXPECT_TRUE(capture.contains("Kestra resolving address " + host + ':' + port));
        const QStringList resolved = capture.messages().filter("Kestra address resolved, ");
        ASSERT_EQ(resolved.size(), 1);
        EXPECT_TRUE(resolved.front().contains("127.0.0.1:" + port)) << resolved.front().toStdString();
        EXPECT_EQ(simulator.accepted("PATCH", kData).back().header("Host"), host.toStdString());
    }
}

TEST_F(KestraTest, AFailedResolutionIsTriedAgainAtTheNextRequest)
{
    connectToSimulator();
    kestra->setAddress("127.0.0.1:no-such-service-here");
    MessageCapture capture;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ErrorType result = kestra->sendCalibration({}, 1, 1, 1);
        EXPECT_EQ(result.kind, ErrorType::Retryable);
        EXPECT_FALSE(result.message.isEmpty());
    }
    EXPECT_EQ(capture.messages().filter("Kestra resolving address").size(), 2);
    EXPECT_EQ(capture.messages().filter("Kestra address failed to resolve, error ").size(), 2);
    EXPECT_EQ(simulator.requestCount(), 0u);

    kestra->setAddress(QString::fromStdString(simulator.address()));
    EXPECT_TRUE(kestra->sendCalibration({}, 1, 1, 1).ok());
}

TEST_F(KestraTest, ASendStartedWhileAnotherWaitsGoesOutAfterItWithTheLatestValues)
{
    connectToSimulator();
    ASSERT_TRUE(kestra->sendDisplaySettings().ok()); // the challenge is behind us
    constexpr auto kSlowReply = 400ms;
    Reply slow = Reply::json("", 204);
    slow.delay = kSlowReply;
    simulator.setRoute("PATCH", kData, {slow, Reply::json("", 204)});

    // Two changes arrive while the first send waits for its reply.
    QTimer::singleShot(50, kestra.get(), [&] { kestra->setGamma(2.2); });
    QTimer::singleShot(100, kestra.get(), [&] { kestra->setPercentBrightness(40); });
    kestra->setCct(5000);

    const auto sent = simulator.accepted("PATCH", kData);
    ASSERT_EQ(sent.size(), 4u);
    const QJsonObject first = parseObject(sent[1].body);
    EXPECT_EQ(displayValue(first, "cct"), 5000);
    EXPECT_EQ(displayValue(first, "gamma"), 2.4);
    // Each later document left only after the one before it was answered, and the last one
    // carries every change.
    EXPECT_GE(sent[2].received - sent[1].received, kSlowReply - 20ms);
    EXPECT_LE(sent[2].received, sent[3].received);
    const QJsonObject last = parseObject(sent[3].body);
    EXPECT_EQ(displayValue(last, "cct"), 5000);
    EXPECT_EQ(displayValue(last, "gamma"), 2.2);
    EXPECT_EQ(displayValue(last, "brightness"), 40);
    EXPECT_EQ(kestra->gamma(), 2.2);
    EXPECT_EQ(kestra->percentBrightness(), 40.0);
}

TEST_F(KestraTest, AnotherAddressCancelsTheRequestInFlight)
{
    connectToSimulator();
    simulator.setRoute("PATCH", kData, Reply::withEnding(Ending::NeverAnswer));
    const QString address = kestra->address();
    QSignalSpy addressChanged(kestra.get(), &Kestra::addressChanged);

    QTimer::singleShot(100, kestra.get(), [&] { kestra->setAddress(address); }); // the same: no effect
    QTimer::singleShot(300, kestra.get(), [&] { kestra->setAddress("127.0.0.1:1"); });
    QElapsedTimer clock;
    clock.start();
    const ErrorType result = kestra->sendCalibration({}, 1, 1, 1);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(result.kind, ErrorType::Retryable);
    EXPECT_EQ(result.message.toStdString(),
              boost::system::error_code(boost::asio::error::operation_aborted).message());
    EXPECT_EQ(addressChanged.count(), 1);
}

TEST_F(KestraTest, AWaitEndsPromptlyWhenTheApplicationQuits)
{
    connectToSimulator();
    simulator.setRoute("PATCH", kData, Reply::withEnding(Ending::NeverAnswer));
    QTimer::singleShot(100, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });

    QElapsedTimer clock;
    clock.start();
    const ErrorType first = kestra->sendCalibration({}, 1, 1, 1);
    EXPECT_EQ(first.kind, ErrorType::Retryable);
    // Once quitting, later requests end at once too.
    const ErrorType second = kestra->setDisplayGainRGB(1, 1, 1);
    EXPECT_EQ(second.kind, ErrorType::Retryable);
    EXPECT_LT(clock.elapsed(), 2000);
    recoverFromQuit();
}

TEST(KestraShutdown, LeavesTheIoContextAloneOnceItsWorkHasEnded)
{
    // The program's order at exit: the I/O context goes before the driver.
    ProcessorSimulator simulator;
    simulator.acceptUpdates();
    auto io = std::make_unique<boost::asio::io_context>();
    Kestra kestra(*io);
    kestra.setAddress(QString::fromStdString(simulator.address()));
    ASSERT_TRUE(kestra.sendDisplaySettings().ok());
    io.reset(); // any later use of it is caught by the address sanitizer
}
