#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Source settings" dialog: the built-in sources, the user's saved tile
// servers and an imported map theme in one combo box, an address or folder in
// the line edit, and the choice between downloading and copying from a folder.
// Servers added with Add are saved at once, whatever the dialog ends with.
class QUrlLan : public QDialog
{
    Q_OBJECT

public:
    QUrlLan(QWidget *parent, bool downloadMode, int sourceIndex);
    ~QUrlLan() override;
    Q_DISABLE_COPY(QUrlLan)

    // Offers the current choice: the server as an extra entry (download mode)
    // or the folder in the line edit (copy mode).
    void presetSource(const QString &server, const QString &folder, int source);
    // Offers the imported theme as the last entry (only with a port above 0;
    // themeIndex is set either way).
    void addThemeServer(const QString &name, const QString &host, const QString &protocol, const QString &path,
                        const QString &query, const QString &serverType, int port);
    // Opens on the theme's entry, when addThemeServer made one.
    void showThemeServer();

    // Composes the request address of one tile for a typed server, shown as
    // an example under the line edit.
    void setRequestExample(const std::function<QString(const QString &)> &example);

    QString sourceText() const { return chosenText; }
    QString serverHost() const { return chosenHost; }
    QString serverPath() const { return chosenPath; }

private slots:
    void changeSettings();
    void changeSource();
    void changeHttp();
    void slotSelectionChanged(int index);
    void removeServer();

private:
    void showMode();
    void takeAddress(const QString &text);
    void showExample();
    int listedNumber(int index) const;

    QLabel *connectLabel = nullptr;
    QLabel *editLabel = nullptr;
    QComboBox *comboBox = nullptr;
    QLineEdit *lineEdit = nullptr;
    QPushButton *okButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *addButton = nullptr;
    QPushButton *removeButton = nullptr;
    QLabel *exampleLabel = nullptr;
    std::function<QString(const QString &)> requestExample;
    int listedCount = 0;
    QDialogButtonBox *buttonBox = nullptr;
    QCheckBox *httpBox = nullptr;
    QString chosenText;  // sourceText
    QString chosenHost;  // serverHost
    QString chosenPath;  // serverPath

public:
    int sourceIndex = 0;
    bool downloadMode = true;
    bool serverAdded = false;
    bool tileLayout = false;
    int themeIndex = -1;

private:
    QString themePath;
    QString themeServerType;
    QString themeQuery;
    QString themeHost;
    QString themeProtocol;
};
