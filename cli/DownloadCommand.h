#pragma once

#include "cli/CommandLine.h"

class StopSignal;

// tilewright download: the window's Download over an area given by its
// bounds, admitted by the same rules, optionally as several jobs side by
// side and packed into an MBTiles file afterwards.
class DownloadCommand
{
public:
    explicit DownloadCommand(const CommandLine &line);
    int run(StopSignal *stopSignal);

private:
    int refuse(const QString &why) const;

    const CommandLine &m_line;
};
