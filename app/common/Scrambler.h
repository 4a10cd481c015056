#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QtGlobal>

// Keeps a secret setting (the processor's password) out of plain sight in the settings store.
// The text becomes Base64 of: version 3, a flags byte, then a payload of one random byte, an
// integrity block and the (possibly compressed) data, chained-XOR-scrambled under a 64-bit key.
// Not locked: use one instance on one thread.
class Scrambler
{
public:
    enum CompressionMode : qint32 { Auto = 0, Always = 1, Never = 2 };
    enum ProtectionMode : qint32 { None = 0, Checksum = 1, Hash = 2 };
    enum Error : qint32 { NoError = 0, NoKeySet = 1, UnknownVersion = 2, IntegrityFailed = 3 };

    static constexpr char kVersion = 3;

    Scrambler();
    explicit Scrambler(quint64 key);

    QByteArray encryptToBytes(QByteArray plain);
    QByteArray decryptToBytes(QByteArray cypher);
    QString encryptToText(QString plain);
    QString decryptToText(QString cypher);

    Error lastError() const { return m_lastError; }
    void setCompressionMode(CompressionMode mode) { m_compressionMode = mode; }
    void setProtectionMode(ProtectionMode mode) { m_protectionMode = mode; }

private:
    enum Flag : char { CompressedFlag = 1, ChecksumFlag = 2, HashFlag = 4 };

    void splitKey();

    quint64 m_key = 0;
    QByteArray m_keyBytes;
    CompressionMode m_compressionMode = Auto;
    ProtectionMode m_protectionMode = Checksum;
    Error m_lastError = NoError;
    QRandomGenerator m_random;
};
