#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// What became of the entries of one job, as values; app/ words them for the
// status line. Every entry lands in exactly one of four counts:
//   stored     a fresh tile or archive is on disk
//   unchanged  the tile on disk stays as it was, on purpose (not a failure)
//   failed     asked for (or meant to be), and nothing usable came; by reason
//   skipped    no request was made for it; by reason
class JobOutcome
{
public:
    enum class Reason {
        None,
        NoAddress,     // the source gives no address for the entry
        RefusedScheme, // only tile servers are asked (no file:, qrc:, data:)
        Unwritable,    // its file or folder cannot be written
        Network,       // connection, name, TLS, redirect loop
        HttpStatus,    // the server answered with a status outside 2xx
        NotATile,      // a document (error page, service exception) instead of a tile
        NotSound,      // framed like an image, but broken or too large to be a tile
        Transfer,      // an HTTPS transfer ended without an answer
        TooLarge,      // the body passed the size bound while it arrived
        TimedOut,      // no answer in time, or the answer came too slowly
        Incomplete,    // the body was cut short or is not what its type says
        DiskFull,      // no space, quota or file-size limit left on the destination
        Missing        // (copy) the source tree has no such tile
    };

    void addStored(int count = 1) { m_stored += count; }
    void addUnchanged(int count = 1) { m_unchanged += count; }
    // httpStatus is kept with HttpStatus failures, so the text can name it.
    void addFailed(Reason reason, int httpStatus = 0, int count = 1);
    void addSkipped(Reason reason);
    // An answer came (any status), with a body of this many bytes: the pace of
    // a server is measured from answers only, never from entries that sent nothing.
    void noteAnswer(qint64 bodyBytes);
    // A theme format that is no file extension: tiles are saved as .extension.
    void noteFormat(const QString &format, const QString &extension);
    // Adds the counts of another job (one of several over shares of a list).
    void merge(const JobOutcome &other);

    int stored() const { return m_stored; }
    int unchanged() const { return m_unchanged; }
    int failed() const;
    int failed(Reason reason) const;
    int skipped() const;
    int skipped(Reason reason) const;
    int entries() const { return m_stored + m_unchanged + failed() + skipped(); }
    int answered() const { return m_answered; }
    qint64 receivedBytes() const { return m_bytes; }
    // Every reason with its count, the most frequent first (the lower reason
    // on a tie); the HTTP status travels with HttpStatus failures.
    struct Count
    {
        Reason reason;
        int httpStatus;
        int count;
    };
    QList<Count> failures() const;
    QList<Count> skips() const;
    int failedWithStatus(int httpStatus) const { return m_failed.value(Key(int(Reason::HttpStatus), httpStatus)); }
    // The reason most entries failed for (the lowest reason on a tie), and
    // its HTTP status when it is one; Reason::None when nothing failed.
    QPair<Reason, int> mostFrequentFailure() const;
    // The same for the skipped entries.
    Reason mostFrequentSkip() const;
    // A theme format that had to be reduced, and the extension used instead.
    QString unsafeFormat() const { return m_format; }
    QString savedExtension() const { return m_extension; }

private:
    using Key = QPair<int, int>; // reason, HTTP status
    int m_stored = 0;
    int m_unchanged = 0;
    QMap<Key, int> m_failed;
    QMap<int, int> m_skipped;
    int m_answered = 0;
    qint64 m_bytes = 0;
    QString m_format;
    QString m_extension;
};
