// The cost of judging one tile body: the content check as it is (CRCs,
// header plausibility, image data inflated and counted) against the check it
// replaced, which walked the framing only (PNG chunks to IEND, JPEG markers to
// EOI). Same tiles, same run, alternating rounds; map-like 256 px tiles, the
// street kind as palette PNG, the aerial kind as JPEG. A full decode of the
// same tiles (QImage) is timed alongside, for scale.
//
//   bench_tilecheck [tiles per kind (2000)] [rounds (5)]

#include "TileBodies.h"

#include "mapview/TileContent.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTextStream>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The framing-only check as it was before the soundness checks, kept here as
// the baseline, PNG and JPEG only; it streams the same way (fields collected,
// chunk data skipped, scan data searched for 0xFF) and ends in the same
// document test.
class FramingOnlyBaseline
{
public:
    explicit FramingOnlyBaseline(const QByteArray &contentType)
        : m_type(contentType)
    {
    }

    bool judge(const QByteArray &body)
    {
        m_head = body.left(TileContent::HeadBytes);
        if (body.startsWith("\x89PNG\r\n\x1a\n")) {
            m_png = true;
            m_skip = 8;
            need(8, PngChunkHeader);
        } else if (body.startsWith("\xFF\xD8\xFF")) {
            m_skip = 2;
            need(1, JpegMarkerFF);
        } else {
            return false;
        }
        feed(body.constData(), body.size());
        return !TileContent::isNonImageDocument(m_type, m_head) && m_state == Done;
    }

private:
    enum Step { PngChunkHeader, JpegMarkerFF, JpegMarkerCode, JpegLength, JpegAfterFF };
    enum StateKind { Fields, Entropy, Done, Failed };

    void need(int bytes, Step step)
    {
        m_field.clear();
        m_need = bytes;
        m_step = step;
    }

    void feed(const char *data, qint64 size)
    {
        qint64 i = 0;
        while (i < size && (m_state == Fields || m_state == Entropy)) {
            if (m_skip > 0) {
                const qint64 n = qMin(m_skip, size - i);
                m_skip -= n;
                i += n;
                continue;
            }
            if (m_state == Entropy) {
                const void *ff = memchr(data + i, 0xFF, size_t(size - i));
                if (!ff)
                    return;
                i = static_cast<const char *>(ff) - data + 1;
                m_state = Fields;
                need(1, JpegAfterFF);
                continue;
            }
            const int take = int(qMin<qint64>(m_need - m_field.size(), size - i));
            m_field.append(data + i, take);
            i += take;
            if (m_field.size() == m_need)
                field();
        }
    }

    void field()
    {
        const QByteArray &f = m_field;
        const uchar first = uchar(f.at(0));
        switch (m_step) {
        case PngChunkHeader: {
            const quint32 length = quint32(uchar(f.at(0))) << 24 | quint32(uchar(f.at(1))) << 16
                                   | quint32(uchar(f.at(2))) << 8 | quint32(uchar(f.at(3)));
            const QByteArray type = f.mid(4, 4);
            const bool letters = std::all_of(type.begin(), type.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            });
            if (length > 0x7FFFFFFFu || !letters || (m_chunks == 0 && type != "IHDR")) {
                m_state = Failed;
                return;
            }
            ++m_chunks;
            m_skip = qint64(length) + 4;
            if (type == "IEND")
                m_state = Done; // the old walk then skipped the CRC unread
            else
                need(8, PngChunkHeader);
            return;
        }
        case JpegMarkerFF:
            need(1, first == 0xFF ? JpegMarkerCode : JpegMarkerFF);
            return;
        case JpegMarkerCode:
        case JpegAfterFF:
            if (m_step == JpegAfterFF && (first == 0x00 || (first >= 0xD0 && first <= 0xD7))) {
                m_state = Entropy;
            } else if (m_step == JpegAfterFF && first == 0xFF) {
                need(1, JpegAfterFF);
            } else if (first == 0xD9) {
                m_state = Done;
            } else if (first == 0xFF) {
                need(1, JpegMarkerCode);
            } else if (first == 0x01 || first == 0xD8 || (first >= 0xD0 && first <= 0xD7)) {
                need(1, JpegMarkerFF);
            } else if (first == 0x00) {
                m_state = Failed;
            } else {
                m_marker = first;
                need(2, JpegLength);
            }
            return;
        case JpegLength: {
            const int length = first << 8 | uchar(f.at(1));
            if (length < 2) {
                m_state = Failed;
                return;
            }
            m_skip = length - 2;
            if (m_marker == 0xDA)
                m_state = Entropy;
            else
                need(1, JpegMarkerFF);
            return;
        }
        }
    }

    QByteArray m_type;
    QByteArray m_head;
    QByteArray m_field;
    int m_need = 0;
    Step m_step = PngChunkHeader;
    StateKind m_state = Fields;
    qint64 m_skip = 0;
    int m_chunks = 0;
    int m_marker = 0;
    bool m_png = false;
};

// An aerial-like tile: soft patches of many colours over noise.
QImage aerialTile(QRandomGenerator &random)
{
    QImage image(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < 256; ++x) {
            const int n = int(random.bounded(40));
            row[x] = qRgb(60 + n + x / 8, 90 + n + y / 10, 50 + n);
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 30; ++i) {
        painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 60, 80 + int(random.bounded(120)), 120));
        painter.drawEllipse(QPointF(random.bounded(256.0), random.bounded(256.0)), 5 + random.bounded(40.0),
                            5 + random.bounded(40.0));
    }
    painter.end();
    return image;
}

QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, format == QByteArray("JPEG") ? 85 : -1);
    return bytes;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Kind
{
    const char *name;
    QByteArray type;
    std::vector<QByteArray> bodies;
    std::vector<double> oldUs, newUs, decodeUs;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int perKind = args.size() > 1 ? args.at(1).toInt() : 2000;
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 5;
    QTextStream out(stdout);

    QRandomGenerator random(27);
    Kind kinds[] = {{"street PNG (palette)", "image/png", {}, {}, {}, {}}, {"aerial JPEG", "image/jpeg", {}, {}, {}, {}}};
    qint64 bytes[2] = {0, 0};
    for (int i = 0; i < perKind; ++i) {
        kinds[0].bodies.push_back(TileBodies::mapLike(i));
        kinds[1].bodies.push_back(encode(aerialTile(random), "JPEG"));
        bytes[0] += kinds[0].bodies.back().size();
        bytes[1] += kinds[1].bodies.back().size();
    }
    out << perKind << " tiles per kind, 256 px; mean body " << bytes[0] / perKind << " B (PNG), " << bytes[1] / perKind
        << " B (JPEG); " << rounds << " alternating rounds\n";

    int refused = 0;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        for (Kind &kind : kinds) {
            clock.start();
            for (const QByteArray &body : kind.bodies)
                refused += FramingOnlyBaseline(kind.type).judge(body) ? 0 : 1;
            kind.oldUs.push_back(clock.nsecsElapsed() / 1e3 / double(kind.bodies.size()));
            clock.start();
            for (const QByteArray &body : kind.bodies)
                refused += TileContent::check(kind.type, body).ok() ? 0 : 1;
            kind.newUs.push_back(clock.nsecsElapsed() / 1e3 / double(kind.bodies.size()));
            // For scale: what showing a tile costs anyway (one in ten decoded).
            clock.start();
            for (size_t i = 0; i < kind.bodies.size(); i += 10)
                refused += QImage::fromData(kind.bodies[i]).isNull() ? 1 : 0;
            kind.decodeUs.push_back(clock.nsecsElapsed() / 1e3 / double((kind.bodies.size() + 9) / 10));
        }
    }
    out << "refused (must be 0): " << refused << "\n\n";
    out << "kind                   framing only   sound-tile check   ratio   QImage decode   (median over rounds, per tile)\n";
    for (const Kind &kind : kinds) {
        const double before = median(kind.oldUs), after = median(kind.newUs);
        out << QString::fromLatin1(kind.name).leftJustified(22) << QStringLiteral("%1 us").arg(before, 9, 'f', 2)
            << QStringLiteral("%1 us").arg(after, 15, 'f', 2) << QStringLiteral("%1 x").arg(after / before, 8, 'f', 1)
            << QStringLiteral("%1 us").arg(median(kind.decodeUs), 13, 'f', 1) << '\n';
    }
    return refused == 0 ? 0 : 1;
}
