#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// The one place where a tile, an archive or a copied tile becomes a file.
// Every writer (the tile writer's thread, the HTTPS transfer, the copy
// worker) goes through it, so these rules are decided here and nowhere else:
//  - a new file is created exclusively: a file that appears meanwhile is
//    never overwritten by a new one;
//  - an existing file is replaced atomically (temporary file beside it, then
//    rename), and only by a complete new one;
//  - an empty body never replaces a file that has content;
//  - the server's modification time is set on the open, complete file;
//  - "disk full" is one judgement (ENOSPC, EDQUOT, EFBIG, short writes);
//  - the zoom/x (or region) folders are made when a file goes into them, and
//    the ones made for a file that failed are taken back at once, empty. A
//    later entry for the same folder makes it again, so a folder is never
//    taken from an entry still to come, and nothing is left for one that is
//    dropped (Stop) or asked for again later (Retry-After).
// No temporary file or partial file is ever left behind.
class TileFile
{
public:
    struct Result
    {
        enum class Outcome {
            Stored,    // the body is on disk under the path
            Unchanged, // an empty body met a non-empty file, which was kept
            Failed     // nothing changed on disk; failure says why
        };
        enum class Failure {
            None,
            Folder,     // the folder cannot be made
            Create,     // the file (or its temporary) cannot be created
            ShortWrite, // fewer bytes were written than given
            Flush,      // buffered bytes could not be written out
            Rename,     // the complete temporary could not take the file's place
            Remove,     // (probe) the probe file could not be removed
            DiskFull    // no space, quota or file-size limit: stop asking for more
        };
        Outcome outcome = Outcome::Stored;
        Failure failure = Failure::None;
        QString path;
        QString error; // the system's text
        bool ok() const { return outcome != Outcome::Failed; }
        bool diskFull() const { return failure == Failure::DiskFull; }
        // "disk full: No space left on device"
        QString reason() const;
    };

    // A file written as it streams in. Nothing of it is seen at the path
    // before commit(); a draft that is not committed vanishes with this object.
    explicit TileFile(const QString &path);
    ~TileFile();

    // Makes the folder and the temporary now (append does so otherwise), so
    // that a file that cannot be written costs no request. Whether the file
    // is new or replaced is decided here: a file that appears at the path
    // after this is kept, and the draft fails at commit.
    bool open();
    // False when the bytes could not be written; result() says why.
    bool append(const char *data, qint64 size);
    qint64 size() const { return m_size; }
    // Puts the complete file in place (modified: the server's time, when valid).
    Result commit(const QDateTime &modified = QDateTime());
    // Drops what was written; the old file, if any, stays as it was.
    void discard();
    // The first failure of append(), or a stored result.
    const Result &result() const { return m_result; }

    // A whole body at once, on the calling thread. A new file is written in
    // place (created exclusively, removed again on failure): most tiles of a
    // job are new, and a temporary per tile costs a rename each.
    static Result store(const QString &path, const QByteArray &body, const QDateTime &modified = QDateTime());
    // Makes the folder (with its parents) and writes and removes a probe file
    // in it: the destination can take tiles.
    static Result probeFolder(const QString &folder);
    static bool isDiskFullError(int systemError);

private:
    static Result replace(const QString &path, const QByteArray &body, const QDateTime &modified);

    QString m_path;
    QString m_temporary;
    QStringList m_madeFolders; // for this file, taken back if it fails
    int m_fd = -1;
    qint64 m_size = 0;
    bool m_opened = false;
    bool m_replacing = false; // a file was at the path when the draft opened
    Result m_result;

    TileFile(const TileFile &) = delete;
    TileFile &operator=(const TileFile &) = delete;
};
