#include "cli/PackCommand.h"

#include "app/MbtilesExportRun.h"
#include "cli/ExitCode.h"
#include "cli/JsonSummary.h"
#include "cli/StopSignal.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonObject>

#include <cstdio>

PackCommand::PackCommand(const CommandLine &line)
    : m_line(line)
{
}

int PackCommand::pack(const Pack &pack, StopSignal *stopSignal, ProgressLine::Mode mode, bool quiet,
                      JsonSummary *summary)
{
    MbtilesExport::Request request;
    request.folder = QDir::cleanPath(QDir::current().absoluteFilePath(pack.tree)) + QLatin1Char('/');
    request.target = QDir::current().absoluteFilePath(pack.target);
    request.attribution = pack.attribution;
    request.overlay = pack.overlay;
    if (!QFileInfo(request.folder).isDir()) {
        std::fprintf(stderr, "tilewright pack: %s is no folder\n", qPrintable(pack.tree));
        return ExitCode::Usage;
    }
    if (!QFileInfo(QFileInfo(request.target).absolutePath()).isDir() || QFileInfo(request.target).isDir()) {
        std::fprintf(stderr, "tilewright pack: cannot write %s\n", qPrintable(pack.target));
        return ExitCode::Unusable;
    }

    MbtilesExportRun exportRun;
    QEventLoop loop;
    ProgressLine progress(mode, QStringLiteral("tiles packed"), 0);
    QString endText;
    QObject::connect(&exportRun, &MbtilesExportRun::progress, &loop, [&progress](qint64 done, qint64 total) {
        progress.setTotal(total);
        progress.update(done);
    });
    QObject::connect(&exportRun, &MbtilesExportRun::ended, &loop, [&](const QString &text) {
        endText = text;
        loop.quit();
    });
    if (stopSignal)
        QObject::connect(stopSignal, &StopSignal::requested, &exportRun, &MbtilesExportRun::stop);
    exportRun.start(request);
    loop.exec();
    progress.finish();

    const MbtilesExport::Result &result = exportRun.result();
    int code = ExitCode::Done;
    if (result.cancelled)
        code = ExitCode::Interrupted;
    else if (!result.ok)
        code = ExitCode::Unusable; // the file could not be made; the tree is as it was
    else if (result.skipped() > 0)
        code = ExitCode::SomeFailed;
    if (!quiet)
        std::fprintf(stderr, "%s\n", qPrintable(endText));
    if (summary) {
        QJsonObject skipped;
        for (auto it = result.unsound.cbegin(); it != result.unsound.cend(); ++it)
            skipped.insert(TileContent::reasonName(it.key()), it.value());
        if (result.otherFormat > 0)
            skipped.insert(QStringLiteral("other format"), result.otherFormat);
        if (result.unreadable > 0)
            skipped.insert(QStringLiteral("unreadable"), result.unreadable);
        summary->set(QStringLiteral("mbtiles"), QJsonObject{{QStringLiteral("file"), request.target},
                                                             {QStringLiteral("ok"), result.ok},
                                                             {QStringLiteral("found"), result.found},
                                                             {QStringLiteral("packed"), result.packed},
                                                             {QStringLiteral("skipped"), skipped},
                                                             {QStringLiteral("end"), endText}});
    }
    return code;
}

int PackCommand::run(StopSignal *stopSignal)
{
    JsonSummary summary(QStringLiteral("pack"));
    const int code = pack(Pack{m_line.tree, m_line.mbtiles, QString(), false}, stopSignal,
                          ProgressLine::modeFor(stderr, m_line.quiet), m_line.quiet, &summary);
    if (m_line.json) {
        summary.set(QStringLiteral("exit"), code);
        summary.print();
    }
    return code;
}
