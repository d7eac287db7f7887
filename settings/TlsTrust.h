#pragma once

#include <QSslConfiguration>

// The certificates the program's own Qt requests trust: the system's, and
// those of the CA file named in TILEWRIGHT_CA_BUNDLE, so an in-house CA that
// the map is told to trust is trusted by every other request too.
namespace TlsTrust {

#ifndef QT_NO_SSL
QSslConfiguration configuration();
#endif

} // namespace TlsTrust
