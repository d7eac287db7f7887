#pragma once

#include "cli/CommandLine.h"

class StopSignal;

// tilewright copy: the window's copy job (the copy worker over the area's
// tile list) from one zoom/x/y tree into another.
class CopyCommand
{
public:
    explicit CopyCommand(const CommandLine &line);
    int run(StopSignal *stopSignal);

private:
    const CommandLine &m_line;
};
