#pragma once

#include "acquire/SourceAddress.h"

#include <QString>

// The SOURCE of a command as the download job knows a source: osm, seamarks,
// srtm, a tile server address ("http://host/tiles/", asked for zoom/x/y.png
// below it) or template ("https://host/{z}/{x}/{y}.png"), wms:ADDRESS, or a
// DGML theme file, read by the same reader as the window's import.
class SourceArgument
{
public:
    static SourceArgument parse(const QString &text);

    bool ok() const { return m_error.isEmpty(); }
    // Why the text names no usable source, in one line.
    const QString &error() const { return m_error; }
    const SourceAddress::TileSource &source() const { return m_source; }
    // A theme's credit (empty for the others).
    const QString &license() const { return m_license; }
    // The address the proxy is chosen for: the server the requests go to.
    QString serverAddress() const;

private:
    void readTemplate(const QString &text);
    void readTheme(const QString &fileName);

    SourceAddress::TileSource m_source;
    QString m_license;
    QString m_error;
};
