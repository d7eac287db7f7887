#include "settings/HttpWindow.h"

#include "settings/AppConfig.h"
#include "settings/TlsTrust.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QPushButton>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QSpacerItem *gap(int width = 10, int height = 10)
{
    return new QSpacerItem(width, height, QSizePolicy::Ignored, QSizePolicy::MinimumExpanding);
}

} // namespace

HttpWindow::HttpWindow(QWidget *parent)
    : QDialog(parent, Qt::WindowFlags(0x37))
{
    setModal(true);

    statusLabel = new QLabel(tr("Please enter Username and Password "), this);
    userLabel = new QLabel(tr("&User name:"), this);
    passwordLabel = new QLabel(tr("&Password:"), this);
    portLabel = new QLabel(tr("P&ort:"), this);
    userEdit = new QLineEdit(this);
    userEdit->setFixedWidth(100);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setFixedWidth(100);
    passwordEdit->setEchoMode(QLineEdit::Password);
    portEdit = new QLineEdit(QStringLiteral("80"), this);
    portEdit->setFixedWidth(30);
    userLabel->setBuddy(userEdit);
    passwordLabel->setBuddy(passwordEdit);
    portLabel->setBuddy(portEdit);

    okButton = new QPushButton(tr("OK"), this);
    okButton->setDefault(true);
    okButton->setEnabled(false);
    cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setAutoDefault(false);
    buttonBox = new QDialogButtonBox(this);
    buttonBox->addButton(okButton, QDialogButtonBox::ActionRole);
    buttonBox->addButton(cancelButton, QDialogButtonBox::RejectRole);

    proxyBox = new QCheckBox(tr("use this proxy "), this);
    proxyBox->setChecked(true);
    credentialsBox = new QCheckBox(tr("save credentials"), this);
    credentialsBox->setChecked(true);

    auto *fields = new QHBoxLayout;
    fields->setSpacing(0);
    fields->addWidget(userLabel);
    fields->addWidget(userEdit);
    fields->addItem(gap());
    fields->addWidget(passwordLabel);
    fields->addWidget(passwordEdit);
    fields->addItem(gap());
    fields->addWidget(portLabel);
    fields->addWidget(portEdit);
    fields->addItem(gap());
    auto *choices = new QHBoxLayout;
    choices->addWidget(proxyBox);
    choices->addWidget(credentialsBox);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(buttonBox);
    buttons->addItem(gap());
    auto *main = new QVBoxLayout(this);
    main->addWidget(statusLabel);
    main->addLayout(fields);
    main->addLayout(choices);
    main->addLayout(buttons);
    main->addItem(gap(300, 20));

    connect(userEdit, &QLineEdit::textChanged, this, &HttpWindow::enableDownloadButton);
    connect(passwordEdit, &QLineEdit::textChanged, this, &HttpWindow::updateProxyPassword);
    connect(portEdit, &QLineEdit::textChanged, this, &HttpWindow::updateProxyPort);
    connect(okButton, &QPushButton::clicked, this, &HttpWindow::downloadFile);
    connect(cancelButton, &QPushButton::clicked, this, &HttpWindow::close);
    connect(credentialsBox, &QCheckBox::clicked, this, &HttpWindow::changeCredentials);
    connect(proxyBox, &QCheckBox::clicked, this, &HttpWindow::changeProxy);

    // Named, so tests (and accessibility tools) find each part.
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    userLabel->setObjectName(QStringLiteral("userLabel"));
    passwordLabel->setObjectName(QStringLiteral("passwordLabel"));
    portLabel->setObjectName(QStringLiteral("portLabel"));
    userEdit->setObjectName(QStringLiteral("userEdit"));
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    portEdit->setObjectName(QStringLiteral("portEdit"));
    okButton->setObjectName(QStringLiteral("okButton"));
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    proxyBox->setObjectName(QStringLiteral("proxyBox"));
    credentialsBox->setObjectName(QStringLiteral("credentialsBox"));
    answerTimer = new QTimer(this);
    answerTimer->setSingleShot(true);
    connect(answerTimer, &QTimer::timeout, this, &HttpWindow::answerTimedOut);
}

HttpWindow::~HttpWindow()
{
    dropReply();
}

QUrl HttpWindow::testTileUrl()
{
    // Scheme, host and port of the configured server: the tile the map would
    // fetch first, through the same proxy.
    QString text = AppConfig::instance().osmTileUrl.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("https://"));
    const QUrl configured(text, QUrl::TolerantMode);
    QUrl url;
    url.setScheme(configured.scheme());
    url.setHost(configured.host());
    url.setPort(configured.port());
    url.setPath(QStringLiteral("/7/63/42.png"));
    return url;
}

void HttpWindow::preparePrompt(const QString &host)
{
    setWindowTitle(tr("Connect to ") + proxyHost);
    statusLabel->setText(tr("The server %1 requires a username and password.").arg(host));
    if (!proxyUser.isEmpty()) {
        userEdit->setText(proxyUser);
        passwordEdit->setFocus();
    } else {
        userEdit->setFocus();
    }
}

void HttpWindow::testCredentials(const QString &user, const QString &password, int port)
{
    proxyUser = user;
    proxyPassword = password;
    proxyPort = port;
    startTest();
}

void HttpWindow::downloadFile()
{
    proxyUser = userEdit->text();
    startTest();
}

void HttpWindow::startTest()
{
    networkManager.setProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, proxyHost, quint16(proxyPort), proxyUser, proxyPassword));
    QNetworkRequest request(testTileUrl());
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    request.setRawHeader("User-Agent", "Tilewright");
#ifndef QT_NO_SSL
    // The tile server is trusted as the map trusts it, in-house CA included.
    request.setSslConfiguration(TlsTrust::configuration());
#endif
    // Only the newest test counts.
    dropReply();
    reply = networkManager.get(request);
    connect(reply, &QNetworkReply::finished, this, &HttpWindow::finished);
    canceled = false;
    timedOut = false;
    okButton->setEnabled(false);
    answerTimer->start(answerWaitMs);
}

void HttpWindow::answerTimedOut()
{
    if (!reply)
        return;
    timedOut = true;
    reply->abort(); // finished() follows and tells the failure
}

void HttpWindow::finished()
{
    auto *answer = qobject_cast<QNetworkReply *>(sender());
    if (!answer)
        return;
    if (answer != reply) {
        // An earlier test, superseded by a newer one.
        answer->disconnect(this);
        answer->deleteLater();
        return;
    }
    if (canceled)
        return;
    answerTimer->stop();
    const QNetworkReply::NetworkError code = answer->error();
    const QVariant status = answer->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Any answer of the tile server came through the proxy, so the proxy took
    // the credentials; only the proxy's own 407 refuses them.
    const bool proved = code == QNetworkReply::NoError
                        || (status.isValid() && status.toInt() != 407
                            && code != QNetworkReply::ProxyAuthenticationRequiredError);
    const QString errorText = timedOut ? tr("the proxy did not answer within %1 seconds").arg(answerWaitMs / 1000.0)
                                       : answer->errorString();
    dropReply();
    if (proved) {
        connected = true;
    } else {
        proxyPassword.clear();
        passwordEdit->clear();
    }
    okButton->setEnabled(true);
    if (!proved)
        showFailure(tr("Connection failed, error: %1.").arg(errorText));
    QPointer<HttpWindow> self(this);
    emit tested(proved);
    if (self && connected)
        done(QDialog::Accepted);
}

// The failure is told without waiting for the box to be closed; a silent
// test's failure waits until the dialog is shown, so the box is on top.
void HttpWindow::showFailure(const QString &text)
{
    if (!isVisible()) {
        pendingFailure = text;
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Information, tr("Proxy"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

void HttpWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (pendingFailure.isEmpty())
        return;
    const QString text = pendingFailure;
    pendingFailure.clear();
    // After the dialog is on screen, so the box comes up above it.
    QTimer::singleShot(0, this, [this, text] { showFailure(text); });
}

void HttpWindow::dropReply()
{
    if (!reply)
        return;
    QNetworkReply *old = reply;
    reply = nullptr;
    old->disconnect(this);
    if (old->isRunning())
        old->abort();
    old->deleteLater();
}

void HttpWindow::cancelDownload()
{
}

void HttpWindow::httpRequestFinished(int, bool)
{
}

void HttpWindow::readResponseHeader(const QByteArray &)
{
}

void HttpWindow::updateDataReadProgress(qint64, qint64)
{
}

void HttpWindow::enableDownloadButton()
{
    okButton->setEnabled(!userEdit->text().isEmpty() && !passwordEdit->text().isEmpty());
}

void HttpWindow::changeProxy()
{
    useProxy = !useProxy;
    proxyBox->setChecked(useProxy);
}

void HttpWindow::changeCredentials()
{
    saveCredentials = !saveCredentials;
    credentialsBox->setChecked(saveCredentials);
}

void HttpWindow::updateProxyPassword()
{
    proxyPassword = passwordEdit->text();
    enableDownloadButton();
}

void HttpWindow::updateProxyPort()
{
    bool ok = false;
    const int port = portEdit->text().toInt(&ok, 10);
    // Text that is no TCP port tests against port 0, which fails, rather than
    // against whatever port the number would wrap to.
    proxyPort = ok && port >= 1 && port <= 65535 ? port : 0;
}

void HttpWindow::downloadProgress(qint64, qint64)
{
}

void HttpWindow::error(QNetworkReply::NetworkError)
{
}
