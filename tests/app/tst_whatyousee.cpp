// What a person reads in the window: end texts, the whole job's progress,
// the question before mixing sources in a folder, remembered choices, the
// zoom rule's reason, a window that keeps its width. Downloads run against
// nginx on loopback. With TILEWRIGHT_SHOTS set, the window and the question
// are grabbed into that folder.

#include "NginxFixture.h"
#include "OffscreenNotes.h"
#include "TestFiles.h"
#include "WindowSteps.h"

#include "app/JobTexts.h"
#include "app/ProgramFiles.h"
#include "app/SourceMark.h"
#include "app/window/CvTilewright.h"
#include "settings/AppConfig.h"
#include "settings/SettingsKeys.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTranslator>
#include <QtTest>

using namespace TestFiles;
using namespace WindowSteps;

namespace {

const GeoArea View = area(10.0, 47.5, 10.1, 47.4);
constexpr int Zoom = 12;

QLabel *progressLine(QWidget *w) { return w->findChild<QLabel *>(QStringLiteral("progressLine")); }

void shoot(QWidget *widget, const char *name)
{
    const QString folder = qEnvironmentVariable("TILEWRIGHT_SHOTS");
    if (!folder.isEmpty())
        widget->grab().save(folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

// German as an installed catalogue makes it: texts and number formats.
struct German
{
    QTranslator translator;
    German()
    {
        QVERIFY(translator.load(QStringLiteral(TW_RUNTIME_DIR "/CvTile_de.qm")));
        QCoreApplication::installTranslator(&translator);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~German()
    {
        QCoreApplication::removeTranslator(&translator);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
};

} // namespace

class TestWhatYouSee : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void endTextsAndProgress_data();
    void endTextsAndProgress();
    void progressLineAndStop();
    void mixedFolderAsksFirst_data();
    void mixedFolderAsksFirst();
    void rememberedChoices();
    void zoomRuleAndWidth();
    void helpWithoutViewer();
    void importedThemeReportedAndRemembered();
    void listedServerRemovedAndExample();
    void catalogueLocale();

private:
    std::unique_ptr<CvTilewright> makeWindow();
    bool download(CvTilewright *w);

    NginxFixture m_nginx;
    QTemporaryDir m_served;
    QTemporaryDir m_work;
    QString m_dest;
    QVector<TileId> m_tiles;
};

void TestWhatYouSee::initTestCase()
{
    hideOffscreenSizeHintNotes();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString root = m_served.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    m_tiles = tilesOf(View, Zoom, Zoom);
    QVERIFY(m_tiles.size() > 2);
    // Standard tiles everywhere; seamarks only on the first two tiles.
    for (int i = 0; i < m_tiles.size(); ++i) {
        const TileId &t = m_tiles.at(i);
        const QByteArray png = NginxFixture::tilePng(t.x, t.y, t.zoom);
        QVERIFY(writeFile(root + QLatin1Char('/') + tilePath(t), png));
        if (i < 2)
            QVERIFY(writeFile(root + QStringLiteral("/seamark/") + tilePath(t), png));
    }
    QVERIFY2(m_nginx.start(root), qPrintable(m_nginx.errorString()));
    qputenv("TILEWRIGHT_OSM_TILE_URL", m_nginx.httpUrl().toUtf8());
    qputenv("TILEWRIGHT_SEAMARK_TILE_URL", m_nginx.httpUrl().toUtf8());
    qunsetenv("http_proxy");
}

void TestWhatYouSee::init()
{
    static int run = 0;
    const QString base = m_work.filePath(QStringLiteral("run%1/").arg(++run));
    m_dest = base + QStringLiteral("C/temp/");
    QVERIFY(QDir().mkpath(m_dest));
    qputenv("TILEWRIGHT_ROOT_D", (base + QStringLiteral("D/")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", (base + QStringLiteral("C/")).toUtf8());
    AppConfig::reload();
    SettingsKeys::openProgramStore()->clear();
}

std::unique_ptr<CvTilewright> TestWhatYouSee::makeWindow()
{
    storeMapView(View, Zoom);
    auto w = std::make_unique<CvTilewright>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    mapOf(w.get())->setFixedSize(mapSize(View, Zoom));
    QTest::qWait(50);
    form(w).zoomTo->setValue(Zoom);
    proxyTimer(w.get())->stop();
    return w;
}

bool TestWhatYouSee::download(CvTilewright *w)
{
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    return QTest::qWaitFor([w] { return form(w).downloadButton->isEnabled(); }, 60000);
}

void TestWhatYouSee::endTextsAndProgress_data()
{
    QTest::addColumn<int>("entry"); // Source dialog entry; -1: a listed server answering 500
    QTest::addColumn<bool>("german");
    QTest::addColumn<QString>("text"); // %1: the job's entries, %2: those without data
    QTest::newRow("seamarks over land") << 1 << false << QStringLiteral("Download finished: 2 tiles stored; %2 places have no seamarks");
    QTest::newRow("seamarks, German") << 1 << true << QStringLiteral("Download beendet: 2 Kacheln gespeichert; %2 Orte haben keine Seezeichen");
    QTest::newRow("server answers 500") << -1 << false << QStringLiteral("Download failed: none of %1 tiles stored — HTTP 500");
    QTest::newRow("500, German") << -1 << true << QStringLiteral("Download fehlgeschlagen: keine der %1 Kacheln gespeichert — HTTP 500");
}

// The end text says what happened, wraps rather than being cut, and the bar
// ends full over the whole job.
void TestWhatYouSee::endTextsAndProgress()
{
    QFETCH(int, entry);
    QFETCH(bool, german);
    QFETCH(QString, text);
    std::unique_ptr<German> language(german ? new German : nullptr);
    auto w = makeWindow();
    QVERIFY(w);
    if (entry >= 0) {
        chooseEntry(w.get(), entry);
    } else {
        const QString server = m_nginx.httpUrl() + QStringLiteral("/e500");
        sourceDialog(w.get(), [server](QDialog *d) {
            QTest::keyClicks(d->findChild<QLineEdit *>(QStringLiteral("lineEdit")), server);
            QTest::mouseClick(dialogButton(d, "addButton"), Qt::LeftButton);
            QTest::mouseClick(dialogButton(d, "okButton"), Qt::LeftButton);
        });
    }
    proxyTimer(w.get())->stop();
    QVERIFY(download(w.get()));
    const int entries = m_tiles.size();
    text.replace(QStringLiteral("%1"), QString::number(entries)).replace(QStringLiteral("%2"), QString::number(entries - 2));
    QCOMPARE(form(w).progLab->text(), text);
    QLabel *status = form(w).progLab;
    QVERIFY(status->wordWrap());
    QTRY_VERIFY(status->height() >= status->heightForWidth(status->width()));
    QCOMPARE(form(w).progressBar->value(), form(w).progressBar->maximum());
    QVERIFY2(progressLine(w.get())->text().startsWith(QStringLiteral("%1 / %1").arg(entries)),
             qPrintable(progressLine(w.get())->text()));
    if (entry >= 0)
        shoot(w.get(), german ? "end-text-de" : "end-text");
    // The destination now names the source of its tiles.
    QCOMPARE(bool(SourceMark::read(form(w).tilesFolder->text())), entry >= 0);
}

// While a slow server answers, the line tells count, pace, time left and
// bytes; Stop leaves the bar where the job was.
void TestWhatYouSee::progressLineAndStop()
{
    auto w = makeWindow();
    QVERIFY(w);
    const QString server = m_nginx.httpUrl() + QStringLiteral("/slow");
    sourceDialog(w.get(), [server](QDialog *d) {
        QTest::keyClicks(d->findChild<QLineEdit *>(QStringLiteral("lineEdit")), server);
        QTest::mouseClick(dialogButton(d, "addButton"), Qt::LeftButton);
        QTest::mouseClick(dialogButton(d, "okButton"), Qt::LeftButton);
    });
    proxyTimer(w.get())->stop();
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QLabel *line = progressLine(w.get());
    QVERIFY2(QTest::qWaitFor([line] { return line->text().contains(QStringLiteral(" left · ")); }, 30000), qPrintable(line->text()));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d / %1 · [\\d.]+ tiles/s · \\d+ s left · [\\d.]+ KiB$").arg(m_tiles.size()))
                 .match(line->text()).hasMatch(),
             qPrintable(line->text()));
    shoot(w.get(), "progress-line");
    const int value = form(w).progressBar->value();
    QVERIFY(value > 0 && value < form(w).progressBar->maximum());
    QTest::mouseClick(form(w).cancleButton, Qt::LeftButton);
    QCOMPARE(form(w).progLab->text(), QStringLiteral("Download canceled!"));
    QCOMPARE(form(w).progressBar->value(), value);
}

void TestWhatYouSee::mixedFolderAsksFirst_data()
{
    QTest::addColumn<bool>("german");
    QTest::addColumn<QString>("question");
    QTest::newRow("English") << false << QStringLiteral("This folder holds tiles of OpenSeaMap seamarks. Download OpenStreetMap tiles into it?");
    QTest::newRow("German") << true << QStringLiteral("Dieser Ordner enthält Kacheln von OpenSeaMap-Seezeichen. OpenStreetMap-Kacheln hinein herunterladen?");
}

// No, the default, starts nothing; Yes downloads and the folder then names
// the new source.
void TestWhatYouSee::mixedFolderAsksFirst()
{
    QFETCH(bool, german);
    QFETCH(QString, question);
    std::unique_ptr<German> language(german ? new German : nullptr);
    auto w = makeWindow();
    QVERIFY(w);
    SourceAddress::TileSource seamarks;
    seamarks.sourceKind = SourceKind::SeamarkTiles;
    QVERIFY(SourceMark::of(seamarks, QString()).writeTo(m_dest));
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        QString asked;
        QMessageBox::StandardButton defaultAnswer = QMessageBox::NoButton;
        answerNextModal<QMessageBox>([&, answer](QMessageBox *box) {
            asked = box->text();
            defaultAnswer = box->standardButton(box->defaultButton());
            if (answer == QMessageBox::No)
                shoot(box, german ? "mixed-folder-question-de" : "mixed-folder-question");
            box->button(answer)->click();
        });
        QVERIFY(download(w.get()));
        QCOMPARE(asked, question);
        QCOMPARE(defaultAnswer, QMessageBox::No);
        if (answer == QMessageBox::No)
            QCOMPARE(QDir(m_dest).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{SourceMark::fileName()}); // the mark alone
    }
    QCOMPARE(form(w).progressBar->value(), form(w).progressBar->maximum());
    QCOMPARE(SourceMark::read(m_dest)->name, QStringLiteral("OpenStreetMap"));
}

// An installed German catalogue brings German numbers into its sentences.
void TestWhatYouSee::catalogueLocale()
{
    QTemporaryDir folder;
    QVERIFY(QFile::copy(QStringLiteral(TW_RUNTIME_DIR "/CvTile_de.qm"), folder.filePath(QStringLiteral("CvTile_de.qm"))));
    // Installed for the rest of the run: the last test.
    QVERIFY(ProgramFiles::installTranslations(folder.path(), QString()).startsWith(QStringLiteral("de")));
    const QString line = JobTexts::progress(10728, 50893, 12.5, qint64(209.9 * 1024 * 1024));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(line, QStringLiteral("10.728 / 50.893 · 13 Kacheln/s · noch 54 min · 209,9 MiB"));
}

// Destination, source, download zoom and size come back; what no longer
// fits falls back, and the status line says so.
void TestWhatYouSee::rememberedChoices()
{
    const QString kept = m_work.filePath(QStringLiteral("kept/"));
    QVERIFY(QDir().mkpath(kept));
    QSize chosen;
    {
        CvTilewright w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        chooseEntry(&w, 2); // SRTM: no zoom limit
        chooseDestination(&w, kept);
        form(&w).zoomTo->setValue(14);
        chosen = w.minimumSizeHint() + QSize(30, 20);
        w.resize(chosen);
        QCOMPARE(w.size(), chosen);
        w.close();
    }
    {
        CvTilewright w;
        QCOMPARE(form(&w).tilesFolder->text(), kept);
        // Never larger than the screen (the offscreen one is small).
        QCOMPARE(w.size(), chosen.boundedTo(QGuiApplication::primaryScreen()->availableSize()));
        QCOMPARE(form(&w).zoomTo->value(), 14);
        int current = -1;
        w.show();
        sourceDialog(&w, [&current](QDialog *d) {
            current = d->findChild<QComboBox *>(QStringLiteral("comboBox"))->currentIndex();
            QTest::mouseClick(dialogButton(d, "cancelButton"), Qt::LeftButton);
        });
        QTRY_COMPARE(current, 2);
    }
    QVERIFY(QDir(kept).removeRecursively());
    auto w = makeWindow();
    QVERIFY(w);
    QVERIFY2(form(w).progLab->text().startsWith(QStringLiteral("The remembered destination %1 no longer exists").arg(kept)),
             qPrintable(form(w).progLab->text()));
    QVERIFY(form(w).tilesFolder->text().endsWith(QStringLiteral("/earth/srtm.kurviger.de/")));
}

// The fair-use rule says what it did; long coordinates do not widen the window.
void TestWhatYouSee::zoomRuleAndWidth()
{
    auto w = makeWindow();
    QVERIFY(w);
    form(w).zoomTo->setValue(17);
    QCOMPARE(form(w).zoomTo->value(), 15);
    const QString why = QStringLiteral("Download zoom lowered to 15: at map zoom 12");
    QVERIFY2(form(w).progLab->text().startsWith(why), qPrintable(form(w).progLab->text()));
    QVERIFY(form(w).zoomTo->toolTip().startsWith(why));
    const int width = w->width();
    w.reset();
    // Centres whose read-out is as long as it gets.
    for (const GeoArea &far : {area(-179.98770, -84.99, -179.98760, -85.0), area(0.0000100, 0.0000300, 0.0000147, 0.0000200)}) {
        storeMapView(far, 17);
        CvTilewright other;
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QTest::qWait(50);
        QVERIFY2(form(&other).lonLabel->text().size() >= 19, qPrintable(form(&other).lonLabel->text()));
        QCOMPARE(other.width(), width);
    }
}

// F1 with nothing to show a PDF: a message with the manual's path.
void TestWhatYouSee::helpWithoutViewer()
{
    auto w = makeWindow();
    QVERIFY(w);
    QString said;
    answerNextModal<QMessageBox>([&](QMessageBox *box) {
        said = box->text();
        box->accept();
    });
    QTest::mouseClick(toolButton(w.get(), 1), Qt::LeftButton);
    QTRY_VERIFY(!said.isEmpty());
    QVERIFY2(said.contains(QStringLiteral("Manuals/Tilewright.pdf")), qPrintable(said));
}

// F3 says what it imported; the theme is offered again after a restart,
// until its file no longer reads.
void TestWhatYouSee::importedThemeReportedAndRemembered()
{
    const QString file = m_work.filePath(QStringLiteral("good.dgml"));
    QVERIFY(writeFile(file, "<dgml><name>Good</name><downloadUrl host=\"good.example\" path=\"/\"/></dgml>"));
    {
        auto w = makeWindow();
        QVERIFY(w);
        QVERIFY(!importTheme(w.get(), file).isEmpty());
        QTRY_VERIFY2(form(w).progLab->text().startsWith(QStringLiteral("Map theme \"Good\" imported: server http://good.example")),
                     qPrintable(form(w).progLab->text()));
        w->close();
    }
    for (const bool readable : {true, false}) {
        if (!readable)
            QVERIFY(QFile::remove(file));
        CvTilewright w;
        w.show();
        QStringList offered;
        sourceDialog(&w, [&offered](QDialog *d) {
            auto *combo = d->findChild<QComboBox *>(QStringLiteral("comboBox"));
            for (int i = 0; i < combo->count(); ++i)
                offered << combo->itemText(i);
            QTest::mouseClick(dialogButton(d, "cancelButton"), Qt::LeftButton);
        });
        QTRY_VERIFY(!offered.isEmpty());
        QCOMPARE(offered.contains(QStringLiteral("Good")), readable);
        QCOMPARE(form(&w).progLab->text().startsWith(QStringLiteral("The map theme %1 could not be read again").arg(file)), !readable);
        w.close();
    }
}

// Add stores the address as downloads use it, with an example request;
// Remove takes a listed server off the list.
void TestWhatYouSee::listedServerRemovedAndExample()
{
    auto w = makeWindow();
    QVERIFY(w);
    QString example;
    int offered = 0;
    sourceDialog(w.get(), [&](QDialog *d) {
        QTest::keyClicks(d->findChild<QLineEdit *>(QStringLiteral("lineEdit")), QStringLiteral("http://tiles.example/osm"));
        example = d->findChild<QLabel *>(QStringLiteral("exampleLabel"))->text();
        QTest::mouseClick(dialogButton(d, "addButton"), Qt::LeftButton);
        auto *combo = d->findChild<QComboBox *>(QStringLiteral("comboBox"));
        offered = combo->count();
        QTest::mouseClick(dialogButton(d, "removeButton"), Qt::LeftButton);
        offered -= combo->count();
        QTest::mouseClick(dialogButton(d, "cancelButton"), Qt::LeftButton);
    });
    QTRY_VERIFY(!example.isEmpty());
    QCOMPARE(example, QStringLiteral("A tile is requested as http://tiles.example/osm/14/8802/5746.png"));
    QCOMPARE(offered, 1);
    QCOMPARE(SettingsKeys::ServerCount.read(*SettingsKeys::openProgramStore()), 0);
}

QTEST_MAIN(TestWhatYouSee)
#include "tst_whatyousee.moc"
