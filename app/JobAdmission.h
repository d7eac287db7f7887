#pragma once

#include "acquire/JobSize.h"
#include "acquire/SourceAddress.h"
#include "mapview/GeoArea.h"
#include "mapview/SourcePolicy.h"

#include <QString>

#include <vector>

// Whether a job may start, counted from the grid before anything is fetched,
// and the texts that tell the user its size: a job the source's operators do
// not allow is refused, a very large one is asked about first.
class JobAdmission
{
public:
    enum class Verdict { Start, Ask, Refuse };

    // A zipped 1201 x 1201 grid of 16-bit heights: 2.8 MB unpacked, about
    // two MiB packed over land.
    static constexpr qint64 TypicalArchiveBytes = 2 * 1024 * 1024;

    struct Job
    {
        GeoArea area;
        int fromZoom = 0;
        int toZoom = 0;
        SourceAddress::TileSource source;
        bool download = true; // false: copied from a folder
    };

    // standardServer is the configured standard tile server; mapTileSizes
    // the sizes of the tiles the map view holds (they are this source's only
    // for a tile download); tilesPerSecond the pace of the last finished job
    // of the same kind (<= 0: unknown).
    static JobAdmission decide(const Job &job, const QString &standardServer,
                               const std::vector<qint64> &mapTileSizes, double tilesPerSecond);

    // The rules the job runs under. The public server's limit also binds a
    // listed server or a theme that names that host; a copy asks no server.
    static SourcePolicy policyFor(const SourceAddress::TileSource &source, bool download,
                                  const QString &standardServer);

    // Whether the job may run as several jobs side by side: not against the
    // public standard and seamark servers, whose operators ask for one
    // request at a time.
    static bool allowsParallel(const SourceAddress::TileSource &source, const QString &standardServer,
                               const QString &seamarkServer);
    // The server a job's pace is kept under: scheme, host and port of its
    // requests; empty for a copy.
    static QString serverOf(const SourceAddress::TileSource &source, bool download);

    Verdict verdict() const { return m_verdict; }
    const JobSize::Estimate &estimate() const { return m_estimate; }
    qint64 entries() const { return m_estimate.tiles; }

    // "Download: 13,653 tiles", shown as the job starts.
    QString countText() const;
    QString questionText() const;
    // Two sentences: why the server does not allow the job, what to use instead.
    QString refusalText() const;
    // The status line when the job did not start.
    QString notStartedText() const;

    static QString amountText(qint64 entries, bool archives);
    static QString sizeText(qint64 bytes);
    static QString durationText(qint64 seconds);

private:
    Verdict m_verdict = Verdict::Start;
    JobSize::Estimate m_estimate;
    bool m_archives = false;
    bool m_download = true;
    qint64 m_limit = -1;
};
