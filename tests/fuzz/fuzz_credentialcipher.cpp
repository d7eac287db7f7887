// The cipher's decoder on any stored text and any raw block: a failure gives
// the empty result and an error, never a crash. What the encoder makes of the
// same bytes decodes to them again.
//
// First byte: 0 the rest is a stored (Base64) text, 1 a raw cipher block,
// 2 plain bytes to encipher and decipher; anything else the same as 0.

#include "settings/CredentialCipher.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), int(size - 1));
    CredentialCipher cipher(CredentialCipher::StoreKey);
    switch (data[0]) {
    case 1: {
        const QByteArray plain = cipher.decryptToByteArray(rest);
        if (!plain.isEmpty() && cipher.lastError() != CredentialCipher::ErrorNoError)
            __builtin_trap();
        break;
    }
    case 2: {
        const QByteArray sealed = cipher.encryptToByteArray(rest);
        if (cipher.decryptToByteArray(sealed) != rest)
            __builtin_trap();
        break;
    }
    default: {
        const QString plain = cipher.decryptToString(QString::fromLatin1(rest));
        if (!plain.isEmpty() && cipher.lastError() != CredentialCipher::ErrorNoError)
            __builtin_trap();
        break;
    }
    }
    return 0;
}
