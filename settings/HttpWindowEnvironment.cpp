#include "settings/HttpWindowEnvironment.h"

#include "settings/HttpWindow.h"

HttpWindowEnvironment::HttpWindowEnvironment(QWidget *parent)
    : m_parent(parent)
{
}

HttpWindowEnvironment::~HttpWindowEnvironment()
{
    closePrompt();
}

void HttpWindowEnvironment::openPrompt(const QString &proxyHost)
{
    closePrompt();
    if (!m_parent)
        return;
    m_dialog = new HttpWindow(m_parent);
    m_dialog->proxyHost = proxyHost;
    m_dialog->preparePrompt(proxyHost);
}

ProxyPromptOutcome HttpWindowEnvironment::testCredentials(const QString &user, const QString &password, int port)
{
    if (!m_dialog)
        return ProxyPromptOutcome();
    m_dialog->testCredentials(user, password, port);
    return outcome(m_dialog && m_dialog->connected);
}

ProxyPromptOutcome HttpWindowEnvironment::askUser()
{
    if (!m_dialog)
        return ProxyPromptOutcome();
    const int result = m_dialog->exec();
    return outcome(result == QDialog::Accepted);
}

void HttpWindowEnvironment::closePrompt()
{
    delete m_dialog.data();
    m_dialog = nullptr;
}

ProxyPromptOutcome HttpWindowEnvironment::outcome(bool accepted) const
{
    ProxyPromptOutcome answer;
    if (!m_dialog)
        return answer; // gone with its window: nothing was proved
    answer.accepted = accepted;
    answer.connected = m_dialog->connected;
    answer.user = m_dialog->userName();
    answer.password = m_dialog->password();
    answer.port = m_dialog->proxyPort;
    answer.useProxy = m_dialog->useProxy;
    answer.saveCredentials = m_dialog->saveCredentials;
    answer.askAgain = m_dialog->askAgain;
    return answer;
}
