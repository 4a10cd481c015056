#include "instruments/CR100.h"

#include "support/ScriptedInstrument.h"
#include "support/QtPrinters.h"
#include "support/TestSettings.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;
using Port = SerialPortLister::Port;
using Commands = QList<QByteArray>;

// Short reply time-outs, so a silent instrument costs a test about a second; the pseudo-terminal
// answers within milliseconds.
constexpr std::chrono::milliseconds CommandTimeout = 800ms;
constexpr std::chrono::milliseconds MeasurementTimeout = 1200ms;
// Bounds on every wait: an answer comes well inside them, or the test fails.
constexpr int AnswerWaitMs = 5000;
// How long the test lets the event loop run to see that no second answer or command follows.
constexpr int SettleMs = 100;

const Commands SetupCommands = {"SM Reset", "RC Model", "RC InstrumentType", "RC Filter",
                                "RC MatrixCalib", "SM UserCalibMode 0", "M", "RM Y", "RM CCT"};
const Commands MeasureCommands = {"M", "RM Y", "RM CCT"};
const QByteArray Coefficients = "1.030e+00,-1.363e-02,-8.051e-03,-2.175e-02,1.072e+00,1.203e-02,5.340e-02,3.940e-03,1.058e+00";

// The port list the system would give, as the test sets it.
class FakePortLister : public SerialPortLister
{
public:
    explicit FakePortLister(std::shared_ptr<QList<Port>> ports)
        : m_ports(std::move(ports))
    {
    }
    QList<Port> ports() const override { return *m_ports; }

private:
    std::shared_ptr<QList<Port>> m_ports;
};

Port instrumentAt(const QString& location, const QString& name = QStringLiteral("ttyACM0"))
{
    return Port{name, location, CR100::VendorId, CR100::ProductId};
}

// A healthy instrument: every command of the chains answered, lines ended by the given end.
// Its filter list holds one ND filter and one colour filter; its matrix list two matrices.
void answerLikeTheInstrument(ScriptedInstrument& instrument, const QByteArray& end = "\r\n")
{
    const auto ok = [&](const QByteArray& command, const QByteArray& data = {}) {
        instrument.setReply(command, "OK:0:" + command + ':' + data + end);
    };
    ok("SM Reset");
    ok("RC Model", "CR-100");
    ok("RC InstrumentType", "1");
    instrument.setReply("RC Filter", "OK:0:RC Filter:2" + end + "4,ND-100-0.3,Radiance" + end +
                                         "9,CC30M,Radiance" + end);
    ok("SM Filter1 4");
    instrument.setReply("RC MatrixCalib", "OK:0:RC MatrixCalib:2,9" + end + "0,Matrix One," + Coefficients +
                                              end + "3,Ventana," + Coefficients + end);
    for (const QByteArray command : {"SM Matrix 0", "SM Matrix 3", "SM UserCalibMode 0", "SM UserCalibMode 1", "M"})
        ok(command);
    ok("RM Y", "123.45");
    ok("RM CCT", "6504.2,0.0012");
}

// The instrument with numbers that begin one another: ND filters 4 and 45, matrices 1 and 11.
void listNeighbours(ScriptedInstrument& instrument)
{
    instrument.setReply("RC Filter",
                        "OK:0:RC Filter:2\r\n4,ND-100-0.3,Radiance\r\n45,ND-100-0.6,Radiance\r\n");
    instrument.setReply("RC MatrixCalib", "OK:0:RC MatrixCalib:2,9\r\n1,Matrix One," + Coefficients +
                                              "\r\n11,Eleven," + Coefficients + "\r\n");
    for (const QByteArray command : {"SM Filter1 45", "SM Matrix 1", "SM Matrix 11"})
        instrument.setReply(command, "OK:0:" + command + ":\r\n");
}

// The filter and matrix a colorimeter made afterwards starts with.
void storeSelection(int filter, int matrix)
{
    QSettings settings;
    settings.setValue(CR100::InstrumentName + QStringLiteral("/filter"), filter);
    settings.setValue(CR100::InstrumentName + QStringLiteral("/matrix"), matrix);
    settings.sync();
}

std::pair<int, int> storedSelection()
{
    const QSettings settings;
    return {settings.value(CR100::InstrumentName + QStringLiteral("/filter")).toInt(),
            settings.value(CR100::InstrumentName + QStringLiteral("/matrix")).toInt()};
}

// One instrument on a pseudo-terminal and the colorimeter that finds it in the port list.
class CR100Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestSettings::clearSettings();
        plugInNewInstrument();
    }

    // A fresh instrument on a fresh line, and a colorimeter that has never seen a port.
    void startOver()
    {
        answers.reset();
        m_colorimeter.reset();
        TestSettings::clearSettings();
        plugInNewInstrument();
    }

    void plugInNewInstrument()
    {
        instrument = std::make_unique<ScriptedInstrument>();
        ASSERT_TRUE(instrument->isOpen()) << qPrintable(instrument->errorString());
        answerLikeTheInstrument(*instrument);
        *ports = {instrumentAt(instrument->slavePath())};
    }

    // Made once the test has stored what the instrument should start with.
    CR100& colorimeter()
    {
        if (!m_colorimeter) {
            m_colorimeter = std::make_unique<CR100>(std::make_unique<FakePortLister>(ports));
            m_colorimeter->setReplyTimeouts(CommandTimeout, MeasurementTimeout);
            answers = std::make_unique<QSignalSpy>(m_colorimeter.get(), &Colorimeter::dataAvailable);
        }
        return *m_colorimeter;
    }

    // Runs an action that starts one chain and waits for its one answer; then lets the line
    // settle, so that a second answer would be seen.
    void expectOneAnswer(const std::function<void()>& start)
    {
        colorimeter();
        answers->clear();
        start();
        ASSERT_TRUE(answers->count() > 0 || answers->wait(AnswerWaitMs)) << "no answer";
        QTest::qWait(SettleMs);
        ASSERT_EQ(answers->count(), 1) << "one answer per chain";
        EXPECT_EQ(answers->at(0).at(0).value<Colorimeter*>(), m_colorimeter.get());
    }

    void readOnce()
    {
        expectOneAnswer([this] { colorimeter().read(); });
    }

    // Runs the set-up and its first reading, and forgets its commands.
    void setUpInstrument()
    {
        readOnce();
        ASSERT_EQ(instrument->commands(), SetupCommands);
        ASSERT_TRUE(colorimeter().errorType().ok());
        instrument->clearCommands();
    }

    void expectError(qint32 kind, const QString& error)
    {
        EXPECT_EQ(colorimeter().errorType().kind, kind);
        EXPECT_EQ(colorimeter().error(), error);
    }

    std::shared_ptr<QList<Port>> ports = std::make_shared<QList<Port>>();
    std::unique_ptr<ScriptedInstrument> instrument;
    std::unique_ptr<QSignalSpy> answers;

private:
    std::unique_ptr<CR100> m_colorimeter;
};

TEST_F(CR100Test, SetupReadsTheInstrumentAndEndsInOneReading)
{
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
    CR100& meter = colorimeter();
    EXPECT_TRUE(meter.errorType().ok());
    EXPECT_EQ(meter.error(), QString());
    EXPECT_DOUBLE_EQ(meter.cct(), 6504.2);
    EXPECT_DOUBLE_EQ(meter.duv(), 0.0012);
    EXPECT_DOUBLE_EQ(meter.luminance(), 123.45);
    EXPECT_FALSE(meter.timestamp().isEmpty());
    EXPECT_EQ(meter.name(), QStringLiteral("CR-100"));
    EXPECT_FALSE(meter.isSpectrometer());
    // The colour filter is not offered; both matrices are.
    ASSERT_EQ(meter.filterList()->count(), 2);
    EXPECT_EQ(meter.filterList()->at(1)->name(), QStringLiteral("ND-100-0.3"));
    EXPECT_EQ(meter.filterList()->at(1)->number(), 4);
    ASSERT_EQ(meter.matrixList()->count(), 3);
    EXPECT_EQ(meter.matrixList()->at(2)->name(), QStringLiteral("Ventana"));
    EXPECT_EQ(meter.matrixList()->at(2)->type(), QStringLiteral("matrix"));

    // Set up: a second reading only measures.
    instrument->clearCommands();
    instrument->setReply("RM Y", "OK:0:RM Y:99.5\r\n");
    readOnce();
    EXPECT_EQ(instrument->commands(), MeasureCommands);
    EXPECT_DOUBLE_EQ(meter.luminance(), 99.5);
}

TEST_F(CR100Test, SetupSelectsTheStoredFilterAndMatrix)
{
    struct Case
    {
        const char* what;
        int filter;
        int matrix;
        Commands commands;
        int filterAfter;
    };
    const Case cases[] = {
        {"listed filter and matrix", 4, 3,
         {"SM Reset", "RC Model", "RC InstrumentType", "RC Filter", "SM Filter1 4", "RC MatrixCalib",
          "SM Matrix 3", "SM UserCalibMode 1", "M", "RM Y", "RM CCT"},
         4},
        // A filter the instrument lacks resets it, and the set-up runs again without one.
        {"unlisted filter", 7, -1,
         {"SM Reset", "RC Model", "RC InstrumentType", "RC Filter", "SM Reset", "RC Model", "RC InstrumentType",
          "RC Filter", "RC MatrixCalib", "SM UserCalibMode 0", "M", "RM Y", "RM CCT"},
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestSettings::clearSettings();
        QSettings settings;
        settings.setValue(CR100::InstrumentName + QStringLiteral("/filter"), c.filter);
        settings.setValue(CR100::InstrumentName + QStringLiteral("/matrix"), c.matrix);
        settings.sync();
        plugInNewInstrument();
        CR100 meter(std::make_unique<FakePortLister>(ports));
        meter.setReplyTimeouts(CommandTimeout, MeasurementTimeout);
        QSignalSpy spy(&meter, &Colorimeter::dataAvailable);
        meter.read();
        ASSERT_TRUE(spy.wait(AnswerWaitMs));
        QTest::qWait(SettleMs);
        EXPECT_EQ(spy.count(), 1);
        EXPECT_EQ(instrument->commands(), c.commands);
        EXPECT_TRUE(meter.errorType().ok());
        EXPECT_EQ(meter.filter(), c.filterAfter);
    }
}

TEST_F(CR100Test, ReadWhileAChainRunsSendsNothing)
{
    expectOneAnswer([this] {
        colorimeter().read();
        colorimeter().read();
    });
    EXPECT_EQ(instrument->commands(), SetupCommands);
}

TEST_F(CR100Test, CctReplyDecidesTheReading)
{
    struct Case
    {
        QByteArray data;
        qint32 kind;
        QString error;
        double cct;
        double duv;
    };
    // A good reading of 6000 K comes first, so an unchanged value shows.
    const Case cases[] = {
        {"0,0", 1, QStringLiteral("CCT, dUV unavailable / out of range"), 6000.0, -0.002},
        {"6504.2,0.0012", 0, QString(), 6504.2, 0.0012},
        {"6504.2", 2, QStringLiteral("bad CCT,dUv [6504.2]"), 6000.0, -0.002},
        {"6504.2,0.0012,7", 2, QStringLiteral("bad CCT,dUv [6504.2,0.0012,7]"), 6000.0, -0.002},
    };
    setUpInstrument();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.constData());
        instrument->setReply("RM CCT", "OK:0:RM CCT:6000,-0.002\r\n");
        readOnce();
        ASSERT_TRUE(colorimeter().errorType().ok());
        const QString goodTimestamp = colorimeter().timestamp();
        QTest::qWait(2); // time stamps carry milliseconds

        instrument->clearCommands();
        instrument->setReply("RM CCT", "OK:0:RM CCT:" + c.data + "\r\n");
        readOnce();
        EXPECT_EQ(instrument->commands(), MeasureCommands);
        expectError(c.kind, c.error);
        EXPECT_DOUBLE_EQ(colorimeter().cct(), c.cct);
        EXPECT_DOUBLE_EQ(colorimeter().duv(), c.duv);
        EXPECT_EQ(colorimeter().timestamp() == goodTimestamp, c.kind != 0);
        // Only a fatal error makes the next read set the instrument up again.
        EXPECT_EQ(colorimeter().filterList()->count(), c.kind == 2 ? 1 : 2);
        instrument->clearCommands();
    }
}

TEST_F(CR100Test, DarkMeasurementIsOneReadingOfZero)
{
    setUpInstrument();
    for (const QByteArray code : {"-304", "-305"}) {
        SCOPED_TRACE(code.constData());
        instrument->setReply("M", "ER:" + code + ":M:Low light\r\n");
        readOnce();
        EXPECT_EQ(instrument->commands(), Commands{"M"});
        expectError(0, QString());
        EXPECT_DOUBLE_EQ(colorimeter().luminance(), 0.0);

        // The set-up stands; the next reading measures as usual.
        instrument->clearCommands();
        instrument->setReply("M", "OK:0:M:\r\n");
        readOnce();
        EXPECT_EQ(instrument->commands(), MeasureCommands);
        EXPECT_DOUBLE_EQ(colorimeter().luminance(), 123.45);
        instrument->clearCommands();
    }
}

TEST_F(CR100Test, ErrorReplyEndsTheChainAndTheSetup)
{
    instrument->setReply("RC Filter", "ER:-201:RC Filter:\r\n");
    readOnce();
    EXPECT_EQ(instrument->commands(), (Commands{"SM Reset", "RC Model", "RC InstrumentType", "RC Filter"}));
    expectError(2, QStringLiteral("Error: [ER:-201:RC Filter:]"));

    // A status that is neither OK nor ER is no better.
    instrument->clearCommands();
    answerLikeTheInstrument(*instrument);
    setUpInstrument();
    instrument->setReply("RM Y", "XX:0:RM Y:12\r\n");
    readOnce();
    EXPECT_EQ(instrument->commands(), (Commands{"M", "RM Y"}));
    expectError(2, QStringLiteral("Error: [XX:0:RM Y:12]"));
    EXPECT_EQ(colorimeter().matrixList()->count(), 1);

    // The next read starts the set-up from the beginning.
    instrument->clearCommands();
    answerLikeTheInstrument(*instrument);
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
    EXPECT_TRUE(colorimeter().errorType().ok());
}

TEST_F(CR100Test, BadListLineDiscardsTheLists)
{
    struct Case
    {
        QByteArray command;
        QByteArray reply;
        QString error;
    };
    const Case cases[] = {
        {"RC Filter", "OK:0:RC Filter:3\r\n4,ND-100-0.3,Radiance\r\nbroken\r\n5,ND-100-0.6,Radiance\r\n",
         QStringLiteral("Bad filter response [broken]")},
        {"RC MatrixCalib", "OK:0:RC MatrixCalib:2\r\n0,Ten,1,2,3,4,5,6,7,8\r\n3,Ventana," + Coefficients + "\r\n",
         QStringLiteral("Bad matrix response [0,Ten,1,2,3,4,5,6,7,8]")},
        {"RC MatrixCalib", "OK:0:RC MatrixCalib:1\r\n0,Twelve,1,2,3,4,5,6,7,8,9,10\r\n",
         QStringLiteral("Bad matrix response [0,Twelve,1,2,3,4,5,6,7,8,9,10]")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        startOver();
        instrument->setReply(c.command, c.reply);
        readOnce();
        expectError(2, c.error);
        EXPECT_EQ(instrument->commands().last(), c.command) << "nothing sent after the bad line";
        EXPECT_EQ(colorimeter().filterList()->count(), 1);
        EXPECT_EQ(colorimeter().matrixList()->count(), 1);

        // The lines after the bad one were dropped, not kept for the next set-up.
        instrument->clearCommands();
        answerLikeTheInstrument(*instrument);
        readOnce();
        EXPECT_EQ(instrument->commands(), SetupCommands);
        EXPECT_EQ(colorimeter().filterList()->count(), 2);
        EXPECT_EQ(colorimeter().matrixList()->count(), 3);
    }
}

TEST_F(CR100Test, SilentInstrumentTimesOutAndTheNextReadWorks)
{
    instrument->removeReply("RC InstrumentType");
    QElapsedTimer clock;
    clock.start();
    readOnce();
    EXPECT_LT(clock.elapsed(), CommandTimeout.count() + AnswerWaitMs);
    // A time-out is never early.
    EXPECT_GE(clock.elapsed(), CommandTimeout.count());
    expectError(1, QStringLiteral("No reply from CRI colorimeter to [RC InstrumentType]"));

    // A reply that comes too late starts nothing.
    instrument->clearCommands();
    answers->clear();
    instrument->send("OK:0:RC InstrumentType:1\r\n");
    QTest::qWait(SettleMs);
    EXPECT_TRUE(instrument->commands().isEmpty());
    EXPECT_EQ(answers->count(), 0);

    answerLikeTheInstrument(*instrument);
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
    EXPECT_TRUE(colorimeter().errorType().ok());

    // The measurement has a time-out of its own, and a lost one sets the instrument up again.
    instrument->clearCommands();
    instrument->removeReply("M");
    readOnce();
    EXPECT_EQ(instrument->commands(), Commands{"M"});
    expectError(1, QStringLiteral("No reply from CRI colorimeter to [M]"));
    instrument->clearCommands();
    answerLikeTheInstrument(*instrument);
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
}

// A measurement's reply that comes after its time-out arrives during the next chain, the set-up:
// it belongs to no command awaited there and is dropped, and the set-up runs as if it never came.
TEST_F(CR100Test, ALateReplyIsNotTakenIntoTheNextChain)
{
    setUpInstrument();
    instrument->removeReply("M");
    readOnce();
    expectError(1, QStringLiteral("No reply from CRI colorimeter to [M]"));

    instrument->clearCommands();
    instrument->setReply("SM Reset", "OK:0:M:\r\nOK:0:SM Reset:\r\n");
    instrument->setReply("M", "OK:0:M:\r\n");
    instrument->setReply("RC Model", "OK:0:RM Y:99\r\nOK:0:RC Model:CR-100\r\n");
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
    expectError(0, QString());
    EXPECT_DOUBLE_EQ(colorimeter().luminance(), 123.45);
}

// Some instruments echo a command without its argument. Such an echo answers the command awaited;
// a reply to the same command with another argument (a late one) does not.
TEST_F(CR100Test, AnEchoWithoutItsArgumentAnswersTheCommand)
{
    struct Case
    {
        const char* what;
        QByteArray command;
        QByteArray reply;
    };
    const Case cases[] = {
        {"filter", "SM Filter1 4", "OK:0:SM Filter1:\r\n"},
        {"matrix", "SM Matrix 3", "OK:0:SM Matrix:\r\n"},
        {"calibration mode", "SM UserCalibMode 1", "OK:0:SM UserCalibMode:\r\n"},
        {"matrix list", "RC MatrixCalib",
         "OK:0:RC Matrix:2,9\r\n0,Matrix One," + Coefficients + "\r\n3,Ventana," + Coefficients + "\r\n"},
        // An error to an earlier filter command comes first and is not this one's answer.
        {"late reply to another filter", "SM Filter1 4", "ER:-200:SM Filter1 9:\r\nOK:0:SM Filter1:\r\n"},
        {"late reply to another matrix", "SM Matrix 3", "ER:-200:SM Matrix 0:\r\nOK:0:SM Matrix:\r\n"},
    };
    const Commands setup = {"SM Reset",     "RC Model",       "RC InstrumentType", "RC Filter",
                            "SM Filter1 4", "RC MatrixCalib", "SM Matrix 3",       "SM UserCalibMode 1",
                            "M",            "RM Y",           "RM CCT"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startOver();
        QSettings settings;
        settings.setValue(CR100::InstrumentName + QStringLiteral("/filter"), 4);
        settings.setValue(CR100::InstrumentName + QStringLiteral("/matrix"), 3);
        settings.sync();
        instrument->setReply(c.command, c.reply);
        readOnce();
        EXPECT_EQ(instrument->commands(), setup);
        expectError(0, QString());
        EXPECT_EQ(colorimeter().filter(), 4);
        EXPECT_EQ(colorimeter().matrix(), 3);
        EXPECT_DOUBLE_EQ(colorimeter().cct(), 6504.2);
    }
}

// A reply to the same command with another argument is no answer, even when the awaited
// command begins with it ("SM Matrix 1" for "SM Matrix 11"): the chain waits for its own reply
// and, without one, ends with the time-out, not with a reading.
TEST_F(CR100Test, AnEchoWithAnotherArgumentNeverAnswers)
{
    struct Case
    {
        const char* what;
        QByteArray command;
        QByteArray reply;
        Commands sent;
    };
    const Case cases[] = {
        {"matrix", "SM Matrix 11", "OK:0:SM Matrix 1:\r\n",
         {"SM Reset", "RC Model", "RC InstrumentType", "RC Filter", "SM Filter1 45", "RC MatrixCalib",
          "SM Matrix 11"}},
        {"filter", "SM Filter1 45", "OK:0:SM Filter1 4:\r\n",
         {"SM Reset", "RC Model", "RC InstrumentType", "RC Filter", "SM Filter1 45"}},
        {"error to another matrix", "SM Matrix 11", "ER:-200:SM Matrix 1:\r\n",
         {"SM Reset", "RC Model", "RC InstrumentType", "RC Filter", "SM Filter1 45", "RC MatrixCalib",
          "SM Matrix 11"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startOver();
        storeSelection(45, 11);
        listNeighbours(*instrument);
        instrument->setReply(c.command, c.reply);
        readOnce();
        EXPECT_EQ(instrument->commands(), c.sent);
        expectError(1, QStringLiteral("No reply from CRI colorimeter to [%1]").arg(QLatin1String(c.command)));
    }
}

// A lost reply discards the lists; until a read has listed them again, a filter or matrix
// number cannot be checked. Selecting one then says so and leaves the setting as it was, so the
// next set-up selects what was chosen before.
TEST_F(CR100Test, SelectionBeforeTheListsAreReadAgainKeepsTheSetting)
{
    struct Case
    {
        const char* what;
        void (CR100::*select)(int);
        int number;
        QString error;
    };
    const Case cases[] = {
        {"matrix", &CR100::setMatrix, 11,
         QStringLiteral("Matrix #11 cannot be set before the CRI colorimeter has listed its matrices")},
        {"filter", &CR100::setFilter, 45,
         QStringLiteral("Filter #45 cannot be set before the CRI colorimeter has listed its filters")},
    };
    const Commands setup = {"SM Reset",     "RC Model",       "RC InstrumentType", "RC Filter",
                            "SM Filter1 4", "RC MatrixCalib", "SM Matrix 1",       "SM UserCalibMode 1",
                            "M",            "RM Y",           "RM CCT"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startOver();
        storeSelection(4, 1);
        listNeighbours(*instrument);
        readOnce();
        ASSERT_EQ(instrument->commands(), setup);
        instrument->removeReply("M");
        readOnce();
        expectError(1, QStringLiteral("No reply from CRI colorimeter to [M]"));

        instrument->clearCommands();
        expectOneAnswer([&] { (colorimeter().*c.select)(c.number); });
        expectError(1, c.error);
        EXPECT_TRUE(instrument->commands().isEmpty());
        EXPECT_EQ(storedSelection(), std::make_pair(4, 1));

        instrument->setReply("M", "OK:0:M:\r\n");
        readOnce();
        EXPECT_EQ(instrument->commands(), setup);
        expectError(0, QString());
        EXPECT_EQ(colorimeter().filter(), 4);
        EXPECT_EQ(colorimeter().matrix(), 1);
    }

    // Unplugged, the instrument cannot list anything either: the one answer is that it is not
    // found, and the setting stays.
    expectOneAnswer([this] { instrument->hangUp(); });
    *ports = {};
    expectOneAnswer([this] { colorimeter().setMatrix(11); });
    expectError(2, QStringLiteral("CRI colorimeter not found"));
    EXPECT_EQ(storedSelection(), std::make_pair(4, 1));
}

// Numbers that are not finite read as 0: a luminance of 0, a CCT of 0 that makes the reading
// unavailable.
TEST_F(CR100Test, NumbersThatAreNotFiniteReadAsZero)
{
    setUpInstrument();
    for (const QByteArray text : {"nan", "inf", "-inf", "1e999", "x"}) {
        SCOPED_TRACE(text.constData());
        instrument->setReply("RM Y", "OK:0:RM Y:" + text + "\r\n");
        instrument->setReply("RM CCT", "OK:0:RM CCT:6504.2,0.0012\r\n");
        readOnce();
        expectError(0, QString());
        EXPECT_EQ(colorimeter().luminance(), 0.0);

        instrument->setReply("RM Y", "OK:0:RM Y:123.45\r\n");
        instrument->setReply("RM CCT", "OK:0:RM CCT:" + text + ",0.0012\r\n");
        readOnce();
        expectError(1, QStringLiteral("CCT, dUV unavailable / out of range"));
    }
}

TEST_F(CR100Test, RepliesEndWithCrLfOrBoth)
{
    for (const QByteArray end : {"\r", "\n", "\r\n", "\n\r"}) {
        SCOPED_TRACE(end.toHex().constData());
        startOver();
        answerLikeTheInstrument(*instrument, end);
        readOnce();
        EXPECT_EQ(instrument->commands(), SetupCommands);
        EXPECT_TRUE(colorimeter().errorType().ok());
        EXPECT_EQ(colorimeter().matrixList()->count(), 3);
        EXPECT_DOUBLE_EQ(colorimeter().cct(), 6504.2);
    }
}

TEST_F(CR100Test, OverlongLineIsReadAsTwoLines)
{
    // 250 bytes: the first 199 make the status line, the rest an unexpected line.
    const QByteArray prefix = "OK:0:RC Model:";
    const QByteArray model(250 - prefix.size(), 'A');
    instrument->setReply("RC Model", prefix + model + "\r\n");
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
    EXPECT_TRUE(colorimeter().errorType().ok());
    EXPECT_EQ(colorimeter().name(), QString(SerialLineReader::MaxLineLength - prefix.size(), QLatin1Char('A')));
}

TEST_F(CR100Test, HangUpIsReportedOnceAndTheNextReadFindsThePortAgain)
{
    setUpInstrument();
    instrument->hangUpOn("M");
    readOnce();
    EXPECT_EQ(colorimeter().errorType().kind, 2);
    EXPECT_FALSE(colorimeter().error().isEmpty());
    // The dead line neither reports again nor keeps the event loop spinning.
    answers->clear();
    QTest::qWait(SettleMs);
    EXPECT_EQ(answers->count(), 0);

    plugInNewInstrument();
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
    EXPECT_TRUE(colorimeter().errorType().ok());

    // Hanging up between readings is reported as well.
    answers->clear();
    instrument->hangUp();
    ASSERT_TRUE(answers->wait(AnswerWaitMs));
    QTest::qWait(SettleMs);
    EXPECT_EQ(answers->count(), 1);
    EXPECT_EQ(colorimeter().errorType().kind, 2);
}

TEST_F(CR100Test, SelectingFilterOrMatrixRunsItsChain)
{
    struct Case
    {
        const char* what;
        void (CR100::*select)(int);
        int number;
        Commands commands;
    };
    const Case cases[] = {
        {"no matrix", &CR100::setMatrix, -1, {"SM UserCalibMode 0", "M", "RM Y", "RM CCT"}},
        {"matrix 3", &CR100::setMatrix, 3, {"SM Matrix 3", "SM UserCalibMode 1", "M", "RM Y", "RM CCT"}},
        {"filter 4", &CR100::setFilter, 4,
         {"SM Filter1 4", "RC MatrixCalib", "SM Matrix 3", "SM UserCalibMode 1", "M", "RM Y", "RM CCT"}},
        {"no filter", &CR100::setFilter, -1,
         {"SM Reset", "RC Model", "RC InstrumentType", "RC Filter", "RC MatrixCalib", "SM Matrix 3",
          "SM UserCalibMode 1", "M", "RM Y", "RM CCT"}},
    };
    setUpInstrument();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectOneAnswer([&] { (colorimeter().*c.select)(c.number); });
        EXPECT_EQ(instrument->commands(), c.commands);
        EXPECT_TRUE(colorimeter().errorType().ok());
        instrument->clearCommands();
    }
    EXPECT_EQ(colorimeter().matrix(), 3);
    EXPECT_EQ(colorimeter().filter(), -1);
}

TEST_F(CR100Test, SelectionWaitsForTheRunningChain)
{
    colorimeter();
    answers->clear();
    colorimeter().read();
    colorimeter().setMatrix(3); // runs the set-up's replies while it waits
    ASSERT_TRUE(answers->count() == 2 || answers->wait(AnswerWaitMs));
    QTest::qWait(SettleMs);
    EXPECT_EQ(answers->count(), 2);
    EXPECT_EQ(instrument->commands(),
              (SetupCommands + Commands{"SM Matrix 3", "SM UserCalibMode 1", "M", "RM Y", "RM CCT"}));

    // With the instrument silent, the wait ends with the time-out.
    instrument->clearCommands();
    instrument->removeReply("M");
    answers->clear();
    QElapsedTimer clock;
    clock.start();
    colorimeter().read();
    colorimeter().setMatrix(-1);
    EXPECT_LT(clock.elapsed(), MeasurementTimeout.count() + AnswerWaitMs);
    EXPECT_GE(answers->count(), 1);
    EXPECT_EQ(colorimeter().error(), QStringLiteral("No reply from CRI colorimeter to [M]"));
    // Then the selection goes ahead.
    ASSERT_TRUE(instrument->waitForCommands(2, AnswerWaitMs));
    EXPECT_EQ(instrument->commands(), (Commands{"M", "SM UserCalibMode 0"}));
}

TEST_F(CR100Test, MissingOrUnopenablePortIsReported)
{
    struct Case
    {
        const char* what;
        QList<Port> ports;
        QString error;
    };
    const Case cases[] = {
        {"no port", {}, QStringLiteral("CRI colorimeter not found")},
        {"another device", {Port{"ttyACM0", instrument->slavePath(), CR100::VendorId, 0x0003}},
         QStringLiteral("CRI colorimeter not found")},
        {"port gone", {instrumentAt(QStringLiteral("/nonexistent/ttyACM9"))}, QStringLiteral("Unable to open serial port")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        *ports = c.ports;
        readOnce();
        expectError(2, c.error);
        EXPECT_TRUE(instrument->commands().isEmpty());
    }
    // The instrument plugged in later is found by the next read.
    *ports = {instrumentAt(instrument->slavePath())};
    readOnce();
    EXPECT_EQ(instrument->commands(), SetupCommands);
}

TEST_F(CR100Test, ErrorWaitsForAReceiverCopyingTheReading)
{
    // The engine copies a reading on its own thread between lock() and unlock(); a failure
    // reported meanwhile must not change the fields under its hands.
    *ports = {};
    CR100& meter = colorimeter();
    std::atomic<bool> locked{false};
    QString before;
    QString after;
    std::thread receiver([&] {
        meter.lock();
        locked = true;
        before = meter.error();
        QThread::msleep(200);
        after = meter.error();
        meter.unlock();
    });
    const QDeadlineTimer deadline(AnswerWaitMs);
    while (!locked && !deadline.hasExpired())
        QThread::yieldCurrentThread();
    meter.read();
    receiver.join();
    EXPECT_EQ(before, after);
    expectError(2, QStringLiteral("CRI colorimeter not found"));
}

TEST(CR100PortTest, InstrumentPortMatchesNameAndUsbIdentifiers)
{
    const auto port = [](const char* name, std::optional<quint16> vendor, std::optional<quint16> product) {
        return Port{QLatin1String(name), QStringLiteral("/dev/") + QLatin1String(name), vendor, product};
    };
    const quint16 vendor = CR100::VendorId;
    const quint16 product = CR100::ProductId;
    struct Case
    {
        const char* what;
        QList<Port> ports;
        QString expected; // the name taken, or empty for none
    };
    const Case cases[] = {
        {"Windows", {port("COM7", vendor, product)}, QStringLiteral("COM7")},
        {"macOS", {port("cu.usbmodem1", vendor, product)}, QStringLiteral("cu.usbmodem1")},
        {"Linux ACM", {port("ttyACM0", vendor, product)}, QStringLiteral("ttyACM0")},
        {"Linux USB", {port("ttyUSB1", vendor, product)}, QStringLiteral("ttyUSB1")},
        {"other prefix", {port("usbmodem1", vendor, product)}, QString()},
        {"lower-case com", {port("com7", vendor, product)}, QString()},
        {"other product", {port("COM7", vendor, 0x0003)}, QString()},
        {"other vendor", {port("COM7", 0x2798, product)}, QString()},
        {"no identifiers", {port("ttyS0", std::nullopt, std::nullopt)}, QString()},
        {"first of two", {port("ttyS0", std::nullopt, std::nullopt), port("ttyACM1", vendor, product),
                          port("ttyACM0", vendor, product)},
         QStringLiteral("ttyACM1")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Port> found = CR100::instrumentPort(c.ports);
        EXPECT_EQ(found ? found->name : QString(), c.expected);
    }
}

TEST(CR100PortTest, SystemListWithoutTheInstrumentIsNotFound)
{
    if (CR100::instrumentPort(SerialPortLister().ports()))
        GTEST_SKIP() << "an instrument is plugged into this machine";
    TestSettings::clearSettings();
    CR100 meter;
    QSignalSpy spy(&meter, &Colorimeter::dataAvailable);
    meter.read();
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(meter.error(), QStringLiteral("CRI colorimeter not found"));
    EXPECT_EQ(meter.errorType().kind, 2);
}

} // namespace
