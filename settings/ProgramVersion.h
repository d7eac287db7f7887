#pragma once

#include <QByteArray>
#include <QString>

// The program's version text ("5.15"), taken from the build's project version.
namespace ProgramVersion {

inline QString text() { return QStringLiteral(TILEWRIGHT_VERSION_TEXT); }

// The user agent of download jobs: maker, product and version.
inline QByteArray jobUserAgent() { return QByteArrayLiteral("Corvane Tilewright " TILEWRIGHT_VERSION_TEXT); }

} // namespace ProgramVersion
