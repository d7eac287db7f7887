// The theme reader on any file: it ends in a result, never in a crash, a
// leak or unbounded memory.

#include "settings/DgmlReader.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    DgmlReader reader;
    const DgmlReader::Result result = reader.read(&buffer);
    if (result == DgmlReader::Result::Error && reader.errorString().isEmpty())
        __builtin_trap(); // a failure always says why
    return 0;
}
