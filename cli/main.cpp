#include "cli/CommandLine.h"
#include "cli/CopyCommand.h"
#include "cli/CountCommand.h"
#include "cli/DownloadCommand.h"
#include "cli/ExitCode.h"
#include "cli/PackCommand.h"
#include "cli/StopSignal.h"
#include "cli/VerifyCommand.h"
#include "settings/ProgramVersion.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CommandLine line = CommandLine::parse(app.arguments().mid(1));
    if (!line.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(line.error()));
        return ExitCode::Usage;
    }
    StopSignal stopSignal;
    switch (line.command) {
    case CommandLine::Command::Help:
        std::printf("%s\n", qPrintable(CommandLine::helpText(line.helpFor)));
        return ExitCode::Done;
    case CommandLine::Command::Version:
        std::printf("tilewright %s\n", qPrintable(ProgramVersion::text()));
        return ExitCode::Done;
    case CommandLine::Command::Count:
        return CountCommand(line).run(&stopSignal);
    case CommandLine::Command::Download:
        return DownloadCommand(line).run(&stopSignal);
    case CommandLine::Command::Copy:
        return CopyCommand(line).run(&stopSignal);
    case CommandLine::Command::Pack:
        return PackCommand(line).run(&stopSignal);
    case CommandLine::Command::Verify:
        return VerifyCommand(line).run(&stopSignal);
    case CommandLine::Command::None:
        break;
    }
    std::fprintf(stderr, "%s\n", qPrintable(CommandLine::helpText(CommandLine::Command::None)));
    return ExitCode::Usage;
}
