#include "display/DisplayBase.h"
#include "support/MessageCapture.h"
#include "support/QtPrinters.h"
#include "support/SignalRecorder.h"
#include "support/TestDisplay.h"
#include "support/TestSettings.h"

#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class DisplayBaseTest : public ::testing::Test
{
protected:
    void SetUp() override { TestSettings::clearSettings(); }
};

const QString enDash = QString(QChar(0x2013));

} // namespace

TEST_F(DisplayBaseTest, AddressComesFromTheSettingsUnlessTheNameIsSimulated)
{
    QSettings().setValue("Test Display/address", "127.0.0.1");
    QSettings().setValue("My Dummy Wall/address", "127.0.0.1");
    QSettings().setValue("litTiles127.0.0.1", QRect(QPoint(5, 6), QPoint(7, 8)));

    TestDisplay stored;
    EXPECT_EQ(stored.address(), "127.0.0.1");

    TestDisplay dummy(QStringLiteral("My Dummy Wall"));
    EXPECT_EQ(dummy.address(), "N/A");
    EXPECT_EQ(QSettings().value("My Dummy Wall/address").toString(), "N/A");

    TestDisplay fresh(QStringLiteral("Unknown"));
    EXPECT_TRUE(fresh.address().isEmpty());
    EXPECT_EQ(fresh.red(), 0.5);
    EXPECT_EQ(fresh.maximum(), 1u);
    EXPECT_EQ(fresh.outputFrequency(), 60.0);
    EXPECT_FALSE(fresh.isKestra());
    EXPECT_EQ(fresh.maxX(), 2);
    EXPECT_EQ(fresh.maxY(), 1);
}

TEST_F(DisplayBaseTest, SetAddressStripsThePrefixPersistsAndSignalsChanges)
{
    TestDisplay display;
    QSignalSpy changed(&display, &DisplayBase::addressChanged);

    display.setProperty("address", "HTTP://127.0.0.1");
    EXPECT_EQ(display.address(), "127.0.0.1");
    EXPECT_EQ(QSettings().value("Test Display/address").toString(), "127.0.0.1");
    EXPECT_EQ(changed.count(), 1);

    display.setAddress("127.0.0.1");
    EXPECT_EQ(changed.count(), 1);

    // Compared before stripping: the same address with the prefix is stored again and signalled.
    display.setAddress("http://127.0.0.1");
    EXPECT_EQ(display.address(), "127.0.0.1");
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(DisplayBaseTest, CountersAdvanceOnEveryReadAndSettersSignalTheirChanges)
{
    TestDisplay display;
    SignalRecorder recorder(&display);

    const int first = display.property("ldmData").toInt();
    EXPECT_GT(display.property("ldmData").toInt(), first);
    const int refreshed = display.refresh();
    EXPECT_GT(display.refresh(), refreshed);
    display.setProperty("ldmData", 42);
    display.setProperty("tileData", 42);
    display.setProperty("maximum", 3);
    display.setProperty("maximum", 3);
    EXPECT_EQ(display.maximum(), 3u);
    display.setName("Test Display");
    display.setName("Other");
    display.setCycling(false);
    display.setCycling(true);
    display.setOutputFrequency(60.0);
    display.setProperty("red", 0.75); // through the virtual setter
    EXPECT_EQ(display.red(), 0.75);

    QSignalSpy frequency(&display, &DisplayBase::outputFrequencyChanged);
    display.setOutputFrequency(50.0);
    ASSERT_EQ(frequency.count(), 1);
    EXPECT_EQ(frequency.at(0).at(0).toDouble(), 50.0);

    EXPECT_EQ(recorder.names(), QStringList({"ldmDataChanged", "tileDataChanged", "maximumChanged", "maximumChanged",
                                             "nameChanged", "cyclingChanged", "redChanged", "colorStrChanged",
                                             "outputFrequencyChanged"}));
}

TEST_F(DisplayBaseTest, ColorStrScalesByThreeQuartersAndClampsEachByte)
{
    struct Case
    {
        double r, g, b, gain;
        const char* expected;
    };
    const Case cases[] = {
        {0.5, 0.5, 0.5, 1.0, "#606060"},
        {1.0, 0.0, 0.5, 1.0, "#bf0060"},
        {2.0, 1.0, 0.0, 1.0, "#ffbf00"}, // 2.0 x 0.75 is capped at full drive
        {0.5, 0.5, 0.5, 2.0, "#bfbfbf"},
        {-0.5, 0.5, 0.5, 1.0, "#006060"},
        {0.5, 0.5, 0.5, -1.0, "#000000"},
    };
    for (const Case& c : cases) {
        TestDisplay display;
        display.setRGB(0, c.r, c.g, c.b);
        display.setDisplayGainRGB(c.gain, c.gain, c.gain);
        EXPECT_EQ(display.colorStr(), c.expected) << c.r << " " << c.g << " " << c.b << " x " << c.gain;
    }
}

TEST_F(DisplayBaseTest, ColorReadoutShowsSixDecimalsInEightCharacters)
{
    TestDisplay display;
    EXPECT_EQ(display.colorReadout(), "red:0.500000  green:0.500000  blue:0.500000");
    display.setRGB(0, 0.25, 10.5, 0.0);
    EXPECT_EQ(display.property("colorReadout").toString(), "red:0.250000  green:10.500000  blue:0.000000");
}

TEST_F(DisplayBaseTest, SetRgbZeroChangesTheTestColourOnlyWhereItDiffers)
{
    TestDisplay display;
    display.fetchOutputConfig();
    SignalRecorder recorder(&display);

    EXPECT_TRUE(display.setRGB(0, 0.5, 0.5, 0.5).ok());
    EXPECT_TRUE(recorder.names().isEmpty());

    EXPECT_TRUE(display.setRGB(0, 0.5, 0.75, 0.5).ok());
    EXPECT_EQ(recorder.names(), QStringList({"greenChanged", "colorStrChanged"}));

    recorder.clear();
    EXPECT_TRUE(display.setRGB(5, 0.1, 0.2, 0.3).ok());
    EXPECT_EQ(recorder.names(), QStringList({"ldmDataChanged"}));
    EXPECT_EQ(display.green(), 0.75);
    const Macropixel& ldm = display.ldm(5);
    EXPECT_EQ(ldm.redGain, 0.1);
    EXPECT_EQ(ldm.greenGain, 0.2);
    EXPECT_EQ(ldm.blueGain, 0.3);
    EXPECT_EQ(ldm.intensityGain, 0.0);

    recorder.clear();
    EXPECT_TRUE(display.setDisplayGainRGB(1.0, 1.0, 1.0).ok());
    EXPECT_EQ(recorder.names(), QStringList({"displayGainRedChanged", "displayGainGreenChanged",
                                             "displayGainBlueChanged", "colorStrChanged"}));
}

TEST_F(DisplayBaseTest, DemonstrationWallHasOneTileOf144Ldms)
{
    TestDisplay display;
    SignalRecorder recorder(&display);
    MessageCapture log;

    ASSERT_TRUE(display.fetchOutputConfig().ok());

    EXPECT_EQ(recorder.names(),
              QStringList({"minXChanged", "maxXChanged", "minYChanged", "maxYChanged", "ldmCountChanged",
                           "tileCountChanged", "litTileCountChanged", "adjustableTileCountChanged", "refreshChanged", "fetchedOutputConfig", "ldmDataChanged",
                           "minLitLdmXChanged", "minLitLdmYChanged", "maxLitLdmXChanged", "maxLitLdmYChanged",
                           "litLdmCountChanged", "adjustableLdmCountChanged"}));
    EXPECT_EQ(display.minX(), 1000);
    EXPECT_EQ(display.maxX(), 2600);
    EXPECT_EQ(display.minY(), 50);
    EXPECT_EQ(display.maxY(), 950);
    EXPECT_EQ(display.ldmCount(), 144u);
    EXPECT_EQ(display.tileCount(), 1u);
    EXPECT_EQ(display.litLdmCount(), 144u);
    EXPECT_EQ(display.adjustableLdmCount(), 144u);
    EXPECT_EQ(display.litTileCount(), 1u);
    EXPECT_EQ(display.minLitLdmX(), 1000);
    EXPECT_EQ(display.maxLitLdmY(), 950);

    const Macropixel& seventeenth = display.ldm(17);
    EXPECT_EQ(seventeenth.number, 17u);
    EXPECT_EQ(seventeenth.x, 1000.0f);
    EXPECT_EQ(seventeenth.y, 150.0f);
    EXPECT_EQ(seventeenth.indexInTile, 1u);
    EXPECT_EQ(display.ldm(144).indexInTile, 4u);
    EXPECT_EQ(display.ldm(144).tileNumber, 1u);
    EXPECT_EQ(display.tile(1).number, 1u);
    EXPECT_EQ(display.tileWidth(1), 1600);
    EXPECT_EQ(display.tileHeight(1), 900);

    EXPECT_TRUE(log.contains("144 LDMs, spanning x from 1000 to 2600, y from 50 to 950"));
    EXPECT_TRUE(log.contains("1 Tile, spanning x from 1000 to 2600, y from 50 to 950"));
    EXPECT_TRUE(log.contains("Tile #1: Tile    1: 12:34:56:78:9A:BC from  1000,   50  to  2600 ,  950"));

    // A second fetch replaces the model; nothing accumulates.
    ASSERT_TRUE(display.fetchOutputConfig().ok());
    EXPECT_EQ(display.ldmCount(), 144u);
    EXPECT_EQ(display.tileCount(), 1u);
}

TEST_F(DisplayBaseTest, DumpsDescribeRecordsAndNameInvalidNumbers)
{
    TestDisplay display;
    display.fetchOutputConfig();
    display.setLdmRGB(2, 0.5, 1.25, 0, -1);
    display.setLdmRGBObserved(2, 12.5, 3, 0.25);

    EXPECT_EQ(display.dumpLdm(1), "LDM    1: 12:34:56:78:9A:BC #1 @ 1000,   50;  rgbi gains  0.000,  0.000,  0.000,  "
                                  "0.000;  RGB   0.00,   0.00,   0.00");
    EXPECT_EQ(display.dumpLdm(2), "LDM    2: 12:34:56:78:9A:BC #2 @ 1100,   50;  rgbi gains  0.500,  1.250,  0.000, "
                                  "-1.000;  RGB  12.50,   3.00,   0.25");
    EXPECT_EQ(display.dumpLdm(0), "invalid LDM number 0");
    EXPECT_EQ(display.dumpLdm(145), "invalid LDM number 145");
    EXPECT_EQ(display.dumpTile(2), "invalid Tile number 2");

    MessageCapture log;
    display.dumpLdms();
    display.dumpTiles();
    const QStringList lines = log.messages();
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines.at(5), display.dumpLdm(6));
    EXPECT_EQ(lines.at(6), "...and 138 more.");
    EXPECT_EQ(lines.at(7), display.dumpTile(1));
}

TEST_F(DisplayBaseTest, LookupsOfInvalidNumbersGiveTheirDefaults)
{
    TestDisplay display;
    display.fetchOutputConfig();
    MessageCapture log;

    EXPECT_EQ(display.litLdm(0).number, 0u);
    EXPECT_EQ(display.adjustableLdm(145).number, 0u);
    EXPECT_EQ(display.litTile(2).number, 0u);
    EXPECT_EQ(display.adjustableTile(2).number, 0u);
    EXPECT_EQ(log.messages(),
              QStringList({"********* DisplayBase::litLdm(0): index out of range 1" + enDash + "144",
                           "********* DisplayBase::adjustableLdm(145): index out of range 1" + enDash + "144",
                           "********* DisplayBase::litTile(2): index out of range 1" + enDash + "1",
                           "********* DisplayBase::adjustableTile(2): index out of range 1"}));

    EXPECT_EQ(display.ldmX(0), -1);
    EXPECT_EQ(display.tileY(2), -1);
    EXPECT_EQ(display.ldmWidth(145), 0);
    EXPECT_EQ(display.tileHeight(0), 0);
    EXPECT_EQ(display.ldmIntensityGain(145), 0.0);
    EXPECT_EQ(display.ldmBlueObserved(0), 0.0);
    EXPECT_FALSE(display.ldmIsLit(0));
    EXPECT_FALSE(display.tileAdjustable(2));
    EXPECT_EQ(display.tile(0).width, 0.0f);

    EXPECT_EQ(display.ldmX(144), 2500);
    EXPECT_EQ(display.litLdm(144).number, 144u);
    EXPECT_EQ(display.findLdm(1, 1099, 149)->number, 1u);
    EXPECT_EQ(display.findLdm(1, 1100, 50)->number, 2u);
    EXPECT_EQ(display.findLdm(1, 999, 50), nullptr);
    EXPECT_EQ(display.findLdm(2, 1000, 50), nullptr);
}

TEST_F(DisplayBaseTest, TheFallbackRecordCannotBeCorruptedThroughALookup)
{
    TestDisplay display;
    display.fetchOutputConfig();

    Macropixel& bad = display.ldm(0);
    bad.redGain = 5.0;
    bad.number = 3;
    bad.name = "written";
    const Macropixel& again = display.litLdm(999);
    EXPECT_EQ(again.number, 0u);
    EXPECT_EQ(again.redGain, 0.0);
    EXPECT_TRUE(again.name.isEmpty());

    display.tile(7).lit = false;
    EXPECT_TRUE(display.adjustableTile(7).lit);
    EXPECT_EQ(display.ldm(3).redGain, 0.0);
}

TEST_F(DisplayBaseTest, CountsThatDisagreeWithTheListsNeverIndexPastThem)
{
    TestDisplay display;
    display.fetchOutputConfig();
    display.clearOutputConfig(); // counts still say 144 LDMs and 1 tile
    MessageCapture log;

    EXPECT_EQ(display.ldmCount(), 144u);
    EXPECT_EQ(display.ldm(1).number, 0u);
    EXPECT_EQ(display.litLdm(1).number, 0u);
    EXPECT_EQ(display.adjustableLdm(144).number, 0u);
    EXPECT_EQ(display.litTile(1).number, 0u);
    EXPECT_EQ(display.adjustableTile(1).number, 0u);
    EXPECT_TRUE(log.contains("********* DisplayBase::litLdm(1): ran off end of array"));
    EXPECT_TRUE(log.contains("********* DisplayBase::adjustableTile(1): ran off end of array"));
    EXPECT_EQ(display.dumpLdm(5), "invalid LDM number 5");
    EXPECT_EQ(display.dumpTile(1), "invalid Tile number 1");
    EXPECT_EQ(display.setLdmRGB(1, 1, 1, 1).kind, ErrorType::Fatal);
    display.dumpLdms();
    display.recallLitTiles();
    display.adjustSelectedTiles(1);
    EXPECT_EQ(display.adjustableLdmCount(), 0u);

    // The other way round: a record appended but not yet counted is not dumped.
    display.fetchOutputConfig();
    display.addLdm(Macropixel(0, 0, 0, 10, 10));
    EXPECT_EQ(display.dumpLdm(145), "invalid LDM number 145");
    EXPECT_EQ(display.ldm(145).number, 145u);
}

TEST_F(DisplayBaseTest, SetLdmRgbsCopiesGainsByNumber)
{
    TestDisplay display;
    display.fetchOutputConfig();
    QSignalSpy data(&display, &DisplayBase::ldmDataChanged);

    QList<Macropixel*> none;
    const ErrorType empty = display.setLdmRGBs(none);
    EXPECT_EQ(empty.kind, ErrorType::Fatal);
    EXPECT_TRUE(empty.message.isEmpty());
    EXPECT_EQ(data.count(), 0);

    Macropixel third(3, 0, 0, 1, 1);
    third.redGain = 0.25;
    third.greenGain = 0.5;
    third.blueGain = 0.75;
    third.intensityGain = -1.0;
    third.redObserved = 99.0; // observed values are not copied
    Macropixel unnumbered;
    Macropixel beyond(145, 0, 0, 1, 1);
    QList<Macropixel*> ldms{&unnumbered, &third, nullptr, &beyond};
    EXPECT_TRUE(display.setLdmRGBs(ldms).ok());
    EXPECT_EQ(data.count(), 1);
    EXPECT_EQ(display.ldmRedGain(3), 0.25);
    EXPECT_EQ(display.ldmGreenGain(3), 0.5);
    EXPECT_EQ(display.ldmBlueGain(3), 0.75);
    EXPECT_EQ(display.ldmIntensityGain(3), -1.0);
    EXPECT_EQ(display.ldmRedObserved(3), 0.0);

    display.setLdmRGBObserved(3, 1.0, 2.0, 3.0);
    display.getLdmObservedRGBs(ldms);
    EXPECT_EQ(third.redObserved, 1.0);
    EXPECT_EQ(third.blueObserved, 3.0);
    EXPECT_EQ(data.count(), 1);
}

TEST_F(DisplayBaseTest, NumberMismatchesAreLoggedAndTheRecordStillCopied)
{
    TestDisplay display;
    display.addLdm(Macropixel(2, 0, 0, 10, 10));
    display.addLdm(Macropixel(1, 10, 0, 10, 10));
    display.finishOutputConfig();
    MessageCapture log;

    Macropixel first(1, 0, 0, 1, 1);
    first.redGain = 0.5;
    QList<Macropixel*> ldms{&first};
    EXPECT_TRUE(display.setLdmRGBs(ldms).ok());
    display.getLdmObservedRGBs(ldms);

    EXPECT_EQ(display.ldm(1).redGain, 0.5);
    EXPECT_TRUE(log.contains("setLdmRGBs number error!"));
    EXPECT_TRUE(log.contains("getLdmObservedRGBs number error!"));
}
