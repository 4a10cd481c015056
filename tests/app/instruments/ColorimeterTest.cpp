#include "instruments/Colorimeter.h"

#include "support/TestSettings.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QQmlListProperty>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

const QString Minus = QStringLiteral("\u2212");

class ColorimeterTest : public ::testing::Test
{
protected:
    void SetUp() override { TestSettings::clearSettings(); }
};

// Records which virtual setters setFilterAndMatrix went through, as a derived instrument would
// see them.
class RecordingColorimeter : public Colorimeter
{
public:
    using Colorimeter::Colorimeter;
    void setFilter(int filter) override
    {
        calls << QStringLiteral("filter %1").arg(filter);
        Colorimeter::setFilter(filter);
    }
    void setMatrix(int matrix) override
    {
        calls << QStringLiteral("matrix %1").arg(matrix);
        Colorimeter::setMatrix(matrix);
    }
    QStringList calls;
};

// Lets the event loop run long enough for setFilterAndMatrix to have applied a selection; for
// checking that none was made.
void settle()
{
    QTest::qWait(20);
}

void addOptions(OptionList* list, std::initializer_list<int> numbers, QObject* owner)
{
    for (int number : numbers)
        list->append(new Option(number, QStringLiteral("option %1").arg(number), QString(), owner));
}

} // namespace

TEST_F(ColorimeterTest, TextForms)
{
    struct Case
    {
        const char* what;
        std::function<void(Colorimeter&)> write;
        std::function<QString(const Colorimeter&)> text;
        QString expected;
    };
    const auto cct = [](const Colorimeter& c) { return c.cctString(); };
    const auto duv = [](const Colorimeter& c) { return c.duvString(); };
    const auto xy = [](const Colorimeter& c) { return c.cieXYString(); };
    const auto lum = [](const Colorimeter& c) { return c.luminanceString(); };
    const Case cases[] = {
        {"whole kelvin", [](Colorimeter& c) { c.setCct(6500); }, cct, QStringLiteral("6500 K")},
        {"fractional kelvin", [](Colorimeter& c) { c.setCct(3200.25); }, cct, QStringLiteral("3200.25 K")},
        {"small positive duv", [](Colorimeter& c) { c.setDuv(9.9654e-5); }, duv, QStringLiteral("+0.0001")},
        {"negative duv", [](Colorimeter& c) { c.setDuv(-0.0023); }, duv, Minus + QStringLiteral("0.0023")},
        {"tiny negative duv keeps its sign", [](Colorimeter& c) { c.setDuv(-0.00005); }, duv,
         Minus + QStringLiteral("0.0001")},
        {"duv back to zero", [](Colorimeter& c) { c.setDuv(0.01); c.setDuv(0); }, duv, QStringLiteral("+0.0000")},
        {"chromaticity", [](Colorimeter& c) { c.setCieXY(0.3, 0.345678); }, xy, QStringLiteral("0.3000, 0.3457")},
        {"luminance", [](Colorimeter& c) { c.setLuminance(1024); }, lum, QStringLiteral("1024 cd/m\u00B2")},
        {"fractional luminance", [](Colorimeter& c) { c.setLuminance(120.5); }, lum,
         QStringLiteral("120.5 cd/m\u00B2")},
        {"units rebuild the text", [](Colorimeter& c) { c.setLuminance(12); c.setLuminanceUnits("fL"); }, lum,
         QStringLiteral("12 fL")},
    };
    for (const Case& test : cases) {
        Colorimeter colorimeter(QStringLiteral("meter"));
        test.write(colorimeter);
        EXPECT_EQ(test.text(colorimeter), test.expected) << test.what;
    }
}

TEST_F(ColorimeterTest, WritersSignalOnlyRealChanges)
{
    Colorimeter colorimeter(QStringLiteral("meter"));
    QSignalSpy cct(&colorimeter, &Colorimeter::cctChanged);
    QSignalSpy cieX(&colorimeter, &Colorimeter::cieXChanged);
    QSignalSpy cieY(&colorimeter, &Colorimeter::cieYChanged);
    QSignalSpy text(&colorimeter, &Colorimeter::cieXYStringChanged);

    colorimeter.setCct(5000);
    colorimeter.setCct(5000);
    EXPECT_EQ(cct.count(), 1);

    colorimeter.setCieXY(0.31, 0.32);
    colorimeter.setCieXY(0.31, 0.32);
    // Both values are announced when either changes, but the text only when it reads differently.
    colorimeter.setCieXY(0.31, 0.320001);
    EXPECT_EQ(cieX.count(), 2);
    EXPECT_EQ(cieY.count(), 2);
    EXPECT_EQ(text.count(), 1);
}

TEST_F(ColorimeterTest, DummyShowsFixedChromaticityAndReadsRandomLuminance)
{
    Colorimeter dummy(Colorimeter::DummyName);
    EXPECT_EQ(dummy.cctString(), QStringLiteral("6500 K"));
    EXPECT_EQ(dummy.duvString(), QStringLiteral("+0.0001"));
    EXPECT_EQ(dummy.cieXYString(), QStringLiteral("0.3000, 0.3457"));
    EXPECT_EQ(dummy.luminanceString(), QStringLiteral("1024 cd/m\u00B2"));
    EXPECT_EQ(dummy.address(), QStringLiteral("N/A"));
    EXPECT_EQ(QSettings().value(QStringLiteral("dummy/address")).toString(), QStringLiteral("N/A"));

    QSignalSpy data(&dummy, &Colorimeter::dataAvailable);
    for (int i = 0; i < 20; ++i) {
        dummy.read();
        ASSERT_EQ(data.count(), i + 1);
        EXPECT_EQ(data.last().at(0).value<Colorimeter*>(), &dummy);
        EXPECT_GE(dummy.luminance(), 0.0);
        EXPECT_LT(dummy.luminance(), 2000.0);
        EXPECT_EQ(dummy.luminance(), std::floor(dummy.luminance()));
    }
    EXPECT_DOUBLE_EQ(dummy.cct(), 6500.0);
    EXPECT_DOUBLE_EQ(dummy.cieY(), 0.345678);
    EXPECT_EQ(dummy.errorType().kind, 0);

    // The time stamp is local time with its offset, to the millisecond.
    const QDateTime stamp = QDateTime::fromString(dummy.timestamp(), Qt::ISODateWithMs);
    ASSERT_TRUE(stamp.isValid()) << qPrintable(dummy.timestamp());
    EXPECT_LT(std::abs(stamp.msecsTo(QDateTime::currentDateTime())), 60000);
    EXPECT_TRUE(dummy.timestamp().contains(QRegularExpression(QStringLiteral("\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"))))
        << qPrintable(dummy.timestamp());

    // The name is compared case-sensitively.
    Colorimeter notDummy(QStringLiteral("Dummy"));
    EXPECT_TRUE(notDummy.address().isEmpty());
    EXPECT_EQ(notDummy.cct(), 0.0);
    EXPECT_EQ(notDummy.luminanceString(), QString());
}

TEST_F(ColorimeterTest, ErrorRuleRecordsOnlyPassingBetweenSuccessAndFailure)
{
    struct Case
    {
        const char* what;
        ErrorType first;
        ErrorType second;
        ErrorType stored;
        int notifications;
    };
    const ErrorType ok;
    const ErrorType retry{1, QStringLiteral("retry")};
    const ErrorType fatal{2, QStringLiteral("fatal")};
    const Case cases[] = {
        {"success stays success", ok, ErrorType{0, QStringLiteral("x")}, ok, 0},
        {"failure is recorded", ok, retry, retry, 1},
        {"a second error is not", retry, fatal, retry, 1},
        {"nor a new message", retry, ErrorType{1, QStringLiteral("other")}, retry, 1},
        {"success clears it", fatal, ok, ok, 2},
    };
    for (const Case& test : cases) {
        Colorimeter colorimeter(QStringLiteral("meter"));
        QSignalSpy changed(&colorimeter, &Colorimeter::errorTypeChanged);
        colorimeter.setErrorType(test.first);
        colorimeter.setErrorType(test.second);
        EXPECT_EQ(colorimeter.errorType(), test.stored) << test.what;
        EXPECT_EQ(changed.count(), test.notifications) << test.what;
    }
}

TEST_F(ColorimeterTest, AddressLosesSchemeAndIsRemembered)
{
    const struct
    {
        QString typed;
        QString stored;
    } cases[] = {
        {QStringLiteral("192.168.1.20"), QStringLiteral("192.168.1.20")},
        {QStringLiteral("HTTP://meter.local:8080/read"), QStringLiteral("meter.local:8080/read")},
        {QStringLiteral("meter/Http://x"), QStringLiteral("meter/x")},
    };
    for (const auto& test : cases) {
        {
            Colorimeter colorimeter(QStringLiteral("meter"));
            colorimeter.setAddress(test.typed);
            EXPECT_EQ(colorimeter.address(), test.stored);
        }
        Colorimeter restarted(QStringLiteral("meter"));
        EXPECT_EQ(restarted.address(), test.stored);
    }
}

TEST_F(ColorimeterTest, FilterIsCheckedAgainstTheList)
{
    Colorimeter colorimeter(QStringLiteral("meter"));
    EXPECT_EQ(colorimeter.filter(), Colorimeter::None);
    EXPECT_EQ(colorimeter.filterName(), QStringLiteral("none"));

    QSignalSpy changed(&colorimeter, &Colorimeter::filterChanged);
    QSignalSpy nameChanged(&colorimeter, &Colorimeter::filterNameChanged);
    colorimeter.setFilter(42);
    EXPECT_EQ(colorimeter.filter(), Colorimeter::None);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(nameChanged.count(), 1);

    addOptions(colorimeter.filterList(), {4, 5}, &colorimeter);
    addOptions(colorimeter.matrixList(), {0}, &colorimeter);
    colorimeter.setFilter(5);
    colorimeter.setMatrix(0);
    EXPECT_EQ(colorimeter.filter(), 5);
    EXPECT_EQ(colorimeter.filterName(), QStringLiteral("option 5"));
    EXPECT_EQ(colorimeter.matrix(), 0);
    EXPECT_EQ(QSettings().value(QStringLiteral("meter/filter")).toInt(), 5);
    EXPECT_EQ(QSettings().value(QStringLiteral("meter/matrix")).toInt(), 0);

    colorimeter.setFilter(42);
    EXPECT_EQ(colorimeter.filter(), Colorimeter::None);
    EXPECT_EQ(colorimeter.filterName(), QStringLiteral("none"));
}

TEST_F(ColorimeterTest, StoredNumbersSurviveConstructionUnchecked)
{
    QSettings().setValue(QStringLiteral("meter/filter"), 9);
    Colorimeter colorimeter(QStringLiteral("meter"));
    // Only "none" is offered yet, so no filter is in use; the stored number waits for the list.
    EXPECT_EQ(colorimeter.filter(), Colorimeter::None);
    addOptions(colorimeter.filterList(), {9}, &colorimeter);
    EXPECT_EQ(colorimeter.filter(), 9);
}

TEST_F(ColorimeterTest, NoFilterAndNoMatrixSurviveARestart)
{
    {
        Colorimeter colorimeter(QStringLiteral("meter"));
        addOptions(colorimeter.filterList(), {0, 3}, &colorimeter);
        addOptions(colorimeter.matrixList(), {0, 3}, &colorimeter);
        colorimeter.setFilter(3);
        colorimeter.setMatrix(3);
        colorimeter.setFilter(Colorimeter::None);
        colorimeter.setMatrix(Colorimeter::None);
    }
    QSettings().sync();

    Colorimeter restarted(QStringLiteral("meter"));
    addOptions(restarted.filterList(), {0, 3}, &restarted);
    addOptions(restarted.matrixList(), {0, 3}, &restarted);
    // Read back as unsigned, -1 would turn into filter and matrix 0.
    EXPECT_EQ(restarted.filter(), Colorimeter::None);
    EXPECT_EQ(restarted.matrix(), Colorimeter::None);
    EXPECT_EQ(restarted.filterName(), QStringLiteral("none"));
}

TEST_F(ColorimeterTest, FilterAndMatrixAreSelectedLaterThroughTheVirtualSetters)
{
    RecordingColorimeter colorimeter(QStringLiteral("meter"));
    addOptions(colorimeter.filterList(), {4}, &colorimeter);
    addOptions(colorimeter.matrixList(), {3}, &colorimeter);
    const qsizetype children = colorimeter.children().size();

    colorimeter.setFilterAndMatrix(Colorimeter::Unchanged, 3);
    EXPECT_TRUE(colorimeter.calls.isEmpty()) << "applied only after the caller returned";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !colorimeter.calls.isEmpty(); }, 1000));
    EXPECT_EQ(colorimeter.calls, QStringList{QStringLiteral("matrix 3")});
    EXPECT_EQ(colorimeter.matrix(), 3);
    EXPECT_EQ(colorimeter.filter(), Colorimeter::None);

    colorimeter.calls.clear();
    colorimeter.setFilterAndMatrix(4, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return colorimeter.calls.size() == 2; }, 1000));
    EXPECT_EQ(colorimeter.calls, (QStringList{QStringLiteral("matrix 3"), QStringLiteral("filter 4")}));

    // Nothing to do when both are already in use.
    colorimeter.calls.clear();
    colorimeter.setFilterAndMatrix(4, 3);
    settle();
    EXPECT_TRUE(colorimeter.calls.isEmpty());

    // Repeated selections leave nothing behind.
    for (int i = 0; i < 50; ++i)
        colorimeter.setFilterAndMatrix(i % 2 ? 4 : Colorimeter::None, Colorimeter::Unchanged);
    settle();
    EXPECT_EQ(colorimeter.children().size(), children);
}

TEST(OptionList, AlwaysStartsWithNone)
{
    Option blank;
    EXPECT_EQ(blank.number(), Option::NoneNumber);

    OptionList list;
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.at(0)->number(), -1);
    EXPECT_EQ(list.at(0)->name(), QStringLiteral("none"));
    EXPECT_TRUE(list.at(0)->type().isEmpty());

    Option a(1, QStringLiteral("a"), QStringLiteral("t"));
    Option b(2, QStringLiteral("b"), QString());
    list.append(&a);
    list.append(&b);
    EXPECT_EQ(list.find(2), &b);
    EXPECT_EQ(list.find(7), nullptr);
    list.clear();
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.at(0)->name(), QStringLiteral("none"));

    // The QML view of the list works on the same options, and its clear keeps "none" too.
    QQmlListProperty<Option> qml = list.options();
    qml.append(&qml, &a);
    EXPECT_EQ(qml.count(&qml), 2);
    EXPECT_EQ(qml.at(&qml, 1), &a);
    qml.replace(&qml, 1, &b);
    EXPECT_EQ(list.at(1), &b);
    qml.clear(&qml);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(qml.at(&qml, 0)->name(), QStringLiteral("none"));
}
