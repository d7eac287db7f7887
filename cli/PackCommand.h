#pragma once

#include "cli/CommandLine.h"
#include "cli/ProgressLine.h"

#include <QString>

class JsonSummary;
class StopSignal;

// tilewright pack DIR FILE.mbtiles, and the packing after download --mbtiles:
// the window's MBTiles export, on its worker thread.
class PackCommand
{
public:
    explicit PackCommand(const CommandLine &line);
    int run(StopSignal *stopSignal);

    struct Pack
    {
        QString tree;
        QString target;
        QString attribution; // the source's credit, when known
        bool overlay = false;
    };
    // Packs the tree into the file and gives the exit code; the summary gets
    // what was packed and skipped.
    static int pack(const Pack &pack, StopSignal *stopSignal, ProgressLine::Mode mode, bool quiet,
                    JsonSummary *summary);

private:
    const CommandLine &m_line;
};
