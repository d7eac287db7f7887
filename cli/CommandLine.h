#pragma once

#include "mapview/GeoArea.h"

#include <QString>
#include <QStringList>

// The arguments of one tilewright call, parsed and checked before anything
// is asked of a server or written: a value, and the one line that says what
// was wrong when it is not usable.
class CommandLine
{
public:
    enum class Command { None, Count, Download, Copy, Pack, Verify, Help, Version };

    // The deepest level a job may ask for.
    static constexpr int MaxZoom = 19;
    // Tiles sampled per level by count when --sample is not given.
    static constexpr int DefaultSample = 3;

    static CommandLine parse(const QStringList &arguments);

    bool ok() const { return m_error.isEmpty(); }
    // "tilewright download: --bbox needs W,S,E,N" style, one line.
    const QString &error() const { return m_error; }

    // The usage of a command (of the program for None).
    static QString helpText(Command command);
    static QString commandName(Command command);

    Command command = Command::None;
    Command helpFor = Command::None; // Help: the command asked about
    QString source;                  // SOURCE (download, count; verify --repair)
    GeoArea area;
    bool hasArea = false;
    int fromZoom = 0;
    int toZoom = 0;
    QString dest;
    QString from;          // copy: the source tree
    QString tree;          // verify, pack: DIR (or FILE.mbtiles for verify)
    QString mbtiles;       // pack: FILE; download: --mbtiles
    QString proxy;         // --proxy http://[user:password@]host:port
    bool skipExisting = false;
    bool json = false;
    bool quiet = false;
    int parallel = 1;
    int sample = DefaultSample;

private:
    void fail(const QString &what);
    bool takeValue(const QStringList &arguments, int &i, QString *value);
    void readArea(const QString &text);
    void readZoom(const QString &text);

    QString m_error;
};
