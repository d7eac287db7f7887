#pragma once

#include <QString>

#include <functional>

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
// shown, and is closed before the detection ends. Tests and the prompt answer
// through the callbacks, at once or later from the event loop; nothing waits.
class ProxyEnvironment
{
public:
    using Answer = std::function<void(const ProxyPromptOutcome &)>;

    virtual ~ProxyEnvironment() = default;

    // Host name of the proxy the system would use for this address; empty for none.
    virtual QString systemProxyHost(const QUrl &query);

    virtual void openPrompt(const QString &proxyHost) = 0;
    // Tests the credentials without showing anything; answers once they are
    // proved, or when the test failed or its silent wait is over.
    virtual void testCredentials(const QString &user, const QString &password, int port, Answer done) = 0;
    // Shows the prompt and answers when it ends (by the user or a late test answer).
    virtual void askUser(Answer done) = 0;
    virtual void closePrompt() = 0;
};
