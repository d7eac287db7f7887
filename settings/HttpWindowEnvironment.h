#pragma once

#include "settings/HttpWindow.h"
#include "settings/ProxyEnvironment.h"

#include <QPointer>

class QWidget;

// The proxy detection's environment in the program: the system's proxy
// configuration, and HttpWindow for the silent test and the question. The
// dialog is a child of the given window; when that window goes away during a
// wait, the dialog goes with it and every later step answers "rejected".
class HttpWindowEnvironment : public ProxyEnvironment
{
public:
    explicit HttpWindowEnvironment(QWidget *parent);
    ~HttpWindowEnvironment() override;
    Q_DISABLE_COPY(HttpWindowEnvironment)

    void openPrompt(const QString &proxyHost) override;
    ProxyPromptOutcome testCredentials(const QString &user, const QString &password, int port) override;
    ProxyPromptOutcome askUser() override;
    void closePrompt() override;

    HttpWindow *prompt() const { return m_dialog; }

private:
    ProxyPromptOutcome outcome(bool accepted) const;

    QPointer<QWidget> m_parent;
    QPointer<HttpWindow> m_dialog;
};
