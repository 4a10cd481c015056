#include "instruments/CineMeterII.h"

#include "engine/Calibrator.h"

#include "support/LoopbackHttpResponder.h"
#include "support/TestSettings.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

// Generous bounds for answers from loopback; the meter's own time-out is 4 s.
constexpr int AnswerWaitMs = 3000;
constexpr int TimeoutWaitMs = CineMeterII::TransferTimeoutMs + 3000;
constexpr int ListWaitMs = CineMeterII::ListDelayMs + 3000;

// A meter's reading, as the engine copies it.
struct Reading
{
    double luminance;
    QString units;
    double cct;
    double duv;
    double x;
    double y;
};

Reading readingOf(const CineMeterII& meter)
{
    return {meter.luminance(), meter.luminanceUnits(), meter.cct(), meter.duv(), meter.cieX(), meter.cieY()};
}

void expectReading(const Reading& actual, const Reading& expected, const char* what)
{
    EXPECT_DOUBLE_EQ(actual.luminance, expected.luminance) << what;
    EXPECT_EQ(actual.units, expected.units) << what;
    EXPECT_DOUBLE_EQ(actual.cct, expected.cct) << what;
    EXPECT_DOUBLE_EQ(actual.duv, expected.duv) << what;
    EXPECT_DOUBLE_EQ(actual.x, expected.x) << what;
    EXPECT_DOUBLE_EQ(actual.y, expected.y) << what;
}

class CineMeterIITest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestSettings::clearSettings();
        // The meter is reached directly, whatever proxy the machine has set up.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        ASSERT_TRUE(responder.listen());
    }

    std::unique_ptr<CineMeterII> meterAt(const QString& address)
    {
        auto meter = std::make_unique<CineMeterII>();
        meter->setAddress(address);
        return meter;
    }

    // Sends one request and waits for its one answer.
    void readOnce(CineMeterII& meter)
    {
        QSignalSpy data(&meter, &Colorimeter::dataAvailable);
        meter.read();
        // A request that cannot be sent is answered at once.
        ASSERT_TRUE(data.count() > 0 || data.wait(AnswerWaitMs));
        QTest::qWait(50);
        ASSERT_EQ(data.count(), 1) << "one answer per request";
        EXPECT_EQ(data.at(0).at(0).value<Colorimeter*>(), &meter);
    }

    LoopbackHttpResponder responder;
};

const QByteArray SixLines = "timestamp 2026-03-01T10:00:00.123\n"
                            "brightness_SI 120.5 cd/m2\n"
                            "CCT 6504\n"
                            "\xE2\x88\x86uv 0.0012\n" // U+2206 INCREMENT
                            "cie1931_x 0.3127\n"
                            "cie1931_y 0.3290\n";

} // namespace

TEST_F(CineMeterIITest, SixLineAnswerFillsTheReading)
{
    auto meter = meterAt(responder.address() + QStringLiteral("/measure"));
    responder.answerWith(SixLines);
    readOnce(*meter);

    EXPECT_EQ(responder.lastRequestLine(), QByteArray("GET /measure HTTP/1.1"));
    EXPECT_EQ(meter->timestamp(), QStringLiteral("timestamp 2026-03-01T10:00:00.123"));
    expectReading(readingOf(*meter), {120.5, QStringLiteral("cd/m2"), 6504, 0.0012, 0.3127, 0.3290}, "six lines");
    EXPECT_EQ(meter->luminanceString(), QStringLiteral("120.5 cd/m2"));
    EXPECT_EQ(meter->cieXYString(), QStringLiteral("0.3127, 0.3290"));
    EXPECT_EQ(meter->errorType().kind, 0);
    EXPECT_TRUE(meter->error().isEmpty());
}

TEST_F(CineMeterIITest, AnswerLines)
{
    const QByteArray baseline = "brightness_SI 100 cd/m2\nCCT 5000\n\xE2\x88\x86uv 0.001\ncie1931_x 0.31\ncie1931_y 0.32\n";
    const Reading before{100, QStringLiteral("cd/m2"), 5000, 0.001, 0.31, 0.32};
    const struct
    {
        const char* what;
        QByteArray answer;
        Reading expected;
    } cases[] = {
        {"luminance without a unit changes nothing", "brightness_SI 250\nCCT 4000", {100, "cd/m2", 4000, 0.001, 0.31, 0.32}},
        {"y before x is set after x", "brightness_SI 1 nt\ncie1931_y 0.33\ncie1931_x 0.30", {1, "nt", 5000, 0.001, 0.30, 0.33}},
        {"x alone leaves the chromaticity", "brightness_SI 1 nt\ncie1931_x 0.4", {1, "nt", 5000, 0.001, 0.31, 0.32}},
        {"low light reads as dark", "brightness_SI 0.04 cd/m2", {0, "cd/m2", 5000, 0.001, 0.31, 0.32}},
        {"a doubled space leaves an empty value", "brightness_SI 50 cd/m2\nCCT  6500", {50, "cd/m2", 0, 0.001, 0.31, 0.32}},
        {"a value that is no number reads as 0", "brightness_SI 50 cd/m2\n\xE2\x88\x86uv n/a", {50, "cd/m2", 5000, 0, 0.31, 0.32}},
        {"values that are not finite read as 0", "brightness_SI nan cd/m2\nCCT 1e999\n\xE2\x88\x86uv -inf\ncie1931_x inf",
         {0, "cd/m2", 0, 0, 0.31, 0.32}},
        {"keys are case-sensitive", "brightness_SI 50 cd/m2\ncct 3000\nDUV 1", {50, "cd/m2", 5000, 0.001, 0.31, 0.32}},
        {"unknown keys and empty lines are ignored", "\n\nbrightness_SI 50 cd/m2\n\ntemperature 21\n", {50, "cd/m2", 5000, 0.001, 0.31, 0.32}},
        {"lines ended by CR LF", "brightness_SI 50 fL\r\nCCT 3200\r\n", {50, "fL", 3200, 0.001, 0.31, 0.32}},
    };
    for (const auto& test : cases) {
        auto meter = meterAt(responder.address());
        responder.answerWith(baseline);
        readOnce(*meter);
        expectReading(readingOf(*meter), before, "baseline");

        responder.answerWith(test.answer);
        readOnce(*meter);
        expectReading(readingOf(*meter), test.expected, test.what);
        EXPECT_EQ(meter->errorType().kind, 0) << test.what;
    }
}

TEST_F(CineMeterIITest, TimestampLines)
{
    auto meter = meterAt(responder.address());
    responder.answerWith("2026-03-01 10:00:00\nbrightness_SI 5 cd/m2\n");
    readOnce(*meter);
    EXPECT_EQ(meter->timestamp(), QStringLiteral("2026-03-01 10:00:00"));

    // An answer without a time stamp keeps the last one.
    responder.answerWith("brightness_SI 6 cd/m2\n");
    readOnce(*meter);
    EXPECT_EQ(meter->timestamp(), QStringLiteral("2026-03-01 10:00:00"));
}

TEST_F(CineMeterIITest, NoAddressIsAnUnrecoverableError)
{
    CineMeterII meter;
    ASSERT_TRUE(meter.address().isEmpty());
    readOnce(meter);
    EXPECT_EQ(meter.errorType().kind, 2);
    EXPECT_EQ(meter.error(), QStringLiteral("Cine Meter II: no network address; can't connect"));
    EXPECT_EQ(responder.requestCount(), 0);
}

TEST_F(CineMeterIITest, RefusedConnectionIsARecoverableError)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();

    auto meter = meterAt(QStringLiteral("127.0.0.1:%1").arg(port));
    readOnce(*meter);
    EXPECT_EQ(meter->errorType().kind, 1);
    EXPECT_FALSE(meter->error().isEmpty());

    // The next good answer clears the error.
    meter->setAddress(responder.address());
    responder.answerWith(SixLines);
    readOnce(*meter);
    EXPECT_EQ(meter->errorType().kind, 0);
    EXPECT_TRUE(meter->error().isEmpty());
}

TEST_F(CineMeterIITest, SilentMeterTimesOutOnce)
{
    auto meter = meterAt(responder.address());
    responder.stayQuiet();
    QSignalSpy data(meter.get(), &Colorimeter::dataAvailable);
    QElapsedTimer clock;
    clock.start();
    meter->read();
    ASSERT_TRUE(data.wait(TimeoutWaitMs));
    // Never early: the time-out is what the engine's wait for a reading is measured against.
    EXPECT_GE(clock.elapsed(), CineMeterII::TransferTimeoutMs);
    QTest::qWait(300);
    EXPECT_EQ(data.count(), 1);
    EXPECT_EQ(responder.requestCount(), 1);
    EXPECT_EQ(meter->errorType().kind, 1);
    EXPECT_FALSE(meter->error().isEmpty());
}

// A meter still measuring answers after the engine's own wait for a reading but within its
// transfer time-out: the engine, told the meter's time-out as the controller tells it, keeps
// waiting, asks no second time and takes the reading.
TEST_F(CineMeterIITest, TheEngineWaitsAsLongAsTheMeter)
{
    auto meter = meterAt(responder.address());
    EXPECT_EQ(meter->readingTimeout(), std::chrono::milliseconds(CineMeterII::TransferTimeoutMs));

    constexpr int EngineWaitMs = 200;
    constexpr int MeasuringMs = 1500;
    static_assert(EngineWaitMs < MeasuringMs && MeasuringMs < CineMeterII::TransferTimeoutMs);
    Calibrator calibrator(Calibrator::ColorimeterMode, 0);
    calibrator.setTask(Calibrator::Nothing);
    Calibrator::Timing timing;
    timing.readingTimeoutMs = EngineWaitMs;
    calibrator.setTiming(timing);
    calibrator.setColorimeterTimeout(meter->readingTimeout());
    QObject::connect(&calibrator, &Calibrator::takeReading, meter.get(), &Colorimeter::read);
    QObject::connect(meter.get(), &Colorimeter::dataAvailable, &calibrator, &Calibrator::readColorimeterData);
    calibrator.setRunning(true);

    responder.answerWith(SixLines);
    responder.delayAnswers(MeasuringMs);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(calibrator.takeReadings_());
    EXPECT_GE(clock.elapsed(), MeasuringMs);
    EXPECT_EQ(responder.requestCount(), 1) << "the engine asked again while the meter was measuring";
    EXPECT_DOUBLE_EQ(calibrator.reading()[2], 120.5); // cct, duv, luminance
    calibrator.setRunning(false);
}

TEST_F(CineMeterIITest, MeterGoesAwayWithARequestPending)
{
    auto meter = meterAt(responder.address());
    responder.stayQuiet();
    QSignalSpy asked(&responder, &LoopbackHttpResponder::requestReceived);
    meter->read();
    ASSERT_TRUE(asked.wait(AnswerWaitMs));
    meter.reset();
    QTest::qWait(50);
}

TEST_F(CineMeterIITest, ErrorPageIsReportedOnceAndNeverAsAReading)
{
    auto meter = meterAt(responder.address());
    responder.answerWith(SixLines);
    readOnce(*meter);
    const Reading good = readingOf(*meter);

    const QByteArray reading = "brightness_SI 999 cd/m2\nCCT 2000\n";
    for (const int status : {404, 500}) {
        responder.answerWith(reading, status, status == 404 ? "Not Found" : "Internal Server Error");
        QSignalSpy errorChanges(meter.get(), &Colorimeter::errorTypeChanged);
        readOnce(*meter);
        EXPECT_EQ(meter->errorType().kind, 1) << status;
        EXPECT_FALSE(meter->error().isEmpty()) << status;
        expectReading(readingOf(*meter), good, "error page");
        EXPECT_LE(errorChanges.count(), 1) << "no passing through success";

        responder.answerWith(SixLines);
        readOnce(*meter);
        EXPECT_EQ(meter->errorType().kind, 0);
    }
}

TEST_F(CineMeterIITest, AnswerWithoutLuminanceIsNoReading)
{
    const struct
    {
        const char* what;
        QByteArray answer;
    } cases[] = {
        {"empty", ""},
        {"blank lines", "\n\n"},
        {"no luminance key", "CCT 2000\ncie1931_x 0.4\ncie1931_y 0.4\n"},
    };
    for (const auto& test : cases) {
        auto meter = meterAt(responder.address());
        responder.answerWith(SixLines);
        readOnce(*meter);
        const Reading good = readingOf(*meter);

        responder.answerWith(test.answer);
        readOnce(*meter);
        EXPECT_EQ(meter->errorType().kind, 1) << test.what;
        EXPECT_FALSE(meter->error().isEmpty()) << test.what;
        expectReading(readingOf(*meter), good, test.what);
    }
}

TEST_F(CineMeterIITest, ListsAreBuiltAfterStartUp)
{
    QSettings settings;
    settings.setValue(QStringLiteral("Cine Meter II/filter"), 9);
    settings.setValue(QStringLiteral("Cine Meter II/matrix"), 3);

    auto meter = meterAt(responder.address());
    EXPECT_EQ(meter->filterList()->count(), 1);
    QSignalSpy matrices(meter.get(), &Colorimeter::matrixListChanged);
    QSignalSpy filters(meter.get(), &Colorimeter::filterListChanged);
    ASSERT_TRUE(matrices.wait(ListWaitMs));
    EXPECT_EQ(filters.count(), 1);

    const auto listed = [](OptionList* list) {
        QStringList entries;
        for (qsizetype i = 0; i < list->count(); ++i)
            entries << QStringLiteral("%1 %2").arg(list->at(i)->number()).arg(list->at(i)->name());
        return entries;
    };
    EXPECT_EQ(listed(meter->filterList()),
              (QStringList{"-1 none", "4 ND-100-0.3", "5 ND-100-0.6", "6 ND-100-0.9", "7 ND-100-1.2",
                           "1 ND-100-1.8", "2 ND-100-2.1"}));
    EXPECT_EQ(listed(meter->matrixList()), (QStringList{"-1 none", "0 Matrix One", "1 Second Matrix", "3 Ventana"}));
    EXPECT_EQ(meter->filterList()->at(1)->type(), QStringLiteral("Radiance"));

    // Filter 9 is no longer offered; matrix 3 still is.
    EXPECT_EQ(meter->filter(), Colorimeter::None);
    EXPECT_EQ(settings.value(QStringLiteral("Cine Meter II/filter")).toInt(), Colorimeter::None);
    EXPECT_EQ(meter->matrix(), 3);
    EXPECT_EQ(meter->matrixName(), QStringLiteral("Ventana"));

    // The built-in names hold no density word, so their factor is 1; a name that ends in one
    // scales the luminance by ten to its power.
    meter->applyFilter(6);
    EXPECT_EQ(meter->filter(), 6);
    EXPECT_DOUBLE_EQ(meter->filterFactor(), 1.0);
    meter->filterList()->append(new Option(11, QStringLiteral("ND 0.6"), QStringLiteral("Radiance"), meter.get()));
    meter->applyFilter(11);
    EXPECT_NEAR(meter->filterFactor(), std::pow(10.0, 0.6), 1e-12);
    responder.answerWith("brightness_SI 10 cd/m2\n");
    readOnce(*meter);
    EXPECT_NEAR(meter->luminance(), 39.81, 0.01);

    meter->applyFilter(Colorimeter::None);
    EXPECT_DOUBLE_EQ(meter->filterFactor(), 1.0);
}
