// The processor driver's device operations against the loopback simulator: layout discovery,
// status read, test patterns and LDM gains.
#include "support/KestraFixture.h"

#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/SignalRecorder.h"

#include <boost/asio/ip/tcp.hpp>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>

namespace {

using Reply = ProcessorSimulator::Reply;
using Layout = ProcessorSimulator::Layout;

struct ExpectedLdm
{
    float x;
    float y;
    quint32 indexInTile;
    quint32 tileNumber;
    bool lit;
    double red;
    double intensity;
};

// A loopback port that nothing listens on.
QString closedLoopbackAddress()
{
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    const auto port = acceptor.local_endpoint().port();
    acceptor.close();
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

class KestraDevice : public KestraFixture
{
protected:
    KestraDevice() { connectToSimulator(); }

    void serveLayout(Layout layout)
    {
        simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json(ProcessorSimulator::layout(layout)));
    }

    void fetchWall()
    {
        serveLayout(Layout::Wall);
        ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    }

    void serveStatus(const std::string& json)
    {
        simulator.setRoute("GET", ProcessorSimulator::kStatusTarget, Reply::json(json));
    }
};

} // namespace

// ---- Layout discovery ---------------------------------------------------------------------------

TEST_F(KestraDevice, BuildsTheWallFromReceiversAndFixtures)
{
    serveLayout(Layout::Wall);
    SignalRecorder recorder(kestra.get());
    MessageCapture capture;

    ASSERT_TRUE(kestra->fetchOutputConfig().ok());

    const auto requests = simulator.accepted("GET", ProcessorSimulator::kLayoutTarget);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests.front().body, "");

    ASSERT_EQ(kestra->tileCount(), 3u);
    EXPECT_EQ(kestra->tile(1).name, kMac1);
    EXPECT_EQ(kestra->tile(2).x, 182.0f);
    EXPECT_EQ(kestra->tile(2).width, 182.0f);
    EXPECT_EQ(kestra->tile(2).height, 120.0f);
    EXPECT_EQ(kestra->tile(2).ldmColumns, 4u);
    EXPECT_EQ(kestra->tile(2).ldmRows, 3u);
    EXPECT_EQ(kestra->tile(3).y, 120.0f); // a receiver without "ldms" still has its tile

    // LDMs 45 x 40 pixels (182 / 4 leaves 2 pixels over), numbered in the order "1", "10", "2".
    const std::vector<ExpectedLdm> expected = {
        {0, 0, 1, 1, true, 0.1, 0.0},     {45, 80, 10, 1, false, 0.5, -0.9}, {45, 0, 2, 1, false, 0.0, -1.0},
        {182, 0, 1, 2, true, 0.0, 0.0},   {227, 0, 2, 2, true, 0.0, 0.0},
    };
    ASSERT_EQ(kestra->ldmCount(), expected.size());
    for (uint n = 1; n <= expected.size(); ++n) {
        SCOPED_TRACE(n);
        const Macropixel& ldm = kestra->ldm(n);
        const ExpectedLdm& e = expected[n - 1];
        EXPECT_EQ(ldm.number, n);
        EXPECT_EQ(ldm.x, e.x);
        EXPECT_EQ(ldm.y, e.y);
        EXPECT_EQ(ldm.width, 45.0f);
        EXPECT_EQ(ldm.height, 40.0f);
        EXPECT_EQ(ldm.indexInTile, e.indexInTile);
        EXPECT_EQ(ldm.tileNumber, e.tileNumber);
        EXPECT_EQ(ldm.lit, e.lit);
        EXPECT_TRUE(ldm.adjustable);
        EXPECT_EQ(ldm.redGain, e.red);
        EXPECT_EQ(ldm.intensityGain, e.intensity);
        EXPECT_EQ(ldm.name, e.tileNumber == 1 ? kMac1 : kMac2);
    }
    EXPECT_EQ(kestra->ldm(1).greenGain, 0.2);
    EXPECT_EQ(kestra->ldm(1).blueGain, 0.3);
    EXPECT_EQ(kestra->minX(), 0);
    EXPECT_EQ(kestra->maxX(), 272);
    EXPECT_EQ(kestra->maxY(), 120);
    EXPECT_TRUE(kestra->supportsMeshUniformity());

    const QStringList signalsSeen = recorder.names();
    const QStringList wallSignals = {"supportsMeshUniformityChanged",
                                     "minXChanged",
                                     "maxXChanged",
                                     "minYChanged",
                                     "maxYChanged",
                                     "ldmCountChanged",
                                     "tileCountChanged",
                                     "litTileCountChanged",
                                     "adjustableTileCountChanged",
                                     "refreshChanged",
                                     "fetchedOutputConfig",
                                     "ldmDataChanged"};
    EXPECT_EQ(signalsSeen.mid(0, wallSignals.size()), wallSignals);

    EXPECT_TRUE(capture.contains("KESTRA has 3 receivers"));
    EXPECT_TRUE(capture.contains("MAC 00:1a:2b:00:00:01: @0,0, 182x120 pixels, 3 4x3 ldms"));
    EXPECT_TRUE(capture.contains("Fixture K-100 supports mesh uniformity"));
    EXPECT_FALSE(capture.messages().join('\n').contains("Fixture K-300"));

    // The same wall again: mesh support has not changed, so it is not signalled.
    recorder.clear();
    ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    EXPECT_FALSE(recorder.names().contains("supportsMeshUniformityChanged"));
    EXPECT_TRUE(recorder.names().contains("fetchedOutputConfig"));
}

TEST_F(KestraDevice, AFailedFetchKeepsThePreviousWall)
{
    fetchWall();
    struct Case
    {
        const char* name;
        std::function<void()> arrange;
        qint32 kind;
        QString message;
    };
    const std::vector<Case> cases = {
        {"missing fixture type", [&] { serveLayout(Layout::MissingFixture); }, ErrorType::Fatal, "type K-200 missing"},
        {"server error",
         [&] { simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::text("busy", 503)); },
         ErrorType::Retryable, "HTTP error 503: busy"},
        {"reply that is not JSON",
         [&] { simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::text("<html>", 200)); },
         ErrorType::Retryable, ""},
        // No layout at all, which is not a layout without tiles.
        {"204 without a body", [&] { simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json("", 204)); },
         ErrorType::Retryable, "The processor's layout reply is empty, not a JSON object"},
        {"200 with an empty body",
         [&] { simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json("", 200)); },
         ErrorType::Retryable, "The processor's layout reply is empty, not a JSON object"},
        {"an array", [&] { simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json("[]")); },
         ErrorType::Retryable, "The processor's layout reply is a JSON array, not a JSON object"},
        {"unreachable processor", [&] { kestra->setAddress(closedLoopbackAddress()); }, ErrorType::Retryable, ""},
        {"no address", [&] { kestra->setAddress(""); }, ErrorType::Fatal, "No network address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        SignalRecorder recorder(kestra.get());
        const ErrorType result = kestra->fetchOutputConfig();
        EXPECT_EQ(result.kind, c.kind);
        if (!c.message.isEmpty())
            EXPECT_EQ(result.message, c.message);
        else
            EXPECT_FALSE(result.message.isEmpty());
        EXPECT_EQ(kestra->tileCount(), 3u);
        EXPECT_EQ(kestra->ldmCount(), 5u);
        EXPECT_EQ(kestra->ldm(5).x, 227.0f);
        EXPECT_EQ(kestra->tile(3).name, "00:1a:2b:00:00:03");
        EXPECT_TRUE(kestra->supportsMeshUniformity());
        EXPECT_TRUE(recorder.names().isEmpty()) << recorder.names().join(' ').toStdString();
    }
}

TEST_F(KestraDevice, ARefetchOfTheSameWallKeepsWhatWasMeasuredUntilTheWallChanges)
{
    fetchWall();
    kestra->setLdmRGBObserved(1, 150, 175, 150);
    ASSERT_TRUE(kestra->setLdmRGB(1, 0.9, 0.9, 0.9).ok());

    // The poll's fetch of the same wall: the measurement stays, the gains are what the processor
    // reports (the simulator's wall reports its own gains, whatever it was sent).
    ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    EXPECT_EQ(kestra->ldmRedObserved(1), 150.0);
    EXPECT_EQ(kestra->ldmGreenObserved(1), 175.0);
    EXPECT_EQ(kestra->ldm(1).redGain, 0.1);

    // A wall of another shape replaces the old one whole.
    simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       Reply::json(ProcessorSimulator::meshTiles(2, 182, 120, 4, 3)));
    ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    EXPECT_EQ(kestra->ldmCount(), 24u);
    EXPECT_EQ(kestra->ldmRedObserved(1), 0.0);
}

TEST_F(KestraDevice, LeavesOutLdmsThatCannotBePlaced)
{
    serveLayout(Layout::Malformed);
    MessageCapture capture;
    ASSERT_TRUE(kestra->fetchOutputConfig().ok());

    EXPECT_EQ(kestra->tileCount(), 2u); // the tile without LDM columns stays
    ASSERT_EQ(kestra->ldmCount(), 1u);
    EXPECT_EQ(kestra->ldm(1).indexInTile, 3u);
    EXPECT_EQ(kestra->ldm(1).x, 150.0f);
    EXPECT_EQ(kestra->ldm(1).tileNumber, 2u);
    EXPECT_FALSE(kestra->supportsMeshUniformity());
    EXPECT_EQ(capture.messages().filter("00:1a:2b:00:00:01 reports 0x2 LDMs").size(), 1);
    EXPECT_EQ(capture.messages().filter("is not a number from 1 to 12; left out").size(), 3);
}

TEST_F(KestraDevice, PlacesLdmsOfTilesWithMoreLdmsThanAnIntHolds)
{
    // 65536 x 65536 LDMs of one pixel: the last one's index within the tile is 2^32.
    simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json(R"({
        "dev": {"receivers": {"00:1a:2b:00:00:09": {"x": 10, "y": 20,
            "info": {"type": "K-900", "pixelsW": 65536, "pixelsH": 65536, "ldmsW": 65536, "ldmsH": 65536},
            "ldms": {"4294967296": {"gains": {"i": 0}}, "65537": {"gains": {"i": 0}}}}}},
        "sys": {"fixtures": {"K-900": {"cal": {}}}}})"));
    ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    ASSERT_EQ(kestra->ldmCount(), 2u);
    EXPECT_EQ(kestra->ldm(1).x, 10.0f + 65535.0f);
    EXPECT_EQ(kestra->ldm(1).y, 20.0f + 65535.0f);
    EXPECT_EQ(kestra->ldm(2).x, 10.0f);
    EXPECT_EQ(kestra->ldm(2).y, 21.0f);
}

TEST_F(KestraDevice, AnObjectWithoutReceiversGivesAnEmptyWall)
{
    for (const char* reply : {"{}", R"({"dev": {}})", R"({"dev": {"receivers": {}}, "sys": {}})"}) {
        SCOPED_TRACE(reply);
        fetchWall();
        simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json(reply));
        QSignalSpy fetched(kestra.get(), &Kestra::fetchedOutputConfig);
        QSignalSpy meshChanged(kestra.get(), &Kestra::supportsMeshUniformityChanged);
        ASSERT_TRUE(kestra->fetchOutputConfig().ok());
        EXPECT_EQ(kestra->ldmCount(), 0u);
        EXPECT_EQ(kestra->tileCount(), 0u);
        EXPECT_EQ(fetched.count(), 1);
        EXPECT_EQ(meshChanged.count(), 1);
        EXPECT_FALSE(kestra->supportsMeshUniformity());
    }
}

// ---- Status read --------------------------------------------------------------------------------

TEST_F(KestraDevice, AppliesTheStatusWithoutSendingAnything)
{
    serveStatus(ProcessorSimulator::status());
    QSignalSpy cctChanged(kestra.get(), &Kestra::cctChanged);
    QSignalSpy lumaMaxChanged(kestra.get(), &Kestra::lumaMaxChanged);

    ASSERT_TRUE(kestra->readStatus().ok());

    EXPECT_EQ(kestra->percentBrightness(), 42.5);
    EXPECT_EQ(kestra->cct(), 5600u);
    EXPECT_EQ(kestra->duv(), 0.001);
    EXPECT_EQ(kestra->gamma(), 2.2);
    EXPECT_EQ(kestra->eotfType(), "pq");
    EXPECT_EQ(kestra->lumaMax(), 1000.0);
    EXPECT_EQ(kestra->red(), 0.8);
    EXPECT_EQ(kestra->green(), 0.7);
    EXPECT_EQ(kestra->blue(), 0.6);
    EXPECT_EQ(kestra->displayGainRed(), 0.95);
    EXPECT_EQ(kestra->displayGainBlue(), 0.9);
    EXPECT_TRUE(kestra->testPatternEnabled());
    EXPECT_EQ(kestra->outputFrequency(), 50.0);
    EXPECT_TRUE(kestra->sendingEnabled());
    EXPECT_EQ(cctChanged.count(), 1);
    EXPECT_EQ(lumaMaxChanged.count(), 1);
    EXPECT_EQ(lumaMaxChanged.at(0).at(0).toDouble(), 1000.0);
    EXPECT_EQ(simulator.accepted("GET", ProcessorSimulator::kStatusTarget).size(), 1u);
    EXPECT_EQ(patchCount(), 0u);

    // The same status again: only the display gains, which are stored without comparing.
    SignalRecorder recorder(kestra.get());
    ASSERT_TRUE(kestra->readStatus().ok());
    EXPECT_EQ(recorder.names(), QStringList({"displayGainRedChanged", "displayGainGreenChanged",
                                             "displayGainBlueChanged", "colorStrChanged"}));
    EXPECT_EQ(patchCount(), 0u);

    // A later change by the operator is sent again.
    kestra->setGamma(2.4);
    EXPECT_EQ(patchCount(), 1u);
}

TEST_F(KestraDevice, AStatusMemberOfTheWrongTypeLeavesItsPropertyAlone)
{
    serveStatus(ProcessorSimulator::status());
    ASSERT_TRUE(kestra->readStatus().ok());

    serveStatus(R"({"dev": {"display": {"brightness": "42", "cct": 6500.5, "cctDuv": null, "gamma": null,
        "eotfType": 3, "lumaMax": 80, "gains": {"r": 1, "g": 1, "b": 1},
        "out": {"adjust": {"gain": {"r": 0.5, "g": 0.5, "b": 0.5}}}},
        "ingest": {"testPattern": {"enabled": "yes"}, "outputFreq": "fast"}}})");
    ASSERT_TRUE(kestra->readStatus().ok());
    EXPECT_EQ(kestra->percentBrightness(), 42.5);
    EXPECT_EQ(kestra->cct(), 6501u); // rounded, not zeroed
    EXPECT_EQ(kestra->duv(), 0.001);
    EXPECT_EQ(kestra->gamma(), 2.2);
    EXPECT_EQ(kestra->eotfType(), "pq");
    EXPECT_EQ(kestra->lumaMax(), 100.0); // never below 100
    EXPECT_EQ(kestra->red(), 0.5);
    EXPECT_TRUE(kestra->testPatternEnabled());
    EXPECT_EQ(kestra->outputFrequency(), 50.0);

    // The next change by the operator carries the values read, not zeros.
    kestra->setCurvesEnabled(true);
    const QJsonObject sent = lastPatch();
    EXPECT_EQ(sent.value("dev")["display"]["gamma"], 2.2);
    EXPECT_EQ(sent.value("dev")["display"]["brightness"], 42.5);
    EXPECT_EQ(sent.value("dev")["display"]["cct"], 6501);
}

TEST_F(KestraDevice, TheOutputGainReadBackIsComparedFuzzilyLikeTheBaseColour)
{
    serveStatus(ProcessorSimulator::status());
    ASSERT_TRUE(kestra->readStatus().ok());

    // The processor's own rounding noise is no change of colour.
    serveStatus(R"({"dev": {"display": {"gains": {"r": 1, "g": 1, "b": 1},
        "out": {"adjust": {"gain": {"r": 0.8000000000001, "g": 0.7, "b": 0.6}}}}}})");
    SignalRecorder recorder(kestra.get());
    ASSERT_TRUE(kestra->readStatus().ok());
    EXPECT_EQ(kestra->red(), 0.8);
    EXPECT_FALSE(recorder.names().contains("redChanged")) << recorder.names().join(' ').toStdString();
    EXPECT_EQ(patchCount(), 0u);
}

TEST_F(KestraDevice, ReportsIncompleteColourGroupsUnlessCurvesAreOn)
{
    struct Case
    {
        const char* status;
        ErrorType expected;
    };
    const ErrorType rgbMissing = ErrorType::failure(ErrorType::Fatal, "RGB data not found in KESTRA status");
    const ErrorType gainsMissing =
        ErrorType::failure(ErrorType::Fatal, "display.gains RGB data not found in KESTRA status");
    const std::vector<Case> cases = {
        {R"({"dev":{"display":{"brightness":30,"gains":{"r":1,"g":1,"b":1}},"ingest":{"outputFreq":48}}})", rgbMissing},
        {R"({"dev":{"display":{"brightness":30,"gains":{"r":1,"g":1,"b":1},"out":{"curves":{"enabled":true}}},"ingest":{"outputFreq":48}}})",
         {}},
        {R"({"dev":{"display":{"brightness":30,"gains":{"r":1,"b":1},"out":{"adjust":{"gain":{"r":1,"g":1,"b":1}}}}}})",
         gainsMissing},
        {R"({"dev":{"display":{"brightness":30}}})", gainsMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        kestra->setPercentBrightness(10);
        serveStatus(c.status);
        EXPECT_EQ(kestra->readStatus(), c.expected);
        EXPECT_EQ(kestra->percentBrightness(), 30.0); // the rest is applied all the same
    }
    EXPECT_EQ(kestra->outputFrequency(), 48.0);
}

TEST_F(KestraDevice, AFailedStatusReadChangesNothing)
{
    simulator.setRoute("GET", ProcessorSimulator::kStatusTarget, Reply::text("{", 200));
    const ErrorType result = kestra->readStatus();
    EXPECT_EQ(result.kind, ErrorType::Retryable);
    EXPECT_EQ(kestra->cct(), 6500u);
    EXPECT_TRUE(kestra->sendingEnabled());
}

// ---- Test patterns ------------------------------------------------------------------------------

TEST_F(KestraDevice, ShowsTheWhitePatternAndTurnsItOff)
{
    ASSERT_TRUE(kestra->showTestPattern(1, 0, 0).ok());
    ASSERT_TRUE(kestra->showTestPattern(0, 0, 0).ok());
    const auto bodies = simulator.bodies("PATCH", kData);
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], R"({"dev":{"ingest":{"testPattern":{"enabled":true,"mediaEnabled":false,"type":"white"}}}})");
    EXPECT_EQ(bodies[1], R"({"dev":{"ingest":{"testPattern":{"enabled":false,"mediaEnabled":false}}}})");
    EXPECT_FALSE(kestra->testPatternEnabled()); // follows the processor at the next status read

    for (const qint8 mode : {qint8(3), qint8(-1)})
        EXPECT_TRUE(kestra->showTestPattern(mode, 90, 60).ok());
    EXPECT_EQ(simulator.requestCount(), 3u); // the challenge and the two PATCHes only
}

TEST_F(KestraDevice, GeneratesAGridOfCentredRectangles)
{
    struct Case
    {
        int width;
        int height;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {90, 60,
         R"({"$schema":"./kestra-generate-v1.json","draw":[{"draw":[{"color":[1,1,1],"position":[30,20],"size":[30,20],"type":"rect"}],"step":[90,60],"type":"repeat"}]})"},
        {100, 100,
         R"({"$schema":"./kestra-generate-v1.json","draw":[{"draw":[{"color":[1,1,1],"position":[33,33],"size":[33,33],"type":"rect"}],"step":[100,100],"type":"repeat"}]})"},
        {5, 0,
         R"({"$schema":"./kestra-generate-v1.json","draw":[{"draw":[{"color":[1,1,1],"position":[2,0],"size":[2,0],"type":"rect"}],"step":[5,0],"type":"repeat"}]})"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(kestra->showTestPattern(2, c.width, c.height).ok());
        EXPECT_EQ(simulator.bodies("PATCH", kData).back(), R"({"dev":{"ingest":{"testPattern":{"enabled":false}}}})");
        EXPECT_EQ(simulator.bodies("POST", ProcessorSimulator::kGenerateTarget).back(), c.expected);
    }

    // A refused first step sends no generator document.
    simulator.setRoute("PATCH", kData, Reply::text("locked", 423));
    EXPECT_EQ(kestra->showTestPattern(2, 90, 60), ErrorType::failure(ErrorType::Retryable, "HTTP error 423: locked"));
    EXPECT_EQ(simulator.bodies("POST", ProcessorSimulator::kGenerateTarget).size(), cases.size());

    kestra->setAddress("");
    for (const qint8 mode : {qint8(0), qint8(1), qint8(2)})
        EXPECT_EQ(kestra->showTestPattern(mode, 90, 60).message, "No network address");
}

// ---- LDM gains ----------------------------------------------------------------------------------

TEST_F(KestraDevice, SendsTheGainsOfOneLdm)
{
    fetchWall();
    QSignalSpy ldmData(kestra.get(), &Kestra::ldmDataChanged);

    EXPECT_EQ(kestra->setLdmRGB(0, 1, 1, 1), ErrorType::failure(ErrorType::Fatal));
    EXPECT_EQ(kestra->setLdmRGB(6, 1, 1, 1), ErrorType::failure(ErrorType::Fatal));
    EXPECT_EQ(patchCount(), 0u);

    ASSERT_TRUE(kestra->setLdmRGB(2, 0.1, -0.2, 0.3).ok());
    EXPECT_EQ(simulator.bodies("PATCH", kData).back(),
              R"({"dev":{"receivers":{"00:1a:2b:00:00:01":{"ldms":{"10":{"gains":{"b":0.3,"g":-0.2,"i":0,"r":0.1}}}}}}})");
    EXPECT_EQ(ldmData.count(), 1);
    EXPECT_EQ(kestra->ldm(2).greenGain, -0.2);

    // Through setRGB with an LDM number: intensity 0.
    ASSERT_TRUE(kestra->setRGB(4, 0.5, 0.5, 0.5).ok());
    EXPECT_EQ(lastPatch().value("dev")["receivers"][kMac2]["ldms"]["1"]["gains"]["i"], 0);
    EXPECT_EQ(kestra->red(), 0.0); // the test colour is left alone

    EXPECT_EQ(kestra->setLdmRGB(1, std::numeric_limits<double>::quiet_NaN(), 0, 0).kind, ErrorType::Fatal);
    EXPECT_EQ(kestra->ldm(1).redGain, 0.1);
    EXPECT_EQ(patchCount(), 2u);
}

TEST_F(KestraDevice, GroupsTheGainsOfManyLdmsByReceiver)
{
    fetchWall();
    auto entry = [](quint32 number, double red) {
        Macropixel m;
        m.number = number;
        m.redGain = red;
        m.intensityGain = -1.0;
        return m;
    };
    struct Case
    {
        const char* name;
        std::vector<Macropixel> entries;
        QJsonObject receivers;
    };
    const auto ldm = [](double red) {
        return QJsonObject{{"gains", QJsonObject{{"r", red}, {"g", 0}, {"b", 0}, {"i", -1}}}};
    };
    const std::vector<Case> cases = {
        {"A, A, B", {entry(1, 0.1), entry(3, 0.3), entry(4, 0.4)},
         QJsonObject{{kMac1, QJsonObject{{"ldms", QJsonObject{{"1", ldm(0.1)}, {"2", ldm(0.3)}}}}},
                     {kMac2, QJsonObject{{"ldms", QJsonObject{{"1", ldm(0.4)}}}}}}},
        {"A, B, A keeps both of A", {entry(1, 0.1), entry(4, 0.4), entry(2, 0.2)},
         QJsonObject{{kMac1, QJsonObject{{"ldms", QJsonObject{{"1", ldm(0.1)}, {"10", ldm(0.2)}}}}},
                     {kMac2, QJsonObject{{"ldms", QJsonObject{{"1", ldm(0.4)}}}}}}},
        {"the later of one LDM, invalid numbers skipped", {entry(5, 0.1), entry(0, 9), entry(5, 0.5), entry(6, 9)},
         QJsonObject{{kMac2, QJsonObject{{"ldms", QJsonObject{{"2", ldm(0.5)}}}}}}},
        {"empty", {}, QJsonObject{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Macropixel> entries = c.entries;
        QList<Macropixel*> list;
        for (Macropixel& m : entries)
            list.append(&m);
        QSignalSpy ldmData(kestra.get(), &Kestra::ldmDataChanged);
        ASSERT_TRUE(kestra->setLdmRGBs(list).ok());
        EXPECT_EQ(lastPatch(), QJsonObject({{"dev", QJsonObject{{"receivers", c.receivers}}}}));
        EXPECT_EQ(ldmData.count(), 1);
    }
    EXPECT_EQ(kestra->ldm(2).redGain, 0.2);
    EXPECT_EQ(kestra->ldm(5).redGain, 0.5);
}

TEST_F(KestraDevice, LightingSendsEveryLdmsGains)
{
    fetchWall();
    kestra->selectLdms(QPoint(0, 0), QPoint(100, 40)); // LDMs 1 and 3
    kestra->lightSelectedLdms();
    const QJsonObject sent = lastPatch().value("dev")["receivers"].toObject();
    EXPECT_EQ(sent[kMac1]["ldms"].toObject().size(), 3);
    EXPECT_EQ(sent[kMac1]["ldms"]["2"]["gains"]["i"], 0);
    EXPECT_EQ(sent[kMac1]["ldms"]["10"]["gains"]["i"], -1);
    EXPECT_EQ(sent[kMac2]["ldms"]["2"]["gains"]["i"], -1);

    kestra->resetLdms(true, true);
    EXPECT_EQ(lastPatch().value("dev")["receivers"][kMac1]["ldms"]["1"]["gains"],
              QJsonObject({{"r", 0}, {"g", 0}, {"b", 0}, {"i", 0}}));
    kestra->lightLitLdms(false);
    EXPECT_EQ(lastPatch().value("dev")["receivers"][kMac2]["ldms"]["1"]["gains"]["i"], -1);
    EXPECT_EQ(patchCount(), 3u);
}

TEST_F(KestraDevice, TheEnginesCallsFromItsWorkerThreadReachTheProcessorFromTheDisplaysThread)
{
    fetchWall();
    QThread* signalThread = nullptr;
    QObject::connect(kestra.get(), &Kestra::ldmDataChanged, kestra.get(),
                     [&] { signalThread = QThread::currentThread(); }, Qt::DirectConnection);

    Macropixel given = kestra->ldm(4);
    given.redGain = 0.4;
    QList<Macropixel*> list{&given};
    ErrorType colour, gains, ldms;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        colour = kestra->setRGB(0, 0.25, 0.5, 0.75);
        gains = kestra->setDisplayGainRGB(0.9, 0.8, 0.7);
        ldms = kestra->setLdmRGBs(list);
    }));
    worker->start();
    // This thread keeps its events flowing, as the program's GUI thread does.
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker->isFinished(); }, 10000));
    worker->wait();

    EXPECT_TRUE(colour.ok()) << colour.message.toStdString();
    EXPECT_TRUE(gains.ok()) << gains.message.toStdString();
    EXPECT_TRUE(ldms.ok()) << ldms.message.toStdString();
    EXPECT_EQ(signalThread, QThread::currentThread());
    const auto sent = patches();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].value("dev")["display"]["out"]["adjust"]["gain"]["b"], 0.75);
    EXPECT_EQ(sent[1].value("dev")["display"]["gains"]["r"], 0.9);
    EXPECT_EQ(sent[2].value("dev")["receivers"][kMac2]["ldms"]["1"]["gains"]["r"], 0.4);
}

TEST_F(KestraDevice, AnUnreachableProcessorKeepsTheNewGainsUnsignalled)
{
    fetchWall();
    kestra->setAddress(closedLoopbackAddress());
    QSignalSpy ldmData(kestra.get(), &Kestra::ldmDataChanged);

    const ErrorType single = kestra->setLdmRGB(1, 0.7, 0.7, 0.7, -1);
    EXPECT_EQ(single.kind, ErrorType::Retryable);
    EXPECT_FALSE(single.message.isEmpty());
    EXPECT_EQ(kestra->ldm(1).redGain, 0.7);
    EXPECT_EQ(kestra->ldm(1).intensityGain, -1.0);

    Macropixel given = kestra->ldm(4);
    given.blueGain = 0.9;
    QList<Macropixel*> list{&given};
    EXPECT_EQ(kestra->setLdmRGBs(list).kind, ErrorType::Retryable);
    EXPECT_EQ(kestra->ldm(4).blueGain, 0.9);
    EXPECT_EQ(ldmData.count(), 0);
}
