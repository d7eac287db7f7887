#include "settings/CredentialCipher.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtEndian>

namespace {

constexpr char FormatVersion = 3;

enum Flag : char {
    FlagCompressed = 0x01,
    FlagChecksum = 0x02,
    FlagHash = 0x04
};

constexpr int ChecksumSize = 2;
constexpr int DigestSize = 20;   // SHA-1

// Undoes qCompress without trusting the data: qUncompress believes the length
// prefix and reserves that much memory up front, and a damaged or forged payload
// must simply fail. qCompress writes a 4-byte big-endian length, then a zlib stream.
bool uncompressPayload(const QByteArray &compressed, QByteArray *out)
{
    out->clear();
    if (compressed.size() < 4)
        return false;
    const quint32 expected = qFromBigEndian<quint32>(compressed.constData());
    if (compressed.size() == 4)
        return expected == 0;   // qCompress of nothing is exactly four zero bytes
    if (expected == 0 || compressed.size() < 4 + 2)
        return false;

    // Deflate cannot shrink data by more than about 1032:1; a larger claim is damage.
    const quint64 streamSize = quint64(compressed.size() - 4);
    if (quint64(expected) > streamSize * 1032 + 64)
        return false;

    // zlib header: compression method 8 and a check value that is a multiple of 31.
    const uchar cmf = uchar(compressed.at(4));
    const uchar flg = uchar(compressed.at(5));
    if ((cmf & 0x0f) != 8 || ((cmf << 8) | flg) % 31 != 0)
        return false;

    const QByteArray result = qUncompress(compressed);
    if (quint64(result.size()) != quint64(expected))
        return false;
    *out = result;
    return true;
}

QByteArray checksumBytes(const QByteArray &payload)
{
    const quint16 sum = qChecksum(payload.constData(), uint(payload.size()));
    QByteArray bytes(ChecksumSize, '\0');
    qToBigEndian<quint16>(sum, bytes.data());
    return bytes;
}

} // namespace

CredentialCipher::CredentialCipher() = default;

CredentialCipher::CredentialCipher(quint64 key)
{
    setKey(key);
}

void CredentialCipher::setKey(quint64 key)
{
    m_key = key;
    m_keyBytes.resize(8);
    for (int i = 0; i < 8; ++i)
        m_keyBytes[i] = char((key >> (8 * i)) & 0xff);
}

QString CredentialCipher::encryptToString(const QString &plainText)
{
    const QByteArray cipher = encryptToByteArray(plainText.toUtf8());
    return QString::fromLatin1(cipher.toBase64());
}

QString CredentialCipher::decryptToString(const QString &cipherText)
{
    if (!hasKey()) {
        m_lastError = ErrorNoKeySet;
        return QString();
    }
    // Strict decoding: a value that is not Base64 is damaged, not a different text.
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        cipherText.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        m_lastError = ErrorIntegrityFailed;
        return QString();
    }
    return QString::fromUtf8(decryptToByteArray(decoded.decoded));
}

QByteArray CredentialCipher::encryptToByteArray(const QByteArray &plain)
{
    if (!hasKey()) {
        m_lastError = ErrorNoKeySet;
        return QByteArray();
    }

    char flags = 0;
    QByteArray payload = plain;
    if (m_compressionMode == CompressionAlways) {
        payload = qCompress(plain, 9);
        flags |= FlagCompressed;
    } else if (m_compressionMode == CompressionAuto) {
        const QByteArray compressed = qCompress(plain, 9);
        if (compressed.size() < plain.size()) {
            payload = compressed;
            flags |= FlagCompressed;
        }
    }

    QByteArray integrity;
    if (m_protectionMode == ProtectionChecksum) {
        integrity = checksumBytes(payload);
        flags |= FlagChecksum;
    } else if (m_protectionMode == ProtectionHash) {
        integrity = QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
        flags |= FlagHash;
    }

    // The random byte leads the chain, so the same password never gives the same text twice in a row.
    QByteArray block;
    block.reserve(1 + integrity.size() + payload.size());
    block.append(char(QRandomGenerator::global()->generate() & 0xff));
    block.append(integrity);
    block.append(payload);

    char previous = 0;
    for (int p = 0; p < block.size(); ++p) {
        block[p] = char(block.at(p) ^ m_keyBytes.at(p % 8) ^ previous);
        previous = block.at(p);
    }

    QByteArray result;
    result.reserve(2 + block.size());
    result.append(FormatVersion);
    result.append(flags);
    result.append(block);
    m_lastError = ErrorNoError;
    return result;
}

QByteArray CredentialCipher::decryptToByteArray(const QByteArray &cipher)
{
    if (!hasKey()) {
        m_lastError = ErrorNoKeySet;
        return QByteArray();
    }
    // Too short to hold version, flags and random byte: damaged, and reported so,
    // rather than leaving the outcome of an earlier call in lastError().
    if (cipher.size() < 3) {
        m_lastError = ErrorIntegrityFailed;
        return QByteArray();
    }
    if (cipher.at(0) != FormatVersion) {
        m_lastError = ErrorUnknownVersion;
        return QByteArray();
    }

    const char flags = cipher.at(1);
    QByteArray block = cipher.mid(2);
    char previous = 0;
    for (int p = 0; p < block.size(); ++p) {
        const char current = block.at(p);
        block[p] = char(current ^ previous ^ m_keyBytes.at(p % 8));
        previous = current;
    }
    block.remove(0, 1);   // the random byte

    if (flags & FlagChecksum) {
        if (block.size() < ChecksumSize) {
            m_lastError = ErrorIntegrityFailed;
            return QByteArray();
        }
        const QByteArray stored = block.left(ChecksumSize);
        block.remove(0, ChecksumSize);
        if (stored != checksumBytes(block)) {
            m_lastError = ErrorIntegrityFailed;
            return QByteArray();
        }
    } else if (flags & FlagHash) {
        if (block.size() < DigestSize) {
            m_lastError = ErrorIntegrityFailed;
            return QByteArray();
        }
        const QByteArray stored = block.left(DigestSize);
        block.remove(0, DigestSize);
        if (stored != QCryptographicHash::hash(block, QCryptographicHash::Sha1)) {
            m_lastError = ErrorIntegrityFailed;
            return QByteArray();
        }
    }

    if (flags & FlagCompressed) {
        QByteArray uncompressed;
        if (!uncompressPayload(block, &uncompressed)) {
            m_lastError = ErrorIntegrityFailed;
            return QByteArray();
        }
        block = uncompressed;
    }

    m_lastError = ErrorNoError;
    return block;
}
