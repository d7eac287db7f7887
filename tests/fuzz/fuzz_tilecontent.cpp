// The tile content check on any body, cut into pieces at random: the verdict
// on the pieces is the verdict on the whole body, a checker that says it
// failed never passes the body, and nothing crashes, leaks or grows.
//
// First byte: the Content-Type; second byte: the seed of the cuts; the rest
// is the body.

#include "mapview/TileContent.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const char *const Types[] = {"", "image/png", "image/jpeg", "image/gif", "image/webp",
                                        "application/zip", "text/html", "application/octet-stream"};
    const QByteArray type(Types[data[0] % 8]);
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 2), int(size - 2));
    const TileContent::Verdict whole = TileContent::check(type, body);

    quint32 seed = data[1] * 2654435761u + 1;
    TileContent::Checker pieces(type);
    bool failedEarly = false;
    for (int at = 0; at < body.size();) {
        seed = seed * 1664525u + 1013904223u;
        const int piece = 1 + int((seed >> 8) % (seed & 0x80 ? 7u : 4096u));
        pieces.add(body.constData() + at, qMin(piece, body.size() - at));
        at += piece;
        failedEarly = failedEarly || pieces.failed();
        if (failedEarly && !pieces.failed())
            __builtin_trap(); // a failure is for good
    }
    const TileContent::Verdict split = pieces.verdict();
    if (split.reason != whole.reason || (failedEarly && split.ok()) || split.ok() != split.text.isEmpty())
        __builtin_trap();
    return 0;
}
