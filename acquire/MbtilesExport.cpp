#include "acquire/MbtilesExport.h"

#include "acquire/TileFolderDescription.h"
#include "mapview/MapTileFetcher.h"
#include "mapview/TileGeometry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int DeepestZoom = 30;
constexpr qint64 ProgressEvery = 64;

struct TilePlace
{
    int zoom = 0;
    int x = 0;
    int y = 0;
    QString path;
    QString format;
};

// Calls visit for every zoom/x/y.ext file of the tree whose numbers lie on
// the grid, one column listed at a time; stops when visit returns false.
// False when it was stopped.
bool forEachTile(const QString &folder, const std::function<bool(const TilePlace &)> &visit)
{
    // Numbers as written by a tile server: "05" is not the column 5.
    static const QRegularExpression digits(QStringLiteral("^(0|[1-9][0-9]{0,8})$"));
    static const QRegularExpression tileName(QStringLiteral("^(0|[1-9][0-9]{0,8})\\.([A-Za-z0-9]+)$"));
    const QDir root(folder);
    for (const QString &z : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!digits.match(z).hasMatch() || z.toInt() > DeepestZoom)
            continue;
        const QDir zoomFolder(root.filePath(z));
        const qint64 side = qint64(1) << z.toInt();
        for (const QString &x : zoomFolder.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (!digits.match(x).hasMatch() || x.toLongLong() >= side)
                continue;
            const QDir column(zoomFolder.filePath(x));
            for (const QString &file : column.entryList(QDir::Files)) {
                const QRegularExpressionMatch match = tileName.match(file);
                if (!match.hasMatch() || match.captured(1).toLongLong() >= side)
                    continue;
                const TilePlace place{z.toInt(), x.toInt(), match.captured(1).toInt(), column.filePath(file),
                                      MbtilesExport::formatOf(match.captured(2))};
                if (!visit(place))
                    return false;
            }
        }
    }
    return true;
}

// The image format the first bytes show, in the words of formatOf().
QString formatOfBody(const QByteArray &body)
{
    if (body.startsWith("\x89PNG"))
        return QStringLiteral("png");
    if (body.startsWith("\xff\xd8\xff"))
        return QStringLiteral("jpg");
    if (body.startsWith("RIFF") && body.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (body.startsWith("GIF8"))
        return QStringLiteral("gif");
    return QString();
}

QByteArray mediaType(const QString &format)
{
    return format == QLatin1String("jpg") ? QByteArrayLiteral("image/jpeg") : "image/" + format.toLatin1();
}

// The open database of one export and its statements; closes both.
class Database
{
public:
    ~Database()
    {
        sqlite3_finalize(m_insertTile);
        sqlite3_finalize(m_insertMeta);
        if (m_db)
            sqlite3_close(m_db);
    }

    bool open(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            return fail();
        // The whole file is thrown away unless complete, so no journal is kept;
        // it is flushed to disk once, before it takes the target's name.
        return exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
                    "PRAGMA application_id = " + QByteArray::number(MbtilesExport::ApplicationId) + ';'
                    + "CREATE TABLE metadata (name TEXT, value TEXT);"
                      "CREATE UNIQUE INDEX metadata_name ON metadata (name);"
                      "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
                      "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
                      "BEGIN;")
               && prepare("INSERT OR IGNORE INTO tiles VALUES (?, ?, ?, ?)", &m_insertTile)
               && prepare("INSERT INTO metadata VALUES (?, ?)", &m_insertMeta);
    }

    // *added is false when the place was packed already (1.jpg and 1.jpeg).
    bool addTile(int zoom, int column, int row, const QByteArray &data, bool *added)
    {
        sqlite3_bind_int(m_insertTile, 1, zoom);
        sqlite3_bind_int(m_insertTile, 2, column);
        sqlite3_bind_int(m_insertTile, 3, row);
        sqlite3_bind_blob(m_insertTile, 4, data.constData(), data.size(), SQLITE_STATIC);
        const bool stepped = step(m_insertTile);
        *added = sqlite3_changes(m_db) == 1;
        return stepped;
    }

    bool addMeta(const char *name, const QString &value)
    {
        const QByteArray text = value.toUtf8();
        sqlite3_bind_text(m_insertMeta, 1, name, -1, SQLITE_STATIC);
        sqlite3_bind_text(m_insertMeta, 2, text.constData(), text.size(), SQLITE_STATIC);
        return step(m_insertMeta);
    }

    bool finish()
    {
        if (!exec("COMMIT;"))
            return false;
        sqlite3_finalize(m_insertTile);
        sqlite3_finalize(m_insertMeta);
        m_insertTile = m_insertMeta = nullptr;
        const int closed = sqlite3_close(m_db);
        m_db = nullptr;
        if (closed != SQLITE_OK) {
            m_error = QStringLiteral("the database could not be closed");
            return false;
        }
        return true;
    }

    const QString &error() const { return m_error; }

private:
    bool fail()
    {
        m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
        return false;
    }
    bool exec(const QByteArray &sql) { return sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK || fail(); }
    bool prepare(const char *sql, sqlite3_stmt **statement)
    {
        return sqlite3_prepare_v2(m_db, sql, -1, statement, nullptr) == SQLITE_OK || fail();
    }
    bool step(sqlite3_stmt *statement)
    {
        const bool done = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return done || fail();
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insertTile = nullptr;
    sqlite3_stmt *m_insertMeta = nullptr;
    QString m_error;
};

// Puts the finished file on disk before it takes the target's name, so a
// crash after the rename cannot leave a truncated export there.
bool flushToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Bounds (west, south, east, north) of the packed tiles, in degrees.
struct Bounds
{
    double west = 180, south = 85.0511287798066, east = -180, north = -85.0511287798066;
    void add(const TilePlace &tile)
    {
        west = std::min(west, TileGeometry::tileXToLon(tile.x, tile.zoom));
        east = std::max(east, TileGeometry::tileXToLon(tile.x + 1, tile.zoom));
        north = std::max(north, TileGeometry::tileYToLat(tile.y, tile.zoom));
        south = std::min(south, TileGeometry::tileYToLat(tile.y + 1, tile.zoom));
    }
};

QString degrees(double value)
{
    return QString::number(value, 'f', 6);
}

} // namespace

qint64 MbtilesExport::Result::skipped() const
{
    qint64 count = otherFormat + unreadable + duplicate;
    for (const qint64 n : unsound)
        count += n;
    return count;
}

QString MbtilesExport::formatOf(const QString &extension)
{
    const QString lower = extension.toLower();
    return lower == QLatin1String("jpeg") ? QStringLiteral("jpg") : lower;
}

MbtilesExport::Result MbtilesExport::run(const Request &request, const std::atomic_bool &cancel,
                                         const std::function<void(qint64, qint64)> &progress)
{
    Result result;
    // First pass: how many tiles, and the format most of them have.
    QMap<QString, qint64> formats;
    forEachTile(request.folder, [&](const TilePlace &tile) {
        ++formats[tile.format];
        ++result.found;
        return !cancel.load();
    });
    if (cancel.load()) {
        result.cancelled = true;
        return result;
    }
    if (result.found == 0) {
        result.error = QStringLiteral("%1 holds no tiles").arg(request.folder);
        return result;
    }
    for (auto it = formats.cbegin(); it != formats.cend(); ++it) {
        if (result.format.isEmpty() || it.value() > formats.value(result.format))
            result.format = it.key();
    }
    if (progress)
        progress(0, result.found);

    const QFileInfo target(request.target);
    QTemporaryFile draft(target.absolutePath() + QStringLiteral("/.") + target.fileName()
                         + QStringLiteral(".XXXXXX.part"));
    if (!draft.open()) {
        result.error = QStringLiteral("%1: %2").arg(target.absolutePath(), draft.errorString());
        return result;
    }
    draft.close(); // an empty file is an empty database; the draft still goes with this object
    Database db;
    if (!db.open(draft.fileName())) {
        result.error = db.error();
        return result;
    }

    // Second pass: every tile of the pack's format, judged and packed.
    const QByteArray type = mediaType(result.format);
    Bounds bounds;
    qint64 done = 0;
    bool failed = false;
    forEachTile(request.folder, [&](const TilePlace &tile) {
        if (cancel.load())
            return false;
        if (++done % ProgressEvery == 0 && progress)
            progress(done, result.found);
        if (tile.format != result.format) {
            ++result.otherFormat;
            return true;
        }
        QFile file(tile.path);
        if (!file.open(QIODevice::ReadOnly)) {
            ++result.unreadable;
            return true;
        }
        if (file.size() > MapTileFetcher::MaxTileBytes) {
            ++result.unsound[TileContent::Reason::Unsound];
            return true;
        }
        const QByteArray body = file.readAll();
        const TileContent::Verdict verdict = TileContent::check(type, body);
        if (!verdict.ok()) {
            ++result.unsound[verdict.reason];
            return true;
        }
        if (formatOfBody(body) != result.format) {
            ++result.otherFormat; // named like the pack's format, holding another
            return true;
        }
        bool added = false;
        if (!db.addTile(tile.zoom, tile.x, tmsRow(tile.zoom, tile.y), body, &added)) {
            failed = true;
            return false;
        }
        if (!added) {
            ++result.duplicate;
            return true;
        }
        ++result.packed;
        bounds.add(tile);
        result.minZoom = result.minZoom < 0 ? tile.zoom : std::min(result.minZoom, tile.zoom);
        result.maxZoom = std::max(result.maxZoom, tile.zoom);
        return true;
    });
    if (failed) {
        result.error = db.error();
        return result;
    }
    if (cancel.load()) {
        result.cancelled = true;
        return result;
    }
    if (progress)
        progress(result.found, result.found);
    if (result.packed == 0) {
        result.error = QStringLiteral("%1 holds no sound tile to pack").arg(request.folder);
        return result;
    }

    const QString name = request.name.isEmpty() ? TileFolderDescription::baseName(request.folder) : request.name;
    const QString description = request.description.isEmpty()
                                    ? QStringLiteral("Tiles of %1").arg(QDir::cleanPath(request.folder))
                                    : request.description;
    const QStringList boundsValues{degrees(bounds.west), degrees(bounds.south), degrees(bounds.east),
                                   degrees(bounds.north)};
    const QString center = QStringLiteral("%1,%2,%3")
                               .arg(degrees((bounds.west + bounds.east) / 2), degrees((bounds.south + bounds.north) / 2))
                               .arg(result.minZoom);
    const bool written = db.addMeta("name", name) && db.addMeta("format", result.format)
                         && db.addMeta("bounds", boundsValues.join(QLatin1Char(',')))
                         && db.addMeta("center", center) && db.addMeta("minzoom", QString::number(result.minZoom))
                         && db.addMeta("maxzoom", QString::number(result.maxZoom))
                         && db.addMeta("attribution", request.attribution)
                         && db.addMeta("type", request.overlay ? QStringLiteral("overlay") : QStringLiteral("baselayer"))
                         && db.addMeta("version", QStringLiteral("1")) && db.addMeta("description", description);
    if (!written || !db.finish()) {
        result.error = db.error();
        return result;
    }
    // The draft was made for the owner only; the export gets the permissions
    // of the file it replaces, or those of a new document.
    const QFileDevice::Permissions permissions =
        QFile::exists(request.target) ? QFile::permissions(request.target)
                                      : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                            | QFileDevice::ReadOther;
    const QByteArray draftName = QFile::encodeName(draft.fileName());
    if (!QFile::setPermissions(draft.fileName(), permissions) || !flushToDisk(draft.fileName())
        || std::rename(draftName.constData(), QFile::encodeName(request.target).constData()) != 0) {
        result.error = QStringLiteral("%1: %2").arg(request.target, systemError());
        return result;
    }
    draft.setAutoRemove(false); // it is the target now
    result.ok = true;
    return result;
}
