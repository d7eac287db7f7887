#include "settings/CredentialCipher.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

// The key bytes of 0x3b71e6d095a2c84f, least significant first, written out by hand
// so the tests do not borrow the cipher's own key split.
const uchar KeyBytes[8] = {0x4f, 0xc8, 0xa2, 0x95, 0xd0, 0xe6, 0x71, 0x3b};

// Builds a cipher text from its parts the way the stored format lays it out.
QByteArray buildRaw(uchar randomByte, char flags, const QByteArray &integrity, const QByteArray &payload)
{
    QByteArray block;
    block.append(char(randomByte));
    block.append(integrity);
    block.append(payload);
    uchar previous = 0;
    for (int p = 0; p < block.size(); ++p) {
        const uchar enciphered = uchar(block.at(p)) ^ KeyBytes[p % 8] ^ previous;
        block[p] = char(enciphered);
        previous = enciphered;
    }
    return QByteArray(1, char(3)) + QByteArray(1, flags) + block;
}

QByteArray bigEndian16(quint16 value)
{
    QByteArray bytes;
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xff));
    return bytes;
}

QByteArray decodeRaw(const QString &cipherText)
{
    return QByteArray::fromBase64(cipherText.toLatin1());
}

QString encodeRaw(const QByteArray &raw)
{
    return QString::fromLatin1(raw.toBase64());
}

QString longCompressibleText()
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("proxy.example.net:3128 ");
    return text;
}

} // namespace

class tst_CredentialCipher : public QObject
{
    Q_OBJECT

private slots:
    void frameworkChecksumIsX25();
    void roundTrip_data();
    void roundTrip();
    void sameTextTwiceDiffers();
    void handBuiltCipherTextDecrypts_data();
    void handBuiltCipherTextDecrypts();
    void rejectsMalformedInput_data();
    void rejectsMalformedInput();
    void rejectsDamageAnywhereInBlock_data();
    void rejectsDamageAnywhereInBlock();
    void compressedFlagOnBadPayloadFails_data();
    void compressedFlagOnBadPayloadFails();
    void damagedCompressedStreamFails();
    void wrongKeyFails();
    void noKeySet();
    void lastErrorClearsOnSuccess();
};

// The stored checksum is the framework's default CRC-16 (ISO 3309 / X.25); stored
// passwords stop decrypting if that ever changes underneath us.
void tst_CredentialCipher::frameworkChecksumIsX25()
{
    const QByteArray check("123456789");
    QCOMPARE(qChecksum(check.constData(), uint(check.size())), quint16(0x906e));
}

void tst_CredentialCipher::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("protection");
    QTest::addColumn<int>("expectedFlags");
    QTest::addColumn<int>("expectedRawSize");   // -1: compressed, size not fixed

    const int autoC = CredentialCipher::CompressionAuto;
    const int always = CredentialCipher::CompressionAlways;
    const int never = CredentialCipher::CompressionNever;
    const int sum = CredentialCipher::ProtectionChecksum;
    const int hash = CredentialCipher::ProtectionHash;
    const int none = CredentialCipher::ProtectionNone;
    const QString shortText = QStringLiteral("s3cr3t!");
    const QString nonAscii = QString::fromUtf8("Pässwörd ∑ 密码 \xF0\x9F\x94\x91");
    const int nonAsciiBytes = nonAscii.toUtf8().size();

    // Version, flags, random byte, integrity value, payload.
    QTest::newRow("empty, default modes") << QString() << autoC << sum << 2 << 5;
    QTest::newRow("short, default modes") << shortText << autoC << sum << 2 << 3 + 2 + 7;
    QTest::newRow("non-ASCII, default modes") << nonAscii << autoC << sum << 2 << 3 + 2 + nonAsciiBytes;
    QTest::newRow("long compressible, default modes") << longCompressibleText() << autoC << sum << 3 << -1;
    QTest::newRow("empty, always compressed") << QString() << always << sum << 3 << 3 + 2 + 4;
    QTest::newRow("short, always compressed") << shortText << always << sum << 3 << -1;
    QTest::newRow("long, never compressed") << longCompressibleText() << never << sum
                                             << 2 << 3 + 2 + longCompressibleText().size();
    QTest::newRow("empty, hash") << QString() << autoC << hash << 4 << 3 + 20;
    QTest::newRow("short, hash") << shortText << autoC << hash << 4 << 3 + 20 + 7;
    QTest::newRow("non-ASCII, hash") << nonAscii << autoC << hash << 4 << 3 + 20 + nonAsciiBytes;
    QTest::newRow("long, hash") << longCompressibleText() << autoC << hash << 5 << -1;
    QTest::newRow("short, unprotected") << shortText << autoC << none << 0 << 3 + 7;
    QTest::newRow("long, unprotected") << longCompressibleText() << autoC << none << 1 << -1;
}

void tst_CredentialCipher::roundTrip()
{
    QFETCH(QString, text);
    QFETCH(int, compression);
    QFETCH(int, protection);
    QFETCH(int, expectedFlags);
    QFETCH(int, expectedRawSize);

    CredentialCipher cipher(CredentialCipher::StoreKey);
    cipher.setCompressionMode(CredentialCipher::CompressionMode(compression));
    cipher.setIntegrityProtectionMode(CredentialCipher::IntegrityProtectionMode(protection));

    const QString cipherText = cipher.encryptToString(text);
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorNoError);
    QVERIFY(!cipherText.isEmpty());

    const QByteArray raw = decodeRaw(cipherText);
    QCOMPARE(int(raw.at(0)), 3);
    QCOMPARE(int(raw.at(1)), expectedFlags);
    if (expectedRawSize >= 0)
        QCOMPARE(raw.size(), expectedRawSize);
    if (expectedFlags & 1)
        QVERIFY(raw.size() < 3 + 20 + text.toUtf8().size() || compression == CredentialCipher::CompressionAlways);
    QVERIFY2(!raw.contains(text.toUtf8()) || text.isEmpty(), "plain text visible in the cipher text");

    // A fresh cipher with default modes reads whatever the flags say.
    CredentialCipher reader(CredentialCipher::StoreKey);
    const QString decrypted = reader.decryptToString(cipherText);
    QCOMPARE(reader.lastError(), CredentialCipher::ErrorNoError);
    QCOMPARE(decrypted, text);
}

void tst_CredentialCipher::sameTextTwiceDiffers()
{
    CredentialCipher cipher(CredentialCipher::StoreKey);
    QSet<QString> seen;
    for (int i = 0; i < 8; ++i) {
        const QString cipherText = cipher.encryptToString(QStringLiteral("hunter2"));
        QCOMPARE(cipher.decryptToString(cipherText), QStringLiteral("hunter2"));
        seen.insert(cipherText);
    }
    // Eight equal random bytes in a row would be a 1 in 256^7 event.
    QVERIFY2(seen.size() > 1, "the random byte does not vary");
}

void tst_CredentialCipher::handBuiltCipherTextDecrypts_data()
{
    QTest::addColumn<QString>("expectedCipherText");
    QTest::addColumn<QString>("handBuilt");
    QTest::addColumn<QString>("text");

    // Random byte 0x5a, flags 2, CRC-16/X.25 of "hunter2" = 0x2228.
    const QByteArray hunter = QByteArrayLiteral("hunter2");
    QTest::newRow("checksum")
        << QStringLiteral("AwIV/3WILaWg/sM5")
        << encodeRaw(buildRaw(0x5a, 2, bigEndian16(0x2228), hunter))
        << QStringLiteral("hunter2");

    // Random byte 0xa7, flags 4, SHA-1 digest of the UTF-8 text.
    const QByteArray zurich = QString::fromUtf8("Grüße aus Zürich").toUtf8();
    QTest::newRow("hash")
        << QStringLiteral("AwTojKbsTh64JhaIEmV3EPUqfR0XgaQFBv4NBjvLO7y48J8NbEXnaHop")
        << encodeRaw(buildRaw(0xa7, 4, QCryptographicHash::hash(zurich, QCryptographicHash::Sha1), zurich))
        << QString::fromUtf8("Grüße aus Zürich");
}

void tst_CredentialCipher::handBuiltCipherTextDecrypts()
{
    QFETCH(QString, expectedCipherText);
    QFETCH(QString, handBuilt);
    QFETCH(QString, text);

    QCOMPARE(handBuilt, expectedCipherText);
    CredentialCipher cipher(CredentialCipher::StoreKey);
    QCOMPARE(cipher.decryptToString(expectedCipherText), text);
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorNoError);
}

void tst_CredentialCipher::rejectsMalformedInput_data()
{
    QTest::addColumn<QString>("cipherText");
    QTest::addColumn<int>("expectedError");

    const int integrity = CredentialCipher::ErrorIntegrityFailed;
    const int version = CredentialCipher::ErrorUnknownVersion;
    const QByteArray good = decodeRaw(QStringLiteral("AwIV/3WILaWg/sM5"));

    QTest::newRow("empty") << QString() << integrity;
    QTest::newRow("not Base64") << QStringLiteral("not*base64!") << integrity;
    QTest::newRow("Base64 with a stray character") << QStringLiteral("AwIV/3WI#LaWg/sM5") << integrity;
    QTest::newRow("two bytes") << encodeRaw(QByteArray("\x03\x02", 2)) << integrity;
    QTest::newRow("random byte only, checksum flag") << encodeRaw(good.left(3)) << integrity;
    QTest::newRow("half a checksum") << encodeRaw(good.left(4)) << integrity;
    QTest::newRow("hash flag, digest cut short")
        << encodeRaw(buildRaw(0x11, 4, QByteArray(10, 'x'), QByteArray())) << integrity;
    QByteArray v2 = good;
    v2[0] = 2;
    QTest::newRow("version 2") << encodeRaw(v2) << version;
    QByteArray v0 = good;
    v0[0] = 0;
    QTest::newRow("version 0") << encodeRaw(v0) << version;
}

void tst_CredentialCipher::rejectsMalformedInput()
{
    QFETCH(QString, cipherText);
    QFETCH(int, expectedError);

    CredentialCipher cipher(CredentialCipher::StoreKey);
    cipher.encryptToString(QStringLiteral("leaves no error behind"));
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorNoError);

    QCOMPARE(cipher.decryptToString(cipherText), QString());
    QCOMPARE(int(cipher.lastError()), expectedError);
}

void tst_CredentialCipher::rejectsDamageAnywhereInBlock_data()
{
    QTest::addColumn<int>("protection");
    QTest::addColumn<QString>("text");

    QTest::newRow("checksum, short") << int(CredentialCipher::ProtectionChecksum) << QStringLiteral("p@ssw0rd");
    QTest::newRow("checksum, compressed") << int(CredentialCipher::ProtectionChecksum) << longCompressibleText();
    QTest::newRow("hash, short") << int(CredentialCipher::ProtectionHash) << QStringLiteral("p@ssw0rd");
    QTest::newRow("hash, compressed") << int(CredentialCipher::ProtectionHash) << longCompressibleText();
}

void tst_CredentialCipher::rejectsDamageAnywhereInBlock()
{
    QFETCH(int, protection);
    QFETCH(QString, text);

    CredentialCipher cipher(CredentialCipher::StoreKey);
    cipher.setIntegrityProtectionMode(CredentialCipher::IntegrityProtectionMode(protection));
    const QByteArray raw = decodeRaw(cipher.encryptToString(text));

    const uchar deltas[] = {0x01, 0x80, 0xff};
    for (int pos = 2; pos < raw.size(); ++pos) {
        for (uchar delta : deltas) {
            QByteArray damaged = raw;
            damaged[pos] = char(uchar(damaged.at(pos)) ^ delta);
            const QString result = cipher.decryptToString(encodeRaw(damaged));
            if (!result.isEmpty() || cipher.lastError() != CredentialCipher::ErrorIntegrityFailed)
                QFAIL(qPrintable(QStringLiteral("damage at byte %1 (xor %2) went unnoticed")
                                     .arg(pos).arg(delta)));
        }
    }
    // Cutting the text short is damage too.
    QCOMPARE(cipher.decryptToString(encodeRaw(raw.left(raw.size() - 1))), QString());
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorIntegrityFailed);
}

// The flags byte lies outside the checksum: a compressed flag on a payload that is
// no qCompress output must fail cleanly, never decompress garbage or reserve the
// memory its first four bytes claim.
void tst_CredentialCipher::compressedFlagOnBadPayloadFails_data()
{
    QTest::addColumn<QByteArray>("raw");

    const QByteArray text = QByteArrayLiteral("secret");
    QTest::newRow("plain payload, checksum") << buildRaw(0x42, 3, bigEndian16(qChecksum(text.constData(), uint(text.size()))), text);
    QTest::newRow("plain payload, unprotected") << buildRaw(0x42, 1, QByteArray(), text);
    QTest::newRow("huge claimed length") << buildRaw(0x42, 1, QByteArray(), QByteArray("\x7f\xff\xff\xff\x78\xda\x03\x00", 8));
    QTest::newRow("length claims data, none follows") << buildRaw(0x42, 1, QByteArray(), QByteArray("\x00\x00\x00\x05", 4));
    QTest::newRow("zero length with a stream") << buildRaw(0x42, 1, QByteArray(), QByteArray("\x00\x00\x00\x00\x78\xda\x03\x00\x00\x00\x00\x01", 12));
    QTest::newRow("too short for a length") << buildRaw(0x42, 1, QByteArray(), QByteArray("\x00\x01", 2));
    QTest::newRow("not a zlib header") << buildRaw(0x42, 1, QByteArray(), QByteArray("\x00\x00\x00\x03" "abcdefgh", 12));
}

void tst_CredentialCipher::compressedFlagOnBadPayloadFails()
{
    QFETCH(QByteArray, raw);

    CredentialCipher cipher(CredentialCipher::StoreKey);
    QCOMPARE(cipher.decryptToString(encodeRaw(raw)), QString());
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorIntegrityFailed);
}

void tst_CredentialCipher::damagedCompressedStreamFails()
{
    // Unprotected and compressed: a damaged zlib trailer is the only thing left to notice.
    CredentialCipher cipher(CredentialCipher::StoreKey);
    cipher.setIntegrityProtectionMode(CredentialCipher::ProtectionNone);
    cipher.setCompressionMode(CredentialCipher::CompressionAlways);
    QByteArray raw = decodeRaw(cipher.encryptToString(longCompressibleText()));
    QCOMPARE(int(raw.at(1)), 1);
    raw[raw.size() - 1] = char(raw.at(raw.size() - 1) ^ 0x5a);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^qUncompress")));
    QCOMPARE(cipher.decryptToString(encodeRaw(raw)), QString());
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorIntegrityFailed);
}

void tst_CredentialCipher::wrongKeyFails()
{
    CredentialCipher writer(CredentialCipher::StoreKey);
    const QString cipherText = writer.encryptToString(QStringLiteral("hunter2"));
    CredentialCipher reader(Q_UINT64_C(0x3b71e6d095a2c84e));
    QCOMPARE(reader.decryptToString(cipherText), QString());
    QCOMPARE(reader.lastError(), CredentialCipher::ErrorIntegrityFailed);
}

void tst_CredentialCipher::noKeySet()
{
    CredentialCipher cipher;
    QVERIFY(!cipher.hasKey());
    QCOMPARE(cipher.encryptToString(QStringLiteral("x")), QString());
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorNoKeySet);
    QCOMPARE(cipher.decryptToString(QStringLiteral("AwIV/3WILaWg/sM5")), QString());
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorNoKeySet);

    cipher.setKey(CredentialCipher::StoreKey);
    QCOMPARE(cipher.decryptToString(QStringLiteral("AwIV/3WILaWg/sM5")), QStringLiteral("hunter2"));
}

void tst_CredentialCipher::lastErrorClearsOnSuccess()
{
    CredentialCipher cipher(CredentialCipher::StoreKey);
    QCOMPARE(cipher.decryptToString(QStringLiteral("AgIV/3WILaWg/sM5")), QString());
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorUnknownVersion);
    QCOMPARE(cipher.decryptToString(QStringLiteral("AwIV/3WILaWg/sM5")), QStringLiteral("hunter2"));
    QCOMPARE(cipher.lastError(), CredentialCipher::ErrorNoError);
}

QTEST_APPLESS_MAIN(tst_CredentialCipher)
#include "tst_credentialcipher.moc"
