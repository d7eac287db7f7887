#pragma once

#include "acquire/SourceAddress.h"

#include <QString>

#include <optional>

// The small file a download leaves in its destination naming the source of
// its tiles, so that a later job of another source asks before it mixes its
// tiles into the folder (a tile of the same name would replace the other
// source's tile).
class SourceMark
{
public:
    static QString fileName() { return QStringLiteral(".cvtilewright-source"); }

    QString id;   // stable: compared between jobs
    QString name; // as the question names the source

    // The mark of a download source; themeName names an imported theme.
    static SourceMark of(const SourceAddress::TileSource &source, const QString &themeName);
    // The folder's mark; none when the folder has no readable one.
    static std::optional<SourceMark> read(const QString &folder);
    // Into an existing folder only (a folder is made by the tiles that go
    // into it), whole or not at all.
    bool writeTo(const QString &folder) const;
    // The mark folder holds when it names another source than wanted.
    static std::optional<SourceMark> otherIn(const QString &folder, const SourceMark &wanted);
};
