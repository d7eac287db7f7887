#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Small symmetric cipher that keeps the proxy password out of the settings store
// as plain text. The key is built into the program, so this hides the password
// from a casual look at the store; it is no protection against someone who has
// the program.
//
// Cipher text, before Base64:
//   byte 0   version, always 3
//   byte 1   flags: 1 payload compressed, 2 checksum present, 4 SHA-1 digest present
//   byte 2.. block = random byte, integrity value (2-byte big-endian qChecksum or
//            20-byte SHA-1 digest of the payload), payload (UTF-8, qCompress'ed when
//            flag 1); the block is run through an XOR chain over the key's bytes.
// Stored passwords depend on this layout: do not change it.
class CredentialCipher
{
public:
    enum CompressionMode {
        CompressionAuto = 0,   // compress only when that makes the payload shorter
        CompressionAlways = 1,
        CompressionNever = 2
    };
    enum IntegrityProtectionMode {
        ProtectionNone = 0,
        ProtectionChecksum = 1,
        ProtectionHash = 2
    };
    enum Error {
        ErrorNoError = 0,
        ErrorNoKeySet = 1,
        ErrorUnknownVersion = 2,
        ErrorIntegrityFailed = 3   // also: too short, not Base64, or undecompressable
    };

    // The key under which the proxy password is kept in the settings store.
    static constexpr quint64 StoreKey = Q_UINT64_C(0x3b71e6d095a2c84f);

    CredentialCipher();   // without a key every call fails with ErrorNoKeySet
    explicit CredentialCipher(quint64 key);

    void setKey(quint64 key);
    quint64 key() const { return m_key; }
    bool hasKey() const { return !m_keyBytes.isEmpty(); }

    void setCompressionMode(CompressionMode mode) { m_compressionMode = mode; }
    CompressionMode compressionMode() const { return m_compressionMode; }
    void setIntegrityProtectionMode(IntegrityProtectionMode mode) { m_protectionMode = mode; }
    IntegrityProtectionMode integrityProtectionMode() const { return m_protectionMode; }

    // Set by every encrypt and decrypt call.
    Error lastError() const { return m_lastError; }

    // UTF-8 of the text, enciphered, as Base64. Empty without a key.
    QString encryptToString(const QString &plainText);
    // Inverse of encryptToString; any failure gives the empty string (see lastError()).
    QString decryptToString(const QString &cipherText);

    QByteArray encryptToByteArray(const QByteArray &plain);
    QByteArray decryptToByteArray(const QByteArray &cipher);

private:
    quint64 m_key = 0;
    QByteArray m_keyBytes;   // the key's eight bytes, least significant first
    CompressionMode m_compressionMode = CompressionAuto;
    IntegrityProtectionMode m_protectionMode = ProtectionChecksum;
    Error m_lastError = ErrorNoError;
};
