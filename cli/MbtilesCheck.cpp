#include "cli/MbtilesCheck.h"

#include "acquire/MbtilesExport.h"
#include "mapview/TileContent.h"

#include <QFile>

#include <sqlite3.h>

namespace {

// The statement and the database go together, whatever way run() leaves.
struct Database
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    ~Database()
    {
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    QString error() const { return QString::fromUtf8(sqlite3_errmsg(db)); }
};

QByteArray typeOf(const QString &format)
{
    if (format == QLatin1String("jpg") || format == QLatin1String("jpeg"))
        return QByteArrayLiteral("image/jpeg");
    if (format.isEmpty() || format == QLatin1String("pbf"))
        return QByteArray(); // vector tiles are no image: judged by their bytes alone
    return "image/" + format.toLatin1();
}

} // namespace

bool MbtilesCheck::run(const QString &path, const BadSink &bad, qint64 *checked, const std::function<bool()> &stop)
{
    *checked = 0;
    Database d;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &d.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        m_error = d.db ? d.error() : QStringLiteral("cannot open");
        return false;
    }
    QString format;
    if (sqlite3_prepare_v2(d.db, "SELECT value FROM metadata WHERE name = 'format'", -1, &d.statement, nullptr) == SQLITE_OK
        && sqlite3_step(d.statement) == SQLITE_ROW)
        format = MbtilesExport::formatOf(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(d.statement, 0))));
    sqlite3_finalize(d.statement);
    d.statement = nullptr;
    if (sqlite3_prepare_v2(d.db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &d.statement, nullptr)
        != SQLITE_OK) {
        m_error = d.error();
        return false;
    }
    const QByteArray type = typeOf(format);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(d.statement)) == SQLITE_ROW) {
        const int zoom = sqlite3_column_int(d.statement, 0);
        const TileId tile{sqlite3_column_int(d.statement, 1),
                          zoom >= 0 && zoom < 31 ? MbtilesExport::tmsRow(zoom, sqlite3_column_int(d.statement, 2)) : 0, zoom};
        const int size = sqlite3_column_bytes(d.statement, 3);
        const QByteArray body = QByteArray::fromRawData(static_cast<const char *>(sqlite3_column_blob(d.statement, 3)), size);
        ++*checked;
        if (size == 0) {
            bad(tile, QStringLiteral("empty tile"));
        } else {
            const TileContent::Verdict verdict = TileContent::check(type, body);
            if (!verdict.ok())
                bad(tile, TileContent::reasonName(verdict.reason) + QStringLiteral(": ") + verdict.text);
        }
        if (stop && *checked % 256 == 0 && stop())
            return true;
    }
    if (step != SQLITE_DONE) {
        m_error = d.error();
        return false;
    }
    return true;
}
