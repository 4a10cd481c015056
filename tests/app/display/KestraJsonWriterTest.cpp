// The processor's request bodies are written directly; the processor must receive the very bytes
// Qt's JSON writer made of the same document. Each case here is written both ways and compared.
#include "display/KestraJsonWriter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string qtText(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string writtenNumber(double value)
{
    KestraJsonWriter json;
    json.openObject().number("v", value).closeObject();
    return json.take();
}

std::string qtNumber(double value)
{
    return qtText(QJsonObject{{"v", value}});
}

// Every kind of double the gains and settings may hold, and the edges of Qt's number format:
// integers as integers up to 2^53, the shortest digits that read back, the choice between decimal
// and exponent form (1e-04 but 0.001, 1e+05 but 120000), two-digit exponents.
std::vector<double> edgeNumbers()
{
    const double max = std::numeric_limits<double>::max();
    const double twoTo53 = 9007199254740992.0;
    std::vector<double> values = {
        0.0, -0.0, 1.0, -1.0, 0.5, 0.1, 0.2 + 0.1, 1.0 / 3.0, 2.4, 6500.0, 10000.0, -0.9, 1e-4, 1.5e-4, 1e-5,
        0.001, 0.00012345, 12345.0, 100000.0, 120000.0, 1e6, 1234.5, 100.25, 1e15, 1e16, 4e15, 9.1e15, 1e17,
        1e20, 1e21, 1e22, 1e100, 1.5e300, 123456789012.0, 1.2e11, twoTo53, -twoTo53, twoTo53 + 2.0,
        std::nextafter(twoTo53, 0.0), 4503599627370495.5, max, -max, std::numeric_limits<double>::min(),
        std::numeric_limits<double>::denorm_min(), 99999999999999984.0, 1e-7, 9.999999999999999e22,
        std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
    };
    for (int exponent = -324; exponent <= 308; ++exponent) {
        const double power = std::pow(10.0, exponent);
        for (const double mantissa : {1.0, 1.5, -7.25, 9.99})
            values.push_back(mantissa * power);
        values.push_back(std::nextafter(power, 0.0));
        values.push_back(std::nextafter(power, max));
    }
    for (int exponent = -1074; exponent <= 1023; exponent += 7)
        values.push_back(std::ldexp(1.0, exponent) * 3.0);
    return values;
}

// Text that Qt escapes, or writes as UTF-8, in every way it does.
std::vector<QString> edgeTexts()
{
    std::vector<QString> texts = {
        QString(),
        "00:1a:2b:00:00:01",
        "quote \" backslash \\ slash /",
        QString::fromUtf8("\b\f\n\r\t\x01\x1f\x7f"),
        QString(QChar(0)) + "after a NUL",
        QString::fromUtf8("Latin-1 \xc3\xa9\xc3\xbf, BMP \xe2\x82\xac\xef\xbf\xbf, astral \xf0\x9f\x98\x80"),
        QString(QChar(0xd800)) + "a lone high surrogate",
        "a lone low surrogate " + QString(QChar(0xdc00)),
        "a high surrogate at the end " + QString(QChar(0xd83d)),
        QString(QChar(0xdc00)) + QString(QChar(0xd800)), // a pair in the wrong order
    };
    QString everyControl;
    for (char16_t c = 0; c < 0x20; ++c)
        everyControl += QChar(c);
    texts.push_back(everyControl);
    return texts;
}

} // namespace

TEST(KestraJsonWriter, WritesNumbersAsQtDoes)
{
    for (const double value : edgeNumbers())
        EXPECT_EQ(writtenNumber(value), qtNumber(value)) << "value " << value;
}

TEST(KestraJsonWriter, WritesAnyDoubleAsQtDoes)
{
    // Random bit patterns (every exponent, NaNs among them), magnitudes from 1e-320 to 1e308,
    // gains with a few decimals and whole numbers around 2^53.
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-320, 308);
    std::uniform_int_distribution<std::int64_t> whole(-(std::int64_t(1) << 56), std::int64_t(1) << 56);
    constexpr int kValues = 20000;
    int mismatches = 0;
    for (int i = 0; i < kValues && mismatches < 10; ++i) {
        double value = 0.0;
        switch (i % 4) {
        case 0: value = std::bit_cast<double>(random()); break;
        case 1: value = unit(random) * std::pow(10.0, exponent(random)); break;
        case 2: value = std::round(unit(random) * 1e6) / 1e3; break;
        default: value = double(whole(random)); break;
        }
        const std::string written = writtenNumber(value);
        const std::string expected = qtNumber(value);
        if (written != expected) {
            ++mismatches;
            ADD_FAILURE() << "value " << value << ": " << written << " instead of " << expected;
        }
    }
}

TEST(KestraJsonWriter, WritesIntegersAndBooleansAsQtDoes)
{
    for (const qint64 value : {qint64(0), qint64(-1), qint64(6500), std::numeric_limits<qint64>::max(),
                               std::numeric_limits<qint64>::min()}) {
        KestraJsonWriter json;
        json.openObject().integer("v", value).closeObject();
        EXPECT_EQ(json.take(), qtText(QJsonObject{{"v", value}}));
    }
    KestraJsonWriter json;
    json.openObject().boolean("f", false).boolean("t", true).closeObject();
    EXPECT_EQ(json.take(), qtText(QJsonObject{{"t", true}, {"f", false}}));
}

TEST(KestraJsonWriter, EscapesKeysAndStringsAsQtDoes)
{
    for (const QString& text : edgeTexts()) {
        SCOPED_TRACE(text.toStdString());
        KestraJsonWriter asKey;
        asKey.openObject().openObject(QStringView(text)).closeObject().closeObject();
        EXPECT_EQ(asKey.take(), qtText(QJsonObject{{text, QJsonObject()}}));
    }
    // Latin-1 bytes, every one of them, as a key and as a value.
    for (int byte = 0; byte < 256; ++byte) {
        const std::string latin1 = "k" + std::string(1, char(byte));
        const QString text = QString::fromLatin1(latin1.data(), qsizetype(latin1.size()));
        KestraJsonWriter json;
        json.openObject().string(latin1, latin1).closeObject();
        EXPECT_EQ(json.take(), qtText(QJsonObject{{text, text}})) << "byte " << byte;
    }
}

TEST(KestraJsonWriter, SeparatesMembersOfNestedObjectsAsQtDoes)
{
    KestraJsonWriter json;
    json.openObject()
        .openObject("a")
        .closeObject()
        .openObject("b")
        .openObject("c")
        .integer("d", 1)
        .closeObject()
        .number("e", 0.5)
        .closeObject()
        .string("f", "white")
        .closeObject();
    const QJsonObject expected{{"a", QJsonObject()},
                               {"b", QJsonObject{{"c", QJsonObject{{"d", 1}}}, {"e", 0.5}}},
                               {"f", "white"}};
    EXPECT_EQ(json.take(), qtText(expected));
    EXPECT_EQ(json.take(), ""); // taken: the writer starts again empty
}
