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
    removeButton = new QPushButton(tr("Remove"), this);
    removeButton->setAutoDefault(false);
    removeButton->setToolTip(tr("Removes the chosen server from your list"));
    exampleLabel = new QLabel(this);
    exampleLabel->setWordWrap(true);
    exampleLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    buttonBox = new QDialogButtonBox(this);
    buttonBox->addButton(addButton, QDialogButtonBox::ActionRole);
    buttonBox->addButton(removeButton, QDialogButtonBox::ActionRole);
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
    removeButton->setObjectName(QStringLiteral("removeButton"));
    exampleLabel->setObjectName(QStringLiteral("exampleLabel"));
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
        listedCount = servers.size();
    }

    auto *layout = new QVBoxLayout(this);
    auto *connectRow = new QVBoxLayout;
    connectRow->addWidget(connectLabel);
    connectRow->addWidget(comboBox);
    auto *editRow = new QVBoxLayout;
    editRow->addWidget(editLabel);
    editRow->addWidget(lineEdit);
    editRow->addWidget(exampleLabel);
    editRow->addWidget(httpBox);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(buttonBox);
    buttonRow->addItem(new QSpacerItem(20, 10, QSizePolicy::Ignored, QSizePolicy::MinimumExpanding));
    layout->addLayout(connectRow);
    layout->addLayout(editRow);
    layout->addLayout(buttonRow);
    layout->addItem(new QSpacerItem(10, 10, QSizePolicy::Ignored, QSizePolicy::MinimumExpanding));

    connect(addButton, &QPushButton::clicked, this, &QUrlLan::changeSource);
    connect(removeButton, &QPushButton::clicked, this, &QUrlLan::removeServer);
    connect(lineEdit, &QLineEdit::textChanged, this, &QUrlLan::showExample);
    connect(okButton, &QPushButton::clicked, this, &QUrlLan::changeSettings);
    connect(cancelButton, &QPushButton::clicked, this, &QUrlLan::close);
    connect(httpBox, &QCheckBox::clicked, this, &QUrlLan::changeHttp);
    connect(comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &QUrlLan::slotSelectionChanged);
}

QUrlLan::~QUrlLan() = default;

void QUrlLan::setRequestExample(const std::function<QString(const QString &)> &example)
{
    requestExample = example;
    showExample();
}

// The address a download would ask for, so a typo shows before any job.
void QUrlLan::showExample()
{
    const QString typed = lineEdit->text().trimmed();
    const bool shown = downloadMode && requestExample && !typed.isEmpty() && lineEdit->isEnabled();
    exampleLabel->setText(shown ? tr("A tile is requested as %1").arg(requestExample(ServerList::downloadForm(typed)))
                                : QString());
    exampleLabel->setVisible(shown);
}

// The number of a listed server's entry in the saved list; 0 for any other entry.
int QUrlLan::listedNumber(int index) const
{
    const int number = index - 2;
    return number >= 1 && number <= listedCount ? number : 0;
}

void QUrlLan::removeServer()
{
    const int index = comboBox->currentIndex();
    const int number = listedNumber(index);
    if (number == 0)
        return;
    {
        const auto store = SettingsKeys::openProgramStore();
        if (!ServerList::remove(*store, number))
            return;
    }
    --listedCount;
    comboBox->removeItem(index);
    // Entries after it move up one place, and their numbers with them.
    for (int i = index; i < comboBox->count(); ++i)
        comboBox->setItemData(i, i);
    if (themeIndex > index)
        --themeIndex;
    if (sourceIndex > index)
        --sourceIndex;
    else if (sourceIndex == index)
        sourceIndex = 0;
}

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
    removeButton->setEnabled(downloadMode && listedNumber(comboBox->currentIndex()) != 0);
    showExample();
}

void QUrlLan::changeHttp()
{
    downloadMode = !downloadMode;
    showMode();
}

void QUrlLan::slotSelectionChanged(int index)
{
    removeButton->setEnabled(downloadMode && listedNumber(index) != 0);
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
    // Stored in the form the download uses: the tile's zoom/x/y follows the "/".
    const QString text = ServerList::downloadForm(lineEdit->text());
    if (text.isEmpty())
        return;
    lineEdit->setText(text);
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
    // Right after the listed servers it is one of them (and may be removed).
    if (n == 3 + listedCount)
        ++listedCount;
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
