// The source settings dialog, run modally and answered by clicks and typing.

#include "settings/QUrlLan.h"
#include "settings/ServerList.h"
#include "settings/SettingsKeys.h"

#include "ModalAnswer.h"
#include "TestShots.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <functional>

namespace {

struct Dialog
{
    explicit Dialog(QUrlLan *d)
        : dialog(d)
        , combo(d->findChild<QComboBox *>(QStringLiteral("comboBox")))
        , edit(d->findChild<QLineEdit *>(QStringLiteral("lineEdit")))
        , editLabel(d->findChild<QLabel *>(QStringLiteral("editLabel")))
        , ok(d->findChild<QPushButton *>(QStringLiteral("okButton")))
        , cancel(d->findChild<QPushButton *>(QStringLiteral("cancelButton")))
        , add(d->findChild<QPushButton *>(QStringLiteral("addButton")))
        , http(d->findChild<QCheckBox *>(QStringLiteral("httpBox")))
    {
    }
    QStringList items() const
    {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i)
            list << QStringLiteral("%1=%2").arg(combo->itemText(i)).arg(combo->itemData(i).toInt());
        return list;
    }
    void type(const QString &text) const { QTest::keyClicks(edit, text); }
    void choose(Qt::Key key) const // the user picks an entry with the keyboard
    {
        combo->setFocus();
        QTest::keyClick(combo, key);
    }
    QUrlLan *dialog;
    QComboBox *combo;
    QLineEdit *edit;
    QLabel *editLabel;
    QPushButton *ok;
    QPushButton *cancel;
    QPushButton *add;
    QCheckBox *http;
};

// Runs the dialog modally; steps act on it while it is shown.
int run(QUrlLan &dialog, const std::function<void(const Dialog &)> &steps)
{
    answerNextModal<QUrlLan>([steps](QUrlLan *shown) { steps(Dialog(shown)); });
    return dialog.exec();
}

QStringList storedServers()
{
    const auto store = SettingsKeys::openProgramStore();
    QStringList list;
    const int n = SettingsKeys::ServerCount.read(*store);
    for (int i = 1; i <= n; ++i)
        list << SettingsKeys::server(i).read(*store);
    return list;
}

} // namespace

class TestUrlLan : public QObject
{
    Q_OBJECT

private slots:
    void init() { SettingsKeys::openProgramStore()->clear(); }
    void cleanupTestCase() { SettingsKeys::openProgramStore()->clear(); }

    void constructionAndItems_data();
    void constructionAndItems();
    void addSavesAtOnce();
    void addToAFullList();
    void typedAddressWithoutAdd();
    void themeEntry();
    void leavingTheThemeEntry();
    void addThemeServerRules();
    void presetSource();
    void copyMode();
    void screenshots_data();
    void screenshots();
};

void TestUrlLan::constructionAndItems_data()
{
    QTest::addColumn<QVariant>("count");
    QTest::addColumn<QStringList>("servers"); // "-": missing key
    QTest::addColumn<QStringList>("items");
    const QStringList builtIn{"Mapnik=0", "Seamarks=1", "SRTM elevation tiles (90m)=2"};
    QTest::newRow("no saved servers") << QVariant() << QStringList() << builtIn;
    QTest::newRow("first key missing") << QVariant(2) << QStringList{"-", "http://b/"}
                                       << builtIn + QStringList{"=3", "http://b/=4"};
    QTest::newRow("negative count") << QVariant(-7) << QStringList{"a"} << builtIn;
}

void TestUrlLan::constructionAndItems()
{
    QFETCH(QVariant, count);
    QFETCH(QStringList, servers);
    QFETCH(QStringList, items);
    {
        const auto store = SettingsKeys::openProgramStore();
        if (count.isValid())
            store->setValue(SettingsKeys::ServerCount.path(), count);
        for (int i = 0; i < servers.size(); ++i)
            if (servers[i] != QLatin1String("-"))
                SettingsKeys::server(i + 1).write(*store, servers[i]);
    }
    QWidget parent;
    QUrlLan dialog(&parent, true, 0);
    const Dialog d(&dialog);
    QCOMPARE(d.items(), items);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Source settings"));
    QCOMPARE(int(dialog.windowFlags() & Qt::WindowType_Mask), 0x37);
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.parentWidget(), &parent);
    QVERIFY(d.ok->isDefault() && !d.cancel->autoDefault() && d.add->autoDefault());
    QVERIFY(d.http->isChecked());
    QVERIFY(!d.combo->isEditable());
    QCOMPARE(d.editLabel->text(), QStringLiteral("&Edit tiles server:"));
    auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QCOMPARE(box->buttonRole(d.add), QDialogButtonBox::ActionRole);
    QCOMPARE(box->buttonRole(d.ok), QDialogButtonBox::ActionRole);
    QCOMPARE(box->buttonRole(d.cancel), QDialogButtonBox::RejectRole);
    QCOMPARE(dialog.themeIndex, -1);
    QVERIFY(!dialog.tileLayout);
}

// Add with an empty line does nothing; "a" twice gives two entries and two
// saved keys, which stay saved when the dialog is cancelled.
void TestUrlLan::addSavesAtOnce()
{
    QUrlLan dialog(nullptr, true, 0);
    const int result = run(dialog, [](const Dialog &d) {
        QTest::mouseClick(d.add, Qt::LeftButton);
        QCOMPARE(d.combo->count(), 3);
        d.type(QStringLiteral("a"));
        QTest::mouseClick(d.add, Qt::LeftButton);
        QTest::mouseClick(d.add, Qt::LeftButton);
        QCOMPARE(d.combo->currentIndex(), 4);
        QTest::mouseClick(d.cancel, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    // Saved in the form the download uses, with the "/" before zoom/x/y.
    QCOMPARE(Dialog(&dialog).items().mid(3), (QStringList{"a/=3", "a/=4"}));
    QVERIFY(dialog.serverAdded);
    QCOMPARE(storedServers(), (QStringList{"a/", "a/"}));

    // Offered again by the next dialog; an added server chosen with OK.
    QUrlLan next(nullptr, true, 0);
    QCOMPARE(run(next, [](const Dialog &d) {
                 d.type(QStringLiteral("http://127.0.0.1:8080/tiles/"));
                 QTest::mouseClick(d.add, Qt::LeftButton);
                 QTest::mouseClick(d.ok, Qt::LeftButton);
             }),
             int(QDialog::Accepted));
    QCOMPARE(Dialog(&next).items().mid(3), (QStringList{"a/=3", "a/=4", "http://127.0.0.1:8080/tiles/=5"}));
    QCOMPARE(next.sourceIndex, 5);
    QCOMPARE(next.sourceText(), QStringLiteral("http://127.0.0.1:8080/tiles/"));
    QCOMPARE(next.serverHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(next.serverPath(), QStringLiteral("/tiles/"));
    QVERIFY(next.tileLayout);
    QCOMPARE(storedServers().size(), 3);
}

// The address typed and confirmed without Add is the chosen server, one past
// the last entry; nothing is saved.
void TestUrlLan::typedAddressWithoutAdd()
{
    QUrlLan dialog(nullptr, true, 0);
    run(dialog, [](const Dialog &d) {
        d.type(QStringLiteral("http://tiles.example.org/osm/"));
        QTest::mouseClick(d.ok, Qt::LeftButton);
    });
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.sourceIndex, 3);
    QCOMPARE(dialog.sourceText(), QStringLiteral("http://tiles.example.org/osm/"));
    QCOMPARE(dialog.serverHost(), QStringLiteral("tiles.example.org"));
    QCOMPARE(dialog.serverPath(), QStringLiteral("/osm/"));
    QVERIFY(dialog.tileLayout);
    QVERIFY(storedServers().isEmpty());
}

void TestUrlLan::themeEntry()
{
    for (const QString &type : {QStringLiteral("WebMapService"), QStringLiteral("OpenStreetMap")}) {
        QUrlLan dialog(nullptr, true, 0);
        dialog.addThemeServer(QStringLiteral("Theme"), QStringLiteral("127.0.0.1"), QStringLiteral("http"),
                              QStringLiteral("/service"), QStringLiteral("layers=esat"), type, 8080);
        QCOMPARE(dialog.themeIndex, 3);
        run(dialog, [](const Dialog &d) {
            d.choose(Qt::Key_End);
            QCOMPARE(d.edit->text(), QStringLiteral("127.0.0.1"));
            QVERIFY(!d.edit->isEnabled());
            QTest::mouseClick(d.ok, Qt::LeftButton);
        });
        QCOMPARE(dialog.sourceIndex, 3);
        QCOMPARE(dialog.sourceText(), QStringLiteral("Theme"));
        QCOMPARE(dialog.serverHost(), QStringLiteral("127.0.0.1"));
        QCOMPARE(dialog.serverPath(), QStringLiteral("/service"));
        QCOMPARE(dialog.tileLayout, type != QLatin1String("WebMapService"));
    }
}

// The theme's host was shown by the dialog, not typed: going back to
// "Seamarks" chooses Seamarks.
void TestUrlLan::leavingTheThemeEntry()
{
    QUrlLan dialog(nullptr, true, 0);
    dialog.addThemeServer(QStringLiteral("Theme"), QStringLiteral("127.0.0.1"), QString(), QStringLiteral("/"),
                          QString(), QStringLiteral("WebMapService"), 80);
    run(dialog, [](const Dialog &d) {
        d.choose(Qt::Key_End);
        d.choose(Qt::Key_Home);
        d.choose(Qt::Key_Down);
        QVERIFY(d.edit->isEnabled());
        QVERIFY(d.edit->text().isEmpty());
        QTest::mouseClick(d.ok, Qt::LeftButton);
    });
    QCOMPARE(dialog.sourceIndex, 1);
    QVERIFY(dialog.tileLayout);
}

void TestUrlLan::addThemeServerRules()
{
    QUrlLan dialog(nullptr, true, 0);
    // No port: no entry, but the index a new entry would take.
    dialog.addThemeServer(QStringLiteral("T"), QStringLiteral("h"), QString(), QString(), QString(), QString(), 0);
    QCOMPARE(Dialog(&dialog).combo->count(), 3);
    QCOMPARE(dialog.themeIndex, 3);

    QUrlLan same(nullptr, true, 0);
    same.addThemeServer(QStringLiteral("SRTM elevation tiles (90m)"), QStringLiteral("h"), QString(), QString(),
                        QString(), QString(), 80);
    QCOMPARE(Dialog(&same).combo->count(), 3);
    QCOMPARE(same.themeIndex, -1);
}

// At the list's limit Add says that the list is full and overwrites nothing;
// the typed address still serves the choice.
void TestUrlLan::addToAFullList()
{
    {
        const auto store = SettingsKeys::openProgramStore();
        for (int i = 1; i <= ServerList::MaxEntries; ++i)
            ServerList::add(*store, QStringLiteral("http://s%1/").arg(i));
    }
    QUrlLan dialog(nullptr, true, 0);
    QString boxText;
    QStringList items;
    QCOMPARE(run(dialog, [&](const Dialog &d) {
                 items = d.items();
                 d.type(QStringLiteral("http://new/"));
                 answerNextModal<QMessageBox>([&boxText](QMessageBox *box) {
                     boxText = box->text();
                     box->accept();
                 });
                 QTest::mouseClick(d.add, Qt::LeftButton);
                 QCOMPARE(d.items(), items);
                 QTest::mouseClick(d.ok, Qt::LeftButton);
             }),
             int(QDialog::Accepted));
    QCOMPARE(boxText, QStringLiteral("The server list is full (1000 entries); http://new/ was not saved."));
    const QStringList stored = storedServers();
    QCOMPARE(stored.size(), ServerList::MaxEntries);
    QCOMPARE(stored.last(), QStringLiteral("http://s1000/"));
    QCOMPARE(dialog.sourceText(), QStringLiteral("http://new/"));
    QCOMPARE(dialog.serverHost(), QStringLiteral("new"));
}

void TestUrlLan::presetSource()
{
    QUrlLan dialog(nullptr, true, 3);
    dialog.presetSource(QStringLiteral("http://h/"), QString(), 3);
    const Dialog d(&dialog);
    QCOMPARE(d.items().mid(3), QStringList{"http://h/=3"});
    QCOMPARE(d.combo->currentIndex(), 3);
    QVERIFY(dialog.tileLayout);

    QUrlLan seamarks(nullptr, true, 1);
    seamarks.presetSource(QStringLiteral("x"), QString(), 1);
    QCOMPARE(Dialog(&seamarks).items().mid(3), QStringList{"x=3"});
    QCOMPARE(Dialog(&seamarks).combo->currentIndex(), 1);

    QUrlLan copy(nullptr, false, 0);
    copy.presetSource(QString(), QStringLiteral("/data/tiles"), 0);
    QCOMPARE(Dialog(&copy).edit->text(), QStringLiteral("/data/tiles"));
    QCOMPARE(Dialog(&copy).editLabel->text(), QStringLiteral("&Copy tiles from folder:"));
    QCOMPARE(Dialog(&copy).add->text(), QStringLiteral("&Browse"));
    QVERIFY(!Dialog(&copy).combo->isEnabled());
}

// Clearing "use Http connection" turns Add into Browse; the folder chosen
// there is the copy source.
void TestUrlLan::copyMode()
{
    QTemporaryDir tree;
    QString caption;
    QUrlLan dialog(nullptr, true, 0);
    run(dialog, [&](const Dialog &d) {
        d.type(QStringLiteral("kept"));
        QTest::mouseClick(d.http, Qt::LeftButton);
        QCOMPARE(d.editLabel->text(), QStringLiteral("&Copy tiles from folder:"));
        QCOMPARE(d.add->text(), QStringLiteral("&Browse"));
        QVERIFY(!d.combo->isEnabled());
        QCOMPARE(d.edit->text(), QStringLiteral("kept"));
        answerNextModal<QFileDialog>([&](QFileDialog *files) {
            caption = files->windowTitle();
            files->setDirectory(tree.path());
            static_cast<QDialog *>(files)->accept();
        });
        QTest::mouseClick(d.add, Qt::LeftButton);
        QCOMPARE(d.edit->text(), tree.path());
        QTest::mouseClick(d.ok, Qt::LeftButton);
    });
    QCOMPARE(caption, QStringLiteral("Select source folder to copy OSM Tiles from"));
    QVERIFY(!dialog.downloadMode);
    QCOMPARE(dialog.sourceIndex, -1);
    QCOMPARE(dialog.sourceText(), tree.path());
    QCOMPARE(dialog.serverHost(), tree.path());
    QVERIFY(!dialog.tileLayout);
    QVERIFY(storedServers().isEmpty());
}

void TestUrlLan::screenshots_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("en") << QString();
    QTest::newRow("de") << QStringLiteral("de");
}

void TestUrlLan::screenshots()
{
    QFETCH(QString, language);
    QTranslator translator;
    if (!language.isEmpty()) {
        QVERIFY(translator.load(QStringLiteral(TW_RUNTIME_DIR "/CvTile_%1.qm").arg(language)));
        QCoreApplication::installTranslator(&translator);
    }
    SettingsKeys::server(1).write(*SettingsKeys::openProgramStore(), QStringLiteral("http://127.0.0.1:8080/tiles/"));
    SettingsKeys::ServerCount.write(*SettingsKeys::openProgramStore(), 1);
    for (bool http : {true, false}) {
        QUrlLan dialog(nullptr, http, 0);
        dialog.addThemeServer(QStringLiteral("OpenStreetMap theme"), QStringLiteral("127.0.0.1"), QString(),
                              QStringLiteral("/"), QString(), QStringLiteral("OpenStreetMap"), 8080);
        if (!http)
            dialog.presetSource(QString(), QStringLiteral("/home/me/maps/earth/openstreetmap"), 0);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QString shot = testShotPath(
            QStringLiteral("tilewright-source-%1-%2.png").arg(language.isEmpty() ? QStringLiteral("en") : language,
                                                             http ? QStringLiteral("http") : QStringLiteral("copy")));
        QVERIFY(dialog.grab().save(shot));
        qInfo("source dialog: %s", qPrintable(shot));
        if (language == QLatin1String("de"))
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Quelleneinstellungen"));
    }
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(TestUrlLan)
#include "tst_urllan.moc"
