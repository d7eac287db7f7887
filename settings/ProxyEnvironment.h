#pragma once

#include <QString>

class QUrl;

// What the credentials prompt ended with, or what a silent test of stored
// credentials gave.
struct ProxyPromptOutcome
{
    bool accepted = false;  // the prompt ended accepted (only after a proved test)
    bool connected = false; // a test download got through the proxy
    QString user;
    QString password;
    int port = 80;
    bool useProxy = true;        // "use this proxy " stayed checked
    bool saveCredentials = true; // "save credentials" stayed checked
    bool askAgain = false;
};

// The world the proxy detection talks to: the system's proxy configuration,
// the proxy itself (a test download) and the user (the credentials prompt).
// The prompt is opened once per detection, may run a silent test and then be
// shown, and is closed before the detection returns.
class ProxyEnvironment
{
public:
    virtual ~ProxyEnvironment() = default;

    // Host name of the proxy the system would use for this address; empty for none.
    virtual QString systemProxyHost(const QUrl &query);

    virtual void openPrompt(const QString &proxyHost) = 0;
    // Tests the credentials without showing anything; returns after the test's wait.
    virtual ProxyPromptOutcome testCredentials(const QString &user, const QString &password, int port) = 0;
    // Shows the prompt and waits for the user (or a late test answer).
    virtual ProxyPromptOutcome askUser() = 0;
    virtual void closePrompt() = 0;
};
