#pragma once

#include <QByteArray>
#include <QDateTime>

// The bounds a download job keeps to, on both transports, and how a server's
// request to wait is read.
namespace JobLimits {

// A tile body above this is refused while it arrives; nothing that large is a tile.
constexpr qint64 TileBodyLimit = qint64(16) * 1024 * 1024;
// The same for an elevation archive (the largest SRTM cells are a few MiB).
constexpr qint64 ArchiveBodyLimit = qint64(256) * 1024 * 1024;

// A server that does not accept the connection within this time is given up.
constexpr int ConnectTimeoutSeconds = 30;
// A transfer slower than LowSpeedBytesPerSecond for LowSpeedSeconds is ended:
// a server that accepts and never answers, or trickles a byte a second, must
// not hold the job on one tile for good.
constexpr int LowSpeedSeconds = 60;
constexpr int LowSpeedBytesPerSecond = 16;

// A tile the server asked us to come back for (429 or 503) is asked for again
// at most this many times.
constexpr int MaxRetries = 3;
// The job's server refusing this many requests in a row (401 or 403) ends the job.
constexpr int RefusalStreak = 3;
// Longer waits than this are cut to it.
constexpr int MaxRetryWaitMs = 300 * 1000;
// Shorter waits are stretched to this: a date already past (a clock that is
// behind, or a server's mistake) or "0" would otherwise send every retry at once.
constexpr int MinRetryWaitMs = 1000;

// The wait a Retry-After header value asks for, in milliseconds, between
// MinRetryWaitMs and MaxRetryWaitMs: delay seconds ("120") or an HTTP date
// (IMF-fixdate, RFC 850 or asctime form). -1 when the value is empty or
// neither form.
qint64 retryAfterMs(const QByteArray &value, const QDateTime &now = QDateTime::currentDateTimeUtc());

} // namespace JobLimits
