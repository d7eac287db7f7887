#pragma once

#include <QString>

// Keeps the download zoom within reach of the map's current zoom for the
// public tile servers, whose usage policy forbids bulk downloads of deep levels.
namespace DownloadZoomRule {

// Highest download zoom for the current zoom, or 0 when there is no limit.
int maxDownloadZoom(int currentZoom);

// The limit binds downloads from the public servers only.
bool limitApplies(bool downloadMode, int sourceKind, const QString &sourceFolder);

// Value the spin box must take after the user set it to requested; returns
// requested itself when nothing is to change.
int afterValueChanged(int requested, int currentZoom, bool limitApplies);

// Value the spin box must take when the window paints with spin box value
// shown; returns shown itself when nothing is to change.
int afterPaint(int shown, int currentZoom, bool limitApplies);

// Why the download zoom was lowered, for the status line and the field's tip.
QString loweredText(int limit, int currentZoom);

} // namespace DownloadZoomRule
