#pragma once

#include <QDir>
#include <QString>

// Where a test keeps a screenshot for people to look at: test-shots/ in the
// build folder. A fixed name in the shared temporary folder may already be
// another user's file (or link), which a second user's run cannot replace.
inline QString testShotPath(const QString &name)
{
    const QDir dir(QStringLiteral(TW_RUNTIME_DIR "/../test-shots"));
    dir.mkpath(QStringLiteral("."));
    return QDir::cleanPath(dir.absoluteFilePath(name));
}
