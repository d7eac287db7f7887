#include "cli/PackCommand.h"

#include "cli/ExitCode.h"
#include "cli/JsonSummary.h"

#include <cstdio>

PackCommand::PackCommand(const CommandLine &line)
    : m_line(line)
{
}

bool PackCommand::available()
{
    return false;
}

QString PackCommand::unavailableText()
{
    return QStringLiteral("tilewright: MBTiles export is not available in this build");
}

int PackCommand::pack(const QString &tree, const QString &file, StopSignal *stopSignal, ProgressLine::Mode mode,
                      JsonSummary *summary)
{
    Q_UNUSED(tree)
    Q_UNUSED(file)
    Q_UNUSED(stopSignal)
    Q_UNUSED(mode)
    Q_UNUSED(summary)
    std::fprintf(stderr, "%s\n", qPrintable(unavailableText()));
    return ExitCode::Usage;
}

int PackCommand::run(StopSignal *stopSignal)
{
    if (!available()) {
        std::fprintf(stderr, "%s\n", qPrintable(unavailableText()));
        return ExitCode::Usage;
    }
    JsonSummary summary(QStringLiteral("pack"));
    const int code = pack(m_line.tree, m_line.mbtiles, stopSignal, ProgressLine::modeFor(stderr, m_line.quiet), &summary);
    if (m_line.json)
        summary.print();
    return code;
}
