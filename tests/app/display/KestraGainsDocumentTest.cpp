// The LDM gains body is written directly; the processor must receive the very bytes it received
// when the body was a tree of Qt's JSON objects. The reference below builds that tree as the
// driver used to, and each case compares both texts byte for byte.
#include "display/KestraGainsDocument.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The gains document as Qt's JSON objects: receivers by name, their LDMs by index (as a signed
// 32-bit number); a receiver met again adds to its LDMs, an LDM met again takes the later gains.
std::string qtGainsText(const std::vector<Macropixel>& ldms)
{
    QMap<QString, QJsonObject> byReceiver;
    for (const Macropixel& ldm : ldms) {
        const QJsonObject gains{
            {"r", ldm.redGain}, {"g", ldm.greenGain}, {"b", ldm.blueGain}, {"i", ldm.intensityGain}};
        byReceiver[ldm.name].insert(QString::number(qint32(ldm.indexInTile)), QJsonObject{{"gains", gains}});
    }
    QJsonObject receivers;
    for (auto it = byReceiver.cbegin(); it != byReceiver.cend(); ++it)
        receivers.insert(it.key(), QJsonObject{{"ldms", it.value()}});
    return QJsonDocument(QJsonObject{{"dev", QJsonObject{{"receivers", receivers}}}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

std::string writtenGainsText(const std::vector<Macropixel>& ldms)
{
    KestraGainsDocument document;
    document.reserve(qsizetype(ldms.size()));
    for (const Macropixel& ldm : ldms)
        document.add(ldm);
    return document.text();
}

Macropixel ldm(const QString& receiver, quint32 index, double red, double green = 0.25, double blue = 0.75,
               double intensity = 0.0)
{
    Macropixel m;
    m.name = receiver;
    m.indexInTile = index;
    m.redGain = red;
    m.greenGain = green;
    m.blueGain = blue;
    m.intensityGain = intensity;
    return m;
}

} // namespace

TEST(KestraGainsDocument, WritesTheBytesQtsJsonWrote)
{
    const QString a = "00:1a:2b:00:00:01";
    const QString b = "00:1a:2b:00:00:02";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case
    {
        const char* name;
        std::vector<Macropixel> ldms;
    };
    const std::vector<Case> cases = {
        {"no LDMs", {}},
        {"one LDM", {ldm(a, 1, 0.1, -0.2, 0.3)}},
        {"receivers out of order, indices in text order", {ldm(b, 2, 1), ldm(a, 10, 2), ldm(a, 2, 3), ldm(a, 1, 4)}},
        {"a receiver met again adds to its LDMs", {ldm(a, 1, 0.1), ldm(b, 1, 0.4), ldm(a, 10, 0.2)}},
        {"an LDM met again carries the later gains", {ldm(b, 2, 0.1), ldm(a, 3, 0.2), ldm(b, 2, 0.5)}},
        {"indices beyond a signed 32-bit number turn negative",
         {ldm(a, 0x80000000u, 1), ldm(a, 0xffffffffu, 2), ldm(a, 0, 3), ldm(a, 2147483647u, 4)}},
        {"names in QString's order: upper before lower case, UTF-16 code units",
         {ldm("b", 1, 1), ldm("B", 1, 2), ldm(QString::fromUtf8("\xef\xbf\xbd"), 1, 3),
          ldm(QString::fromUtf8("\xf0\x9f\x98\x80"), 1, 4), ldm(QString::fromUtf8("\xc3\xa9"), 1, 5), ldm("", 1, 6)}},
        {"names that need escapes",
         {ldm("quote\"back\\slash", 1, 1), ldm(QString::fromUtf8("tab\tnew\nline\x01"), 1, 2),
          ldm(QString(QChar(0xd800)) + "lone", 1, 3)}},
        {"gains at the edges of the number format",
         {ldm(a, 1, 1e-5, 1e21, 100000.0, -1.0), ldm(a, 2, 0.1 + 0.2, 1.0 / 3.0, -0.0, -0.9),
          ldm(a, 3, 9007199254740994.0, 5e-324, 1.7976931348623157e308, nan)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(writtenGainsText(c.ldms), qtGainsText(c.ldms));
    }
}

TEST(KestraGainsDocument, AWallsWorthOfShuffledGainsIsWrittenAsQtWroteIt)
{
    // 2 000 LDMs of 60 receivers in random order, with repeats, random indices and gains.
    std::mt19937 random(48);
    std::uniform_int_distribution<int> receiver(0, 59);
    std::uniform_int_distribution<quint32> index(1, 120);
    std::uniform_real_distribution<double> gain(-1.0, 2.0);
    std::vector<Macropixel> ldms;
    for (int i = 0; i < 2000; ++i) {
        const QString name = QStringLiteral("00:1a:2b:00:00:%1").arg(receiver(random), 2, 16, QLatin1Char('0'));
        ldms.push_back(ldm(name, index(random), gain(random), gain(random), gain(random), gain(random)));
    }
    EXPECT_EQ(writtenGainsText(ldms), qtGainsText(ldms));
}
