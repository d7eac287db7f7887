#pragma once

#include "cli/CommandLine.h"
#include "cli/ProgressLine.h"

#include <QString>

class JsonSummary;
class StopSignal;

// tilewright pack DIR FILE.mbtiles, and the packing after download --mbtiles.
class PackCommand
{
public:
    explicit PackCommand(const CommandLine &line);
    int run(StopSignal *stopSignal);

    // Whether this build has the MBTiles export.
    static bool available();
    static QString unavailableText();
    // Packs the tree into the file; the exit code. The summary gets what was packed.
    static int pack(const QString &tree, const QString &file, StopSignal *stopSignal, ProgressLine::Mode mode,
                    JsonSummary *summary);

private:
    const CommandLine &m_line;
};
