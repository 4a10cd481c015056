#include "common/Scrambler.h"

#include <QCryptographicHash>
#include <QSet>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

constexpr quint64 kKey = 0x4d17b2e90c5a3f6ULL;

// The key's bytes, least significant first, as the stored format uses them.
QByteArray keyBytes()
{
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = char((kKey >> (8 * i)) & 0xff);
    return bytes;
}

// Builds a stored value by hand: version 3, flags, then the chained-XOR scrambled payload.
QByteArray buildCypher(char flags, const QByteArray& payload)
{
    const QByteArray key = keyBytes();
    QByteArray scrambled = payload;
    char prev = 0;
    for (int i = 0; i < scrambled.size(); ++i) {
        scrambled[i] = char(scrambled[i] ^ key[i % 8] ^ prev);
        prev = scrambled[i];
    }
    return QByteArray(1, 3) + QByteArray(1, flags) + scrambled;
}

// Undoes the scrambling of a stored value's payload (everything after version and flags).
QByteArray unscramble(const QByteArray& cypher)
{
    const QByteArray key = keyBytes();
    QByteArray payload = cypher.mid(2);
    char prev = 0;
    for (int i = 0; i < payload.size(); ++i) {
        const char c = payload[i];
        payload[i] = char(c ^ key[i % 8] ^ prev);
        prev = c;
    }
    return payload;
}

QByteArray checksumBlock(const QByteArray& data)
{
    QByteArray block(2, '\0');
    qToBigEndian(qChecksum(QByteArrayView(data), Qt::ChecksumIso3309), block.data());
    return block;
}

} // namespace

TEST(Scrambler, ReadsAValueBuiltFromTheByteLayout)
{
    const QByteArray data = QStringLiteral("pässwörd").toUtf8();
    const QByteArray cypher = buildCypher(2, QByteArray(1, char(0xA5)) + checksumBlock(data) + data);
    Scrambler scrambler(kKey);
    EXPECT_EQ(scrambler.decryptToText(QString::fromLatin1(cypher.toBase64())), QStringLiteral("pässwörd"));
    EXPECT_EQ(scrambler.lastError(), Scrambler::NoError);

    // A compressed value with a SHA-1 digest is read too.
    const QByteArray compressed = qCompress(QByteArray(200, 'x'), 9);
    const QByteArray hashed = buildCypher(1 | 4, QByteArray(1, '\x11')
                                                     + QCryptographicHash::hash(compressed, QCryptographicHash::Sha1)
                                                     + compressed);
    EXPECT_EQ(scrambler.decryptToBytes(hashed), QByteArray(200, 'x'));
}

TEST(Scrambler, WritesTheByteLayout)
{
    Scrambler scrambler(kKey);
    const QByteArray plain = "secret";
    const QByteArray cypher = QByteArray::fromBase64(scrambler.encryptToText(QString::fromLatin1(plain)).toLatin1());
    ASSERT_EQ(cypher.size(), plain.size() + 5); // short texts are never compressed
    EXPECT_EQ(cypher.at(0), 3);
    EXPECT_EQ(cypher.at(1), 2);
    const QByteArray payload = unscramble(cypher);
    EXPECT_EQ(payload.mid(1, 2), checksumBlock(plain));
    EXPECT_EQ(payload.mid(3), plain);

    EXPECT_EQ(scrambler.encryptToText(QString()).size(), 8);
    const QByteArray longText(400, 'a');
    EXPECT_EQ(QByteArray::fromBase64(scrambler.encryptToText(QString::fromLatin1(longText)).toLatin1()).at(1), 3);
}

TEST(Scrambler, RoundTripsAndVaries)
{
    Scrambler scrambler(kKey);
    for (const QString& text : {QString(), QStringLiteral("admin"), QStringLiteral("Grüße – ✓"),
                                QString(300, QLatin1Char('z'))}) {
        const QString stored = scrambler.encryptToText(text);
        EXPECT_EQ(scrambler.decryptToText(stored), text);
        EXPECT_EQ(scrambler.lastError(), Scrambler::NoError);
    }
    QSet<QString> different;
    for (int i = 0; i < 8; ++i)
        different.insert(scrambler.encryptToText("same"));
    EXPECT_GT(different.size(), 1);

    Scrambler copy;
    copy = Scrambler(kKey);
    EXPECT_EQ(copy.decryptToText(scrambler.encryptToText("copied")), "copied");
}

TEST(Scrambler, RejectsDamagedAndForeignValues)
{
    Scrambler scrambler(kKey);
    QByteArray cypher = QByteArray::fromBase64(scrambler.encryptToText("password").toLatin1());
    cypher[5] = char(cypher[5] ^ 0x40);
    EXPECT_EQ(scrambler.decryptToBytes(cypher), QByteArray());
    EXPECT_EQ(scrambler.lastError(), Scrambler::IntegrityFailed);

    QByteArray wrongVersion = QByteArray::fromBase64(scrambler.encryptToText("password").toLatin1());
    wrongVersion[0] = 4;
    EXPECT_EQ(scrambler.decryptToBytes(wrongVersion), QByteArray());
    EXPECT_EQ(scrambler.lastError(), Scrambler::UnknownVersion);

    EXPECT_EQ(scrambler.decryptToText("AAE="), QString()); // two bytes: too short

    // A checksum that matches over data that does not decompress is a damaged value.
    const QByteArray garbage = QByteArray::fromHex("000000ff0102030405");
    EXPECT_EQ(scrambler.decryptToBytes(buildCypher(1 | 2, QByteArray(1, '\0') + checksumBlock(garbage) + garbage)),
              QByteArray());
    EXPECT_EQ(scrambler.lastError(), Scrambler::IntegrityFailed);

    Scrambler keyless;
    EXPECT_EQ(keyless.encryptToText("x"), QString());
    EXPECT_EQ(keyless.lastError(), Scrambler::NoKeySet);
}
