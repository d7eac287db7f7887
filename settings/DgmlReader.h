#pragma once

#include "settings/DgmlTheme.h"

#include <QString>
#include <QXmlStreamReader>

class QIODevice;

// Reads the part of a DGML map theme that an import needs: the elements name,
// license, sourcedir, storageLayout and downloadUrl, by local name in any namespace and
// at any depth; everything else is skipped. The file is read as a stream and
// every text in it is bounded: a file of more than MaxFileBytes or one that is
// no regular file is refused before it is read, each text and attribute value
// (also in skipped elements) is held to MaxTextLength, and the references to
// the entities a document type declares may expand to FileExpansionLimit
// characters in all; that sum is worked out from the declarations and the
// references before any of them is expanded. Entities kept in other files are
// refused. A hostile file thus ends in an error instead of filling memory.
class DgmlReader
{
public:
    enum class Result {
        Read,            // a downloadUrl element was read
        NoDownloadUrl,   // a well-formed file without one
        Error,           // not well-formed, or beyond the reader's limits
        CannotOpen,
        NotAFile,        // a folder, FIFO, device or socket: not opened
        TooLarge         // more than MaxFileBytes: not opened
    };

    // Theme files are a few kilobytes; four MiB leaves room for any real one.
    static constexpr qint64 MaxFileBytes = 4 * 1024 * 1024;
    // Longest text or attribute value taken from a file (a name or a folder).
    static constexpr int MaxTextLength = 64 * 1024;
    // Characters that one entity reference may expand to.
    static constexpr int EntityExpansionLimit = 4096;
    // Characters that all entity references of one file may expand to together.
    static constexpr qint64 FileExpansionLimit = 64 * 1024;

    Result readFile(const QString &fileName);
    // The device must allow seeking back (a file or a buffer); one with more
    // than MaxFileBytes left is TooLarge.
    Result read(QIODevice *device);

    // Fields as far as the file was read, also after an error.
    const DgmlTheme &theme() const { return m_theme; }
    // The reader's description of the failure with its line and column.
    const QString &errorString() const { return m_error; }

private:
    QString readText(const QString &element);
    void readDownloadUrl();
    bool withinBounds();
    static QString checkDeclarations(const QByteArray &raw);
    QString checkEntities(const QByteArray &raw);

    QXmlStreamReader m_xml;
    DgmlTheme m_theme;
    QString m_error;
};
