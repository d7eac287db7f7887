#include "cli/CommandLine.h"


#include <cmath>

namespace {

struct CommandInfo
{
    CommandLine::Command command;
    const char *name;
    int positionals;     // SOURCE, DIR, FILE ...
    const char *options; // the options it takes, space-separated
    const char *usage;
};

// --json and --quiet are taken by every command.
const CommandInfo Commands[] = {
    {CommandLine::Command::Count, "count", 1, "--bbox --zoom --sample --proxy",
     "usage: tilewright count SOURCE --bbox W,S,E,N --zoom A[-B] [--sample N] [--proxy URL] [--json]\n"
     "  Tiles per level and in total, the bytes to expect from a sample of N real tiles\n"
     "  per level (default 3; none from the public OpenStreetMap server) and the time\n"
     "  at one request at a time."},
    {CommandLine::Command::Download, "download", 1,
     "--bbox --zoom --dest --skip-existing --parallel --mbtiles --proxy",
     "usage: tilewright download SOURCE --bbox W,S,E,N --zoom A[-B] --dest DIR\n"
     "                           [--skip-existing] [--parallel N] [--mbtiles FILE] [--proxy URL]\n"
     "  Fetches every tile of the area into DIR/zoom/x/y. A sound tile already there is\n"
     "  asked about with a conditional request; with --skip-existing it is kept without one.\n"
     "  --parallel N runs N jobs over disjoint shares of the list (not for the public\n"
     "  OpenStreetMap and OpenSeaMap servers)."},
    {CommandLine::Command::Copy, "copy", 0, "--from --bbox --zoom --dest",
     "usage: tilewright copy --from DIR --bbox W,S,E,N --zoom A[-B] --dest DIR\n"
     "  Copies the sound tiles of the area from one zoom/x/y tree into another."},
    {CommandLine::Command::Pack, "pack", 2, "",
     "usage: tilewright pack DIR FILE.mbtiles\n"
     "  Packs a zoom/x/y tile tree into one MBTiles file."},
    {CommandLine::Command::Verify, "verify", 1, "--repair --proxy",
     "usage: tilewright verify DIR|FILE.mbtiles [--repair SOURCE] [--proxy URL]\n"
     "  Judges every tile of the tree or file (cut short, not an image, an error page) and lists\n"
     "  the bad ones; --repair fetches them again from SOURCE and replaces them only\n"
     "  with sound tiles."},
};

const char *const ProgramUsage =
    "usage: tilewright COMMAND [options]   (tilewright COMMAND --help for one command)\n"
    "commands: count, download, copy, pack, verify\n"
    "SOURCE: osm, seamarks, srtm, a tile server address (http://host/tiles/) or template\n"
    "        (https://host/{z}/{x}/{y}.png), wms:ADDRESS, or a DGML theme file\n"
    "options of every command: --json (one summary object on stdout), --quiet (no progress)\n"
    "exit codes: 0 everything stored or unchanged, 1 some tiles failed, 2 usage error,\n"
    "            3 refused by policy, 4 destination unusable, 130 interrupted";

const CommandInfo *infoOf(CommandLine::Command command)
{
    for (const CommandInfo &info : Commands) {
        if (info.command == command)
            return &info;
    }
    return nullptr;
}

bool readNumber(const QString &text, double *value)
{
    bool ok = false;
    *value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(*value);
}

} // namespace

QString CommandLine::commandName(Command command)
{
    const CommandInfo *info = infoOf(command);
    return info ? QString::fromLatin1(info->name) : QString();
}

QString CommandLine::helpText(Command command)
{
    const CommandInfo *info = infoOf(command);
    return QString::fromLatin1(info ? info->usage : ProgramUsage);
}

void CommandLine::fail(const QString &what)
{
    if (!m_error.isEmpty())
        return; // the first fault is the one named
    const QString name = commandName(command);
    m_error = (name.isEmpty() ? QStringLiteral("tilewright: ") : QStringLiteral("tilewright %1: ").arg(name)) + what;
}

bool CommandLine::takeValue(const QStringList &arguments, int &i, QString *value)
{
    const QString &argument = arguments.at(i);
    const int equals = argument.indexOf(QLatin1Char('='));
    if (equals > 0) {
        *value = argument.mid(equals + 1);
        return true;
    }
    if (i + 1 >= arguments.size()) {
        fail(QStringLiteral("%1 needs a value").arg(argument));
        return false;
    }
    *value = arguments.at(++i);
    return true;
}

// W,S,E,N in degrees: west before east (an area across the date line is two
// calls), south before north, both within the world.
void CommandLine::readArea(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    double v[4] = {0, 0, 0, 0};
    if (parts.size() != 4) {
        fail(QStringLiteral("--bbox needs four numbers W,S,E,N, not \"%1\"").arg(text));
        return;
    }
    for (int k = 0; k < 4; ++k) {
        if (!readNumber(parts.at(k), &v[k])) {
            fail(QStringLiteral("--bbox: \"%1\" is no number").arg(parts.at(k)));
            return;
        }
    }
    const double west = v[0], south = v[1], east = v[2], north = v[3];
    if (west < -180 || east > 180 || south < -90 || north > 90)
        return fail(QStringLiteral("--bbox %1 is out of range (longitudes -180..180, latitudes -90..90)").arg(text));
    if (west >= east || south >= north)
        return fail(QStringLiteral("--bbox %1 is inverted or empty (W < E and S < N)").arg(text));
    area = GeoArea{west, north, east, south};
    hasArea = true;
}

void CommandLine::readZoom(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('-'));
    bool okFrom = false, okTo = false;
    const int a = parts.value(0).toInt(&okFrom);
    const int b = parts.size() == 2 ? parts.at(1).toInt(&okTo) : a;
    if (parts.size() == 1)
        okTo = okFrom;
    if (parts.size() > 2 || !okFrom || !okTo)
        return fail(QStringLiteral("--zoom needs A or A-B (whole numbers), not \"%1\"").arg(text));
    if (a < 0 || b > MaxZoom)
        return fail(QStringLiteral("--zoom %1: levels are 0 to %2").arg(text).arg(MaxZoom));
    if (a > b)
        return fail(QStringLiteral("--zoom %1: the first level is above the last").arg(text));
    fromZoom = a;
    toZoom = b;
}

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    QStringList positionals;
    bool zoomGiven = false;
    for (int i = 0; i < arguments.size() && line.ok(); ++i) {
        const QString argument = arguments.at(i);
        if (line.command == Command::None && !argument.startsWith(QLatin1Char('-'))) {
            for (const CommandInfo &info : Commands) {
                if (argument == QLatin1String(info.name))
                    line.command = info.command;
            }
            if (line.command == Command::None)
                line.fail(QStringLiteral("unknown command \"%1\" (count, download, copy, pack, verify)").arg(argument));
            continue;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.helpFor = line.command;
            line.command = Command::Help;
            return line;
        }
        if (argument == QLatin1String("--version")) {
            line.command = Command::Version;
            return line;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            positionals << argument;
            continue;
        }
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        if (name == QLatin1String("--json")) {
            line.json = true;
            continue;
        }
        if (name == QLatin1String("--quiet")) {
            line.quiet = true;
            continue;
        }
        const CommandInfo *info = infoOf(line.command);
        const QStringList allowed = info ? QString::fromLatin1(info->options).split(QLatin1Char(' ')) : QStringList();
        if (!allowed.contains(name)) {
            line.fail(QStringLiteral("unknown option %1").arg(name));
            break;
        }
        if (name == QLatin1String("--skip-existing")) {
            line.skipExisting = true;
            continue;
        }
        QString value;
        if (!line.takeValue(arguments, i, &value))
            break;
        if (name == QLatin1String("--bbox")) {
            line.readArea(value);
        } else if (name == QLatin1String("--zoom")) {
            line.readZoom(value);
            zoomGiven = true;
        } else if (name == QLatin1String("--dest")) {
            line.dest = value;
        } else if (name == QLatin1String("--from")) {
            line.from = value;
        } else if (name == QLatin1String("--mbtiles")) {
            line.mbtiles = value;
        } else if (name == QLatin1String("--proxy")) {
            line.proxy = value;
        } else if (name == QLatin1String("--repair")) {
            line.source = value;
        } else if (name == QLatin1String("--parallel") || name == QLatin1String("--sample")) {
            bool ok = false;
            const int n = value.toInt(&ok);
            const bool parallel = name == QLatin1String("--parallel");
            if (!ok || n < (parallel ? 1 : 0) || n > (parallel ? 64 : 1000))
                line.fail(QStringLiteral("%1 needs a whole number from %2 to %3").arg(name).arg(parallel ? 1 : 0).arg(parallel ? 64 : 1000));
            else
                (parallel ? line.parallel : line.sample) = n;
        }
    }
    if (!line.ok())
        return line;
    if (line.command == Command::None) {
        line.fail(QStringLiteral("no command given (tilewright --help)"));
        return line;
    }
    const CommandInfo *info = infoOf(line.command);
    if (positionals.size() != info->positionals) {
        line.fail(positionals.size() < info->positionals ? QStringLiteral("missing argument (tilewright %1 --help)").arg(QLatin1String(info->name))
                                                         : QStringLiteral("unexpected argument \"%1\"").arg(positionals.value(info->positionals)));
        return line;
    }
    switch (line.command) {
    case Command::Count:
    case Command::Download:
        line.source = positionals.at(0);
        break;
    case Command::Pack:
        line.tree = positionals.at(0);
        line.mbtiles = positionals.at(1);
        break;
    case Command::Verify:
        line.tree = positionals.at(0);
        break;
    default:
        break;
    }
    const bool areaJob = line.command == Command::Count || line.command == Command::Download || line.command == Command::Copy;
    if (areaJob && !line.hasArea)
        line.fail(QStringLiteral("--bbox W,S,E,N is needed"));
    else if (areaJob && !zoomGiven)
        line.fail(QStringLiteral("--zoom A[-B] is needed"));
    else if ((line.command == Command::Download || line.command == Command::Copy) && line.dest.isEmpty())
        line.fail(QStringLiteral("--dest DIR is needed"));
    else if (line.command == Command::Copy && line.from.isEmpty())
        line.fail(QStringLiteral("--from DIR is needed"));
    return line;
}
