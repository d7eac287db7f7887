#include "settings/QUrlLan.h"

#include "settings/ServerList.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QUrl>
#include <QVBoxLayout>

QUrlLan::QUrlLan(QWidget *parent, bool httpMode, int source)
    : QDialog(parent, Qt::WindowFlags(0x37))
    , sourceIndex(source)
    , downloadMode(httpMode)
{
    setModal(true);
    setWindowTitle(tr("Source settings"));

    connectLabel = new QLabel(tr("&Connect to tiles server:"), this);
    editLabel = new QLabel(tr("&Edit tiles server:"), this);
    comboBox = new QComboBox(this);
    comboBox->setEditable(false);
    lineEdit = new QLineEdit(this);
    okButton = new QPushButton(tr("OK"), this);
    okButton->setDefault(true);
    cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setAutoDefault(false);
    addButton = new QPushButton(tr("Add"), this);
    addButton->setAutoDefault(true);
    buttonBox = new QDialogButtonBox(this);
    buttonBox->addButton(addButton, QDialogButtonBox::ActionRole);
    buttonBox->addButton(okButton, QDialogButtonBox::ActionRole);
    buttonBox->addButton(cancelButton, QDialogButtonBox::RejectRole);
    httpBox = new QCheckBox(tr("use Http connection"), this);
    httpBox->setChecked(downloadMode);
    connectLabel->setBuddy(comboBox);
    editLabel->setBuddy(lineEdit);

    connectLabel->setObjectName(QStringLiteral("connectLabel"));
    editLabel->setObjectName(QStringLiteral("editLabel"));
    comboBox->setObjectName(QStringLiteral("comboBox"));
    lineEdit->setObjectName(QStringLiteral("lineEdit"));
    okButton->setObjectName(QStringLiteral("okButton"));
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    addButton->setObjectName(QStringLiteral("addButton"));
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    httpBox->setObjectName(QStringLiteral("httpBox"));

    comboBox->addItem(tr("Mapnik"), 0);
    comboBox->addItem(tr("Seamarks"), 1);
    comboBox->addItem(tr("SRTM elevation tiles (90m)"), 2);
    {
        const auto store = SettingsKeys::openProgramStore();
        const QStringList servers = ServerList::read(*store);
        for (const QString &server : servers)
            comboBox->addItem(server, comboBox->count());
    }

    auto *layout = new QVBoxLayout(this);
    auto *connectRow = new QVBoxLayout;
    connectRow->addWidget(connectLabel);
    connectRow->addWidget(comboBox);
    auto *editRow = new QVBoxLayout;
    editRow->addWidget(editLabel);
    editRow->addWidget(lineEdit);
    editRow->addWidget(httpBox);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(buttonBox);
    buttonRow->addItem(new QSpacerItem(20, 10, QSizePolicy::Ignored, QSizePolicy::MinimumExpanding));
    layout->addLayout(connectRow);
    layout->addLayout(editRow);
    layout->addLayout(buttonRow);
    layout->addItem(new QSpacerItem(10, 10, QSizePolicy::Ignored, QSizePolicy::MinimumExpanding));

    connect(addButton, &QPushButton::clicked, this, &QUrlLan::changeSource);
    connect(okButton, &QPushButton::clicked, this, &QUrlLan::changeSettings);
    connect(cancelButton, &QPushButton::clicked, this, &QUrlLan::close);
    connect(httpBox, &QCheckBox::clicked, this, &QUrlLan::changeHttp);
    connect(comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &QUrlLan::slotSelectionChanged);
}

QUrlLan::~QUrlLan() = default;

void QUrlLan::presetSource(const QString &server, const QString &folder, int source)
{
    sourceIndex = source;
    if (downloadMode) {
        if (!server.isEmpty()) {
            const int index = comboBox->count();
            comboBox->addItem(server, source >= 3 ? source : index);
        }
        // An index the combo box no longer has would leave it without a
        // current entry, and OK would then choose nothing sensible.
        if (source >= 0 && source < comboBox->count())
            comboBox->setCurrentIndex(source);
    } else {
        lineEdit->setText(folder);
    }
    showMode();
}

void QUrlLan::addThemeServer(const QString &name, const QString &host, const QString &protocol,
                             const QString &path, const QString &query, const QString &serverType, int port)
{
    const int n = comboBox->count();
    if (n > 0 && comboBox->itemText(n - 1) == name)
        return;
    if (port > 0)
        comboBox->addItem(name, n);
    themePath = path;
    themeServerType = serverType;
    themeQuery = query;
    themeHost = host;
    themeProtocol = protocol;
    themeIndex = n;
}

void QUrlLan::showThemeServer()
{
    if (themeIndex >= 0 && themeIndex < comboBox->count())
        comboBox->setCurrentIndex(themeIndex);
}

// Labels and the combo box follow the mode; the line edit keeps its text.
void QUrlLan::showMode()
{
    if (downloadMode) {
        editLabel->setText(tr("&Edit tiles server:"));
        addButton->setText(tr("Add"));
    } else {
        editLabel->setText(tr("&Copy tiles from folder:"));
        addButton->setText(tr("&Browse"));
    }
    comboBox->setEnabled(downloadMode);
}

void QUrlLan::changeHttp()
{
    downloadMode = !downloadMode;
    showMode();
}

void QUrlLan::slotSelectionChanged(int index)
{
    if (index != themeIndex) {
        // The theme's host was put there by the dialog, not typed: it must not
        // turn the entry chosen now into a typed server.
        if (!lineEdit->isEnabled() && !themeHost.isEmpty() && lineEdit->text() == themeHost)
            lineEdit->clear();
        lineEdit->setEnabled(true);
        tileLayout = true;
        return;
    }
    if (themeServerType == QLatin1String("WebMapService"))
        tileLayout = false;
    else if (themeServerType == QLatin1String("OpenStreetMap") || themeServerType == QLatin1String("Custom"))
        tileLayout = true;
    lineEdit->setText(themeHost);
    lineEdit->setEnabled(false);
}

void QUrlLan::takeAddress(const QString &text)
{
    // A text without a scheme gives an empty host and all of it as the path.
    const QUrl url(text, QUrl::TolerantMode);
    chosenHost = url.host();
    chosenPath = url.path();
}

void QUrlLan::changeSource()
{
    if (!downloadMode) {
        const QString folder = QFileDialog::getExistingDirectory(
            this, tr("Select source folder to copy OSM Tiles from"), chosenHost, QFileDialog::ShowDirsOnly);
        if (!folder.isEmpty()) {
            lineEdit->setText(folder);
            chosenHost = folder;
        }
        return;
    }
    const int n = comboBox->count();
    const QString text = lineEdit->text();
    if (text.isEmpty())
        return;
    {
        const auto store = SettingsKeys::openProgramStore();
        if (ServerList::add(*store, text) == 0) {
            // Nothing is overwritten; the typed address still serves this choice.
            QMessageBox::information(this, tr("Source settings"),
                                     tr("The server list is full (%1 entries); %2 was not saved.")
                                         .arg(ServerList::MaxEntries)
                                         .arg(text));
            return;
        }
    }
    comboBox->addItem(text, n);
    comboBox->setCurrentIndex(n);
    takeAddress(text);
    sourceIndex = n;
    serverAdded = true;
}

void QUrlLan::changeSettings()
{
    if (downloadMode) {
        sourceIndex = comboBox->currentData().toInt();
        chosenText = comboBox->currentText();
        if (sourceIndex < 2)
            tileLayout = true;
        const QString typed = lineEdit->text();
        if (!typed.isEmpty() && !serverAdded) {
            if (sourceIndex == themeIndex) {
                chosenPath = themePath;
                chosenHost = themeHost;
            } else {
                // The address typed without Add is the server chosen.
                sourceIndex = comboBox->count();
                chosenText = typed;
                takeAddress(typed);
            }
        }
    } else {
        sourceIndex = -1;
        chosenText = lineEdit->text();
    }
    accept();
}
