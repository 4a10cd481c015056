#include "common/Scrambler.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QtEndian>

namespace {

constexpr int kKeyBytes = 8;
constexpr int kChecksumBytes = 2;
constexpr int kDigestBytes = 20;
constexpr int kCompressionLevel = 9;
constexpr int kCompressedHeaderBytes = 4; // qCompress's big-endian length of the original data

quint32 seedFromClock()
{
    return quint32(QDateTime::currentMSecsSinceEpoch() & 0xffff);
}

quint16 checksumOf(const QByteArray& data)
{
    return qChecksum(QByteArrayView(data), Qt::ChecksumIso3309);
}

} // namespace

Scrambler::Scrambler()
    : m_random(seedFromClock())
{
}

Scrambler::Scrambler(quint64 key)
    : m_key(key)
    , m_random(seedFromClock())
{
    splitKey();
}

void Scrambler::splitKey()
{
    m_keyBytes = QByteArray(kKeyBytes, '\0');
    for (int i = 0; i < kKeyBytes; ++i)
        m_keyBytes[i] = char((m_key >> (8 * i)) & 0xff);
}

QByteArray Scrambler::encryptToBytes(QByteArray plain)
{
    if (m_keyBytes.isEmpty()) {
        qWarning("No key set.");
        m_lastError = NoKeySet;
        return {};
    }

    QByteArray data = std::move(plain);
    char flags = 0;
    if (m_compressionMode == Always) {
        data = qCompress(data, kCompressionLevel);
        flags |= CompressedFlag;
    } else if (m_compressionMode == Auto) {
        QByteArray compressed = qCompress(data, kCompressionLevel);
        if (compressed.size() < data.size()) {
            data = std::move(compressed);
            flags |= CompressedFlag;
        }
    }

    QByteArray integrity;
    if (m_protectionMode == Checksum) {
        flags |= ChecksumFlag;
        integrity.resize(kChecksumBytes);
        qToBigEndian(checksumOf(data), integrity.data());
    } else if (m_protectionMode == Hash) {
        flags |= HashFlag;
        integrity = QCryptographicHash::hash(data, QCryptographicHash::Sha1);
    }

    const char randomByte = char(m_random.generate() & 0xff);
    QByteArray payload;
    payload.reserve(1 + integrity.size() + data.size());
    payload.append(randomByte).append(integrity).append(data);

    char prev = 0;
    for (qsizetype i = 0; i < payload.size(); ++i) {
        payload[i] = char(payload[i] ^ m_keyBytes[i % kKeyBytes] ^ prev);
        prev = payload[i];
    }

    QByteArray result;
    result.reserve(2 + payload.size());
    result.append(kVersion).append(flags).append(payload);
    m_lastError = NoError;
    return result;
}

QByteArray Scrambler::decryptToBytes(QByteArray cypher)
{
    if (m_keyBytes.isEmpty()) {
        qWarning("No key set.");
        m_lastError = NoKeySet;
        return {};
    }
    if (cypher.size() < 3)
        return {};
    if (cypher.at(0) != kVersion) {
        m_lastError = UnknownVersion;
        qWarning("Invalid version or not a cyphertext.");
        return {};
    }

    const char flags = cypher.at(1);
    QByteArray payload = cypher.mid(2);
    char prev = 0;
    for (qsizetype i = 0; i < payload.size(); ++i) {
        const char scrambled = payload[i];
        payload[i] = char(scrambled ^ m_keyBytes[i % kKeyBytes] ^ prev);
        prev = scrambled;
    }
    payload.remove(0, 1); // the random byte

    bool intact = true;
    if (flags & ChecksumFlag) {
        if (payload.size() < kChecksumBytes) {
            intact = false;
        } else {
            const quint16 stored = qFromBigEndian<quint16>(payload.constData());
            payload.remove(0, kChecksumBytes);
            intact = stored == checksumOf(payload);
        }
    } else if (flags & HashFlag) {
        if (payload.size() < kDigestBytes) {
            intact = false;
        } else {
            const QByteArray stored = payload.left(kDigestBytes);
            payload.remove(0, kDigestBytes);
            intact = stored == QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
        }
    }
    if (!intact) {
        m_lastError = IntegrityFailed;
        return {};
    }

    if (flags & CompressedFlag) {
        QByteArray expanded = qUncompress(payload);
        // An empty result is only right when the header says the original was empty; anything
        // else is a damaged value, which must not pass for an empty password.
        const bool headerSaysEmpty = payload.size() >= kCompressedHeaderBytes
            && qFromBigEndian<quint32>(payload.constData()) == 0;
        if (expanded.isEmpty() && !headerSaysEmpty) {
            m_lastError = IntegrityFailed;
            return {};
        }
        payload = std::move(expanded);
    }
    m_lastError = NoError;
    return payload;
}

QString Scrambler::encryptToText(QString plain)
{
    const QByteArray cypher = encryptToBytes(plain.toUtf8());
    return QString::fromLatin1(cypher.toBase64());
}

QString Scrambler::decryptToText(QString cypher)
{
    const QByteArray bytes = QByteArray::fromBase64(cypher.toLatin1());
    return QString::fromUtf8(decryptToBytes(bytes));
}
