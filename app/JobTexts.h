#pragma once

#include "acquire/DownloadJob.h"
#include "acquire/JobOutcome.h"
#include "acquire/MbtilesExport.h"
#include "settings/SourceKind.h"

#include <QString>

// The status line's words for what a job's values say, in the window's
// language: the acquisition library reports counts and reasons, and only
// this place turns them into sentences.
namespace JobTexts {

// "Download finished!" exactly when every entry was stored; otherwise how
// many of how many were stored and every reason with its count, e.g.
// "Download finished: 1,204 of 1,300 tiles stored, 96 failed (90 HTTP 404,
// 6 HTTP 500)"; "Download failed: none of 26 tiles stored - ..." when
// nothing was kept, and "Download stopped: ..." with the reason when the job
// had to stop. For seamarks and elevation a 404 only says that the place has
// no data; it is told apart from the failures ("73 places have no seamarks").
QString downloadEnd(const JobOutcome &outcome, const DownloadJob::StopReason &stop, const QString &destFolder,
                    int sourceKind = SourceKind::StandardTiles);
// "Copy finished!" exactly when every entry was copied.
QString copyEnd(const JobOutcome &outcome);
// The progress line: "1,234 / 5,460 · 12 tiles/s · 6 min left · 18 MiB";
// pace and time left only once there is a pace (perSecond > 0).
QString progress(qint64 done, qint64 total, double perSecond, qint64 bytes);
// The question before a job writes into a folder that holds another source's tiles.
QString mixedFolderQuestion(const QString &heldName, const QString &wantedName);
// Plain words for a reason ("HTTP 404", "timed out").
QString reason(JobOutcome::Reason reason, int httpStatus = 0);
// The entry on its way: "Download SRTM (region):" or "Download Level
// zoom/Tile name :".
QString entry(const EntryPlan &plan);
// While the job waits for a server that asked it to.
QString waiting(int secondsLeft, int httpStatus);
// A copied tile.
QString copiedTile(int zoom, int tile);

// Appended to a job's end text when the descriptions beside its files could
// not be written (error: the file and why); empty for an empty error.
QString descriptionsFailed(const QString &error);
// The end of an MBTiles export: "Export finished: 1,204 tiles packed into
// <file>", with how many of how many and each reason for skipped tiles when
// some were not packed; "Export stopped" or "Export failed: ..." otherwise,
// saying the target was left as it was.
QString exportEnd(const MbtilesExport::Result &result, const QString &target);
// While an export runs.
QString exportProgress(qint64 done, qint64 total);

} // namespace JobTexts
