#include "settings/HttpWindowEnvironment.h"

#include "settings/HttpWindow.h"

#include <QTimer>

HttpWindowEnvironment::HttpWindowEnvironment(QWidget *parent)
    : m_parent(parent)
{
}

HttpWindowEnvironment::~HttpWindowEnvironment()
{
    // Gone with the detection: the dialog goes at once and answers no one.
    m_silentAnswer = nullptr;
    if (m_dialog) {
        m_dialog->disconnect();
        delete m_dialog.data();
    }
    delete m_silentWait;
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

void HttpWindowEnvironment::testCredentials(const QString &user, const QString &password, int port, Answer done)
{
    if (!m_dialog) {
        done(ProxyPromptOutcome());
        return;
    }
    m_silentAnswer = std::move(done);
    // The first of: the test ends, or the wait is over (a later proof still
    // accepts the dialog that is shown by then).
    auto answerOnce = [this](bool proved) {
        QObject::disconnect(m_silentTest);
        if (m_silentWait)
            m_silentWait->stop();
        if (!m_silentAnswer)
            return;
        Answer answer = std::move(m_silentAnswer);
        m_silentAnswer = nullptr;
        answer(outcome(proved));
    };
    m_silentTest = QObject::connect(m_dialog, &HttpWindow::tested, m_dialog, answerOnce);
    if (!m_silentWait) {
        m_silentWait = new QTimer;
        m_silentWait->setSingleShot(true);
    }
    m_silentWait->disconnect();
    QObject::connect(m_silentWait, &QTimer::timeout, m_silentWait, [answerOnce] { answerOnce(false); });
    m_silentWait->start(HttpWindow::TestWaitMs);
    m_dialog->testCredentials(user, password, port);
}

void HttpWindowEnvironment::askUser(Answer done)
{
    if (!m_dialog) {
        done(ProxyPromptOutcome());
        return;
    }
    QObject::connect(m_dialog, &QDialog::finished, m_dialog, [this, done](int result) {
        done(outcome(result == QDialog::Accepted));
    });
    m_dialog->show();
}

void HttpWindowEnvironment::closePrompt()
{
    m_silentAnswer = nullptr;
    if (m_silentWait)
        m_silentWait->stop();
    if (!m_dialog)
        return;
    // Closed from inside its own signals: it goes once they have returned.
    m_dialog->disconnect();
    m_dialog->hide();
    m_dialog->deleteLater();
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
