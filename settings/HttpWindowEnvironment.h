#pragma once

#include "settings/HttpWindow.h"
#include "settings/ProxyEnvironment.h"

#include <QPointer>

class QTimer;
class QWidget;

// The proxy detection's environment in the program: the system's proxy
// configuration, and HttpWindow for the silent test and the question. The
// dialog is a child of the given window and is shown without a nested event
// loop; when that window goes away meanwhile, the dialog goes with it and no
// answer comes any more.
class HttpWindowEnvironment : public ProxyEnvironment
{
public:
    explicit HttpWindowEnvironment(QWidget *parent);
    ~HttpWindowEnvironment() override;
    Q_DISABLE_COPY(HttpWindowEnvironment)

    void openPrompt(const QString &proxyHost) override;
    void testCredentials(const QString &user, const QString &password, int port, Answer done) override;
    void askUser(Answer done) override;
    void closePrompt() override;

    HttpWindow *prompt() const { return m_dialog; }

private:
    ProxyPromptOutcome outcome(bool accepted) const;

    QPointer<QWidget> m_parent;
    QPointer<HttpWindow> m_dialog;
    // The silent test's wait and its connection; the one answer it gives.
    QTimer *m_silentWait = nullptr;
    QMetaObject::Connection m_silentTest;
    Answer m_silentAnswer;
};
