#pragma once

#include "settings/ProxySettings.h"

#include <QString>
#include <QUrl>

#include <functional>

class ProxyEnvironment;

// The main window's proxy fields, as the detection reads and leaves them.
struct ProxyState
{
    QString host;
    QString user;
    QString password; // plain text, in memory only
    int port = 80;
    bool useProxy = false;
    bool askProxy = true; // the next detection consults the store and may ask
};

// The proxy credentials kept in the program's settings store.
struct StoredProxyCredentials
{
    int port = 0; // 0: missing, or not a port at all
    bool portUnusable = false; // stored, but outside 1 ... 65535
    bool useProxy = false;
    QString user;
    QString password; // deciphered; empty when missing or when it does not decipher
};

// Decides, once per detection, which proxy the program follows: asks the
// system for the proxy of the source's address, reuses a configuration that
// still stands, tests stored credentials silently, asks the user, and saves
// what the user proved and wants kept.
namespace ProxyDetection {

// The address whose proxy counts, with the scheme, host and port the requests
// use: the listed server (sources 3 and up; a bare host name is asked as
// http), otherwise the configured standard tile server, so a proxy exception
// for it is honoured.
QUrl queryAddress(int sourceKind, const QString &sourceFolder, const QString &standardTileUrl);

// The system's proxy for the address; when that is "no proxy", the
// application-level answer. Empty when neither names a proxy.
QString systemProxyHost(const QUrl &query);

StoredProxyCredentials readStoredCredentials();
// Writes UserName, Password (enciphered), ProxyPort and UseProxy, in this order.
void saveCredentials(const QString &user, const QString &password, int port, bool useProxy);

// What a detection ends with: the fields it left, and the proxy to apply
// program-wide (enabled exactly when a proxy is in force afterwards).
using Finished = std::function<void(const ProxyState &, const ProxySettings &)>;

// One detection from state. done runs once, at once when nothing needs to be
// tested or asked, otherwise when the environment answers; the environment
// must outlive the detection.
void configure(const ProxyState &state, const QUrl &query, ProxyEnvironment &environment, Finished done);

} // namespace ProxyDetection
