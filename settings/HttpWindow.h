#pragma once

#include <QDialog>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The proxy credentials dialog: asks for user name, password and port of the
// proxy the system reports and proves them by fetching one map tile through
// that proxy. Accepts itself only after a test download got through.
class HttpWindow : public QDialog
{
    Q_OBJECT

public:
    explicit HttpWindow(QWidget *parent = nullptr);
    ~HttpWindow() override;
    Q_DISABLE_COPY(HttpWindow)

    // "Connect to <proxyHost>" and the prompt naming host; focus on the first empty edit.
    void preparePrompt(const QString &host);
    // Starts the test download with these credentials (the edits stay as
    // they are) and returns at once; tested() tells how it ended.
    void testCredentials(const QString &user, const QString &password, int port);

    QString userName() const { return proxyUser; }
    QString password() const { return proxyPassword; }

    // How long a silent test is waited for before the prompt is shown (its
    // answer still counts when it comes later).
    static constexpr int TestWaitMs = 2000;
    // A test without an answer within this time has failed: the proxy took
    // the connection and said nothing.
    static constexpr int AnswerWaitMs = 10000;
    int answerWaitMs = AnswerWaitMs;
    // The test tile's address on the configured standard tile server.
    static QUrl testTileUrl();

    // Set by the caller before preparePrompt.
    QString proxyHost;
    int proxyPort = 80;
    bool useProxy = true;
    bool saveCredentials = true;
    bool askAgain = false;
    bool connected = false;

signals:
    // A test download ended: proved (connected), refused, failed or timed out.
    void tested(bool connected);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void downloadFile();
    void cancelDownload();
    void httpRequestFinished(int requestId, bool error);
    void readResponseHeader(const QByteArray &responseHeader);
    void updateDataReadProgress(qint64 bytesRead, qint64 totalBytes);
    void enableDownloadButton();
    void changeProxy();
    void changeCredentials();
    void updateProxyPassword();
    void updateProxyPort();
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void error(QNetworkReply::NetworkError code);
    void finished();

private:
    void startTest();
    void dropReply();
    void answerTimedOut();
    void showFailure(const QString &text);

    QLabel *statusLabel = nullptr;
    QLabel *userLabel = nullptr;
    QLabel *passwordLabel = nullptr;
    QLabel *portLabel = nullptr;
    QLineEdit *userEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QLineEdit *portEdit = nullptr;
    QPushButton *okButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
    QCheckBox *proxyBox = nullptr;
    QCheckBox *credentialsBox = nullptr;
    QNetworkAccessManager networkManager;
    // The newest test only; an earlier one still running is dropped.
    QPointer<QNetworkReply> reply;
    QTimer *answerTimer = nullptr;
    bool timedOut = false;
    // A failure of a silent test, told once the dialog is shown.
    QString pendingFailure;
    bool canceled = false;
    QString proxyUser;
    QString proxyPassword;
};
