#pragma once

#include "settings/DgmlTheme.h"

#include <QString>
#include <QXmlStreamReader>

class QIODevice;

// Reads the part of a DGML map theme that an import needs: the elements name,
// license, sourcedir, storageLayout and downloadUrl, by local name in any namespace and
// at any depth; everything else is skipped. The file is read as a stream, and
// entity expansion and element texts are bounded, so a hostile file ends in an
// error instead of filling memory.
class DgmlReader
{
public:
    enum class Result {
        Read,            // a downloadUrl element was read
        NoDownloadUrl,   // a well-formed file without one
        Error,           // not well-formed, or beyond the reader's limits
        CannotOpen
    };

    // Longest element text taken from a file (a name or a folder).
    static constexpr int MaxTextLength = 64 * 1024;
    // Characters that the entities of one file may expand to.
    static constexpr int EntityExpansionLimit = 4096;

    Result readFile(const QString &fileName);
    Result read(QIODevice *device);

    // Fields as far as the file was read, also after an error.
    const DgmlTheme &theme() const { return m_theme; }
    // The reader's description of the failure with its line and column.
    const QString &errorString() const { return m_error; }

private:
    QString readText(const QString &element);
    void readDownloadUrl();

    QXmlStreamReader m_xml;
    DgmlTheme m_theme;
    QString m_error;
};
