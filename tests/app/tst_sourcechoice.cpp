// Every source reached as a person reaches it: the Source button and its
// dialog, F3 and a theme file, copy mode; the map view and downloads against
// nginx and MapProxy on loopback.

#include "MapProxyFixture.h"
#include "NginxFixture.h"
#include "OffscreenNotes.h"
#include "WindowSteps.h"

#include "app/window/CvTilewright.h"
#include "app/window/ThemeImportPrompt.h"
#include "mapview/widgets/CvMapCache.h"
#include "mapview/widgets/CvMapWidget.h"
#include "settings/AppConfig.h"
#include "settings/QUrlLan.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

#include "ModalAnswer.h"
#include "TestFiles.h"

using namespace TestFiles;
using namespace WindowSteps;

namespace {

const GeoArea View = area(10.0, 47.5, 10.1, 47.4);
constexpr int Zoom = 12;

QPushButton *button(QUrlLan *d, const char *name)
{
    return d->findChild<QPushButton *>(QString::fromLatin1(name));
}

void choose(QUrlLan *d, Qt::Key key)
{
    auto *combo = d->findChild<QComboBox *>(QStringLiteral("comboBox"));
    combo->setFocus();
    QTest::keyClick(combo, key);
}

void typeAddress(QUrlLan *d, const QString &text)
{
    QTest::keyClicks(d->findChild<QLineEdit *>(QStringLiteral("lineEdit")), text);
}

bool writeText(const QString &path, const QByteArray &text)
{
    return writeFile(path, text);
}

// What the Source dialog shows of the window's choice when it opens.
struct Shown
{
    QStringList entries;
    int current = -1;
    QString typed;
    bool http = true;
};

Shown shownSource(QWidget *w)
{
    Shown shown;
    sourceDialog(w, [&shown](QDialog *d) {
        auto *combo = d->findChild<QComboBox *>(QStringLiteral("comboBox"));
        for (int i = 0; i < combo->count(); ++i)
            shown.entries << combo->itemText(i);
        shown.current = combo->currentIndex();
        shown.typed = d->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->text();
        shown.http = d->findChild<QCheckBox *>(QStringLiteral("httpBox"))->isChecked();
        QTest::mouseClick(dialogButton(d, "cancelButton"), Qt::LeftButton);
    });
    return shown;
}

} // namespace

class TestSourceChoice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void standardSources_data();
    void standardSources();
    void cancelChangesNothing();
    void listedTileServer();
    void themeImport_data();
    void themeImport();
    void importFailures();
    void copyMode();

private:
    std::unique_ptr<CvTilewright> makeWindow();
    void chooseSource(CvTilewright *w, const std::function<void(QUrlLan *)> &steps);
    bool pressDownloadAndWait(CvTilewright *w, const QString &status);
    bool mapFills(CvTilewright *w);

    NginxFixture m_nginx;
    std::unique_ptr<MapProxyFixture> m_mapProxy;
    QTemporaryDir m_served;
    QTemporaryDir m_work;
    QString m_rootD, m_rootC, m_dest;
};

void TestSourceChoice::initTestCase()
{
    hideOffscreenSizeHintNotes();
    const QString root = m_served.path();
    QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    for (const TileId &t : tilesOf(View, Zoom, Zoom))
        QVERIFY(writeFile(root + QLatin1Char('/') + tilePath(t), NginxFixture::tilePng(t.x, t.y, t.zoom)));
    QVERIFY2(m_nginx.start(root), qPrintable(m_nginx.errorString()));
    // MapProxy is started here, not in the theme test: on a busy machine its
    // start alone takes tens of seconds, which with the waits for the map and
    // the download ran that test into the test function time limit.
    m_mapProxy = std::make_unique<MapProxyFixture>();
    QVERIFY2(m_mapProxy->start(), qPrintable(m_mapProxy->errorString()));
    qputenv("TILEWRIGHT_OSM_TILE_URL", m_nginx.httpUrl().toUtf8());
    qputenv("TILEWRIGHT_SEAMARK_TILE_URL", m_nginx.httpUrl().toUtf8());
    qunsetenv("http_proxy");
}

void TestSourceChoice::init()
{
    static int run = 0;
    const QString base = m_work.filePath(QStringLiteral("run%1/").arg(++run));
    m_rootD = base + QStringLiteral("D/");
    m_rootC = base + QStringLiteral("C/");
    m_dest = m_rootC + QStringLiteral("temp/"); // where a window starts
    QVERIFY(QDir().mkpath(m_dest));
    qputenv("TILEWRIGHT_ROOT_D", m_rootD.toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", m_rootC.toUtf8());
    AppConfig::reload();
    SettingsKeys::openProgramStore()->clear();
}

void TestSourceChoice::cleanupTestCase()
{
    SettingsKeys::openProgramStore()->clear();
}

std::unique_ptr<CvTilewright> TestSourceChoice::makeWindow()
{
    storeMapView(View, Zoom);
    auto w = std::make_unique<CvTilewright>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    mapOf(w.get())->setFixedSize(mapSize(View, Zoom));
    QTest::qWait(50);
    if (form(w).tilesFolder->text() != m_dest)
        return nullptr;
    form(w).zoomTo->setValue(Zoom);
    return w;
}

void TestSourceChoice::chooseSource(CvTilewright *w, const std::function<void(QUrlLan *)> &steps)
{
    answerNextModal<QUrlLan>(steps);
    QTest::mouseClick(form(w).urlButton, Qt::LeftButton);
}

bool TestSourceChoice::pressDownloadAndWait(CvTilewright *w, const QString &status)
{
    QTest::mouseClick(form(w).downloadButton, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 120000) {
        if (form(w).downloadButton->isEnabled())
            return form(w).progLab->text() == status;
        QTest::qWait(20);
    }
    return false;
}

// The map view shows tiles fetched from the chosen server.
bool TestSourceChoice::mapFills(CvTilewright *w)
{
    QSignalSpy done(CvMapCache::instance(), &CvMapCache::requestDone);
    mapOf(w)->update();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000) {
        for (const QList<QVariant> &call : done) {
            if (call.at(1).toBool())
                return true;
        }
        QTest::qWait(20);
    }
    return false;
}

void TestSourceChoice::standardSources_data()
{
    QTest::addColumn<QString>("roots"); // which map-data roots exist
    QTest::addColumn<int>("key");       // combo entry: 0 Mapnik, 1 Seamarks, 2 SRTM
    QTest::addColumn<QString>("dest");  // "D:", "C:" the roots, "=" the folder before

    QTest::newRow("Mapnik, D present") << "DC" << 0 << "D:mapdata/maps/earth/openstreetmap/";
    QTest::newRow("Seamarks, only C") << "C" << 1 << "C:mapdata/maps/earth/openseamap/seamarks/";
    QTest::newRow("Seamarks, no root") << "" << 1 << "=earth/openseamap/seamarks/";
    // A source without a folder of its own gets one named after its server.
    QTest::newRow("SRTM") << "D" << 2 << "D:mapdata/maps/earth/srtm.kurviger.de/";
}

void TestSourceChoice::standardSources()
{
    QFETCH(QString, roots);
    QFETCH(int, key);
    QFETCH(QString, dest);
    if (roots.contains(QLatin1Char('D')))
        QVERIFY(QDir().mkpath(m_rootD + QStringLiteral("mapdata/maps")));
    if (roots.contains(QLatin1Char('C')))
        QVERIFY(QDir().mkpath(m_rootC + QStringLiteral("mapdata/maps")));
    auto w = makeWindow();
    QVERIFY(w);
    proxyTimer(w.get())->stop();
    dest.replace(QStringLiteral("D:"), m_rootD).replace(QStringLiteral("C:"), m_rootC);
    dest.replace(QStringLiteral("="), m_dest);

    // Twice: the second choice lands in the same folder.
    for (int round = 0; round < 2; ++round) {
        chooseEntry(w.get(), key);
        QCOMPARE(form(w).tilesFolder->text(), dest);
        QCOMPARE(form(w).progLab->text(), QStringLiteral("Download:"));
        QVERIFY(CvMapCache::instance()->server().tileServerMode);
        QCOMPARE(CvMapCache::instance()->server().sourceMode, key == 2 ? 0 : key);
        // The map credits what it shows: the standard map under the archives too.
        QCOMPARE(mapOf(w.get())->attribution(), key == 1 ? QStringLiteral("\u00a9 OpenStreetMap contributors, \u00a9 OpenSeaMap")
                                                       : QStringLiteral("\u00a9 OpenStreetMap contributors"));
        QCOMPARE(CvMapCache::instance()->server().serverHost, QStringLiteral("127.0.0.1"));
        QVERIFY(proxyTimer(w.get())->isActive()); // the proxy is looked at again for the new source
        proxyTimer(w.get())->stop();
        // The public servers' download zoom is limited (15 at zoom 12), the archives' is not.
        form(w).zoomTo->setValue(17);
        QCOMPARE(form(w).zoomTo->value(), key == 2 ? 17 : 15);
        form(w).zoomTo->setValue(Zoom);
    }
    QVERIFY(mapFills(w.get()));
}

void TestSourceChoice::cancelChangesNothing()
{
    auto w = makeWindow();
    QVERIFY(w);
    proxyTimer(w.get())->stop();
    const QString folder = form(w).tilesFolder->text(), status = form(w).progLab->text();
    chooseSource(w.get(), [](QUrlLan *d) {
        choose(d, Qt::Key_End);
        QTest::mouseClick(button(d, "cancelButton"), Qt::LeftButton);
    });
    QCOMPARE(form(w).tilesFolder->text(), folder);
    QCOMPARE(form(w).progLab->text(), status);
    QVERIFY(!proxyTimer(w.get())->isActive());
    form(w).zoomTo->setValue(17); // still the standard source, limited to 15 at zoom 12
    QCOMPARE(form(w).zoomTo->value(), 15);
}

// A tile server typed and added: the map shows it, Download fetches from it,
// and the next start offers it again.
void TestSourceChoice::listedTileServer()
{
    const QString server = m_nginx.httpUrl() + QLatin1Char('/');
    {
        auto w = makeWindow();
        QVERIFY(w);
        chooseSource(w.get(), [server](QUrlLan *d) {
            typeAddress(d, server);
            QTest::mouseClick(button(d, "addButton"), Qt::LeftButton);
            QTest::mouseClick(button(d, "okButton"), Qt::LeftButton);
        });
        const QString dest = m_rootD + QStringLiteral("mapdata/maps/earth/127.0.0.1_%1/").arg(m_nginx.httpPort());
        QCOMPARE(form(w).tilesFolder->text(), dest);
        QCOMPARE(CvMapCache::instance()->server().serverHost, server);
        QVERIFY(mapOf(w.get())->attribution().isEmpty()); // nothing is invented for it
        QVERIFY(mapFills(w.get()));
        QVERIFY(pressDownloadAndWait(w.get(), QStringLiteral("Download finished!")));
        const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), Zoom, Zoom);
        QVERIFY(!tiles.isEmpty());
        for (const TileId &t : tiles)
            QCOMPARE(readFile(dest + tilePath(t)), readFile(m_served.filePath(tilePath(t))));
        const Shown shown = shownSource(w.get());
        QCOMPARE(shown.current, 3);
        QCOMPARE(shown.entries.value(3), server);
    }
    // After a restart the same server is offered; chosen, it is preset as
    // the current one.
    auto w = makeWindow();
    QVERIFY(w);
    QCOMPARE(shownSource(w.get()).entries.mid(3), QStringList{server});
    chooseEntry(w.get(), 3);
    const Shown shown = shownSource(w.get());
    QCOMPARE(shown.entries.mid(3), (QStringList{server, server}));
    QCOMPARE(shown.current, 3);
    QCOMPARE(CvMapCache::instance()->server().serverHost, server);
}

void TestSourceChoice::themeImport_data()
{
    QTest::addColumn<bool>("wms");
    QTest::newRow("tile template on nginx") << false;
    QTest::newRow("Web Map Service on MapProxy") << true;
}

// F3, the theme file, Source, the theme as the last entry, OK: the map fills
// from the theme's server and Download fills the theme's folder.
void TestSourceChoice::themeImport()
{
    QFETCH(bool, wms);
    quint16 port = m_nginx.httpPort();
    QByteArray server = "protocol=\"http\" host=\"127.0.0.1\" path=\"/{zoomLevel}/{x}/{y}.png\"";
    QByteArray mode = "OpenStreetMap";
    if (wms) {
        if (!m_mapProxy) {
            m_mapProxy = std::make_unique<MapProxyFixture>();
            QVERIFY2(m_mapProxy->start(), qPrintable(m_mapProxy->errorString()));
        }
        port = m_mapProxy->port();
        server = "protocol=\"http\" host=\"127.0.0.1\" path=\"/service\" query=\"layers=esat\"";
        mode = "WebMapService";
    }
    const QString earth = m_rootD + QStringLiteral("mapdata/maps/earth/");
    QVERIFY(QDir().mkpath(earth + QStringLiteral("themeone")));
    const QString file = earth + QStringLiteral("themeone.dgml");
    QVERIFY(writeText(file, "<?xml version=\"1.0\"?>\n<dgml xmlns=\"http://example.org/dgml/2.0\">\n"
                            "<!-- test theme --><document><head><name>Theme One</name>"
                            "<license short=\"&#169; Theme One makers\">Free for tests.</license>"
                            "<description><![CDATA[<b>x</b>]]></description></head>"
                            "<map><layer><texture><sourcedir format=\"png\"> earth/theme one </sourcedir>"
                            "<storageLayout mode=\"" + mode + "\"/>"
                            "<downloadUrl " + server + " port=\"" + QByteArray::number(port) + "\"/>"
                            "<downloadUrl host=\"192.0.2.1\"/></texture></layer></map></document></dgml>\n"));

    auto w = makeWindow();
    QVERIFY(w);
    QCOMPARE(importTheme(w.get(), file), earth); // where the open dialog starts
    // The theme is offered as the last entry, under its name.
    const QStringList offered = shownSource(w.get()).entries;
    QCOMPARE(offered.size(), 4);
    QCOMPARE(offered.last(), QStringLiteral("Theme One"));
    const QString themeFolder = earth + QStringLiteral("themeone/");
    QCOMPARE(form(w).tilesFolder->text(), themeFolder);
    // The map still shows the standard source until the theme is chosen.
    QCOMPARE(mapOf(w.get())->attribution(), QStringLiteral("\u00a9 OpenStreetMap contributors"));

    int themeIndex = -1;
    chooseSource(w.get(), [&](QUrlLan *d) {
        choose(d, Qt::Key_End);
        themeIndex = d->themeIndex;
        QTest::mouseClick(button(d, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(themeIndex, 3);
    const auto mapServer = CvMapCache::instance()->server();
    QCOMPARE(mapServer.serverHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(mapServer.serverPort, int(port));
    QCOMPARE(mapServer.tileServerMode, !wms);
    QCOMPARE(mapOf(w.get())->attribution(), QStringLiteral("\u00a9 Theme One makers"));
    QVERIFY(mapFills(w.get()));

    QVERIFY(pressDownloadAndWait(w.get(), QStringLiteral("Download finished!")));
    const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), Zoom, Zoom);
    for (const TileId &t : tiles) {
        const QByteArray stored = readFile(themeFolder + tilePath(t));
        if (wms)
            QVERIFY(QImage::fromData(stored).width() == 256);
        else
            QCOMPARE(stored, readFile(m_served.filePath(tilePath(t))));
    }

    // Choosing another source afterwards ends the theme's turn.
    chooseEntry(w.get(), 0);
    QCOMPARE(shownSource(w.get()).entries.size(), 3); // no theme entry any more
    QCOMPARE(mapOf(w.get())->attribution(), QStringLiteral("\u00a9 OpenStreetMap contributors"));
}

void TestSourceChoice::importFailures()
{
    auto w = makeWindow();
    QVERIFY(w);
    const QString dir = m_work.filePath(QStringLiteral("themes/"));
    QVERIFY(QDir().mkpath(dir));

    // Cancelled: nothing changes.
    answerNextModal<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
    QTest::mouseClick(toolButton(w.get(), 2), Qt::LeftButton);
    QCOMPARE(shownSource(w.get()).entries.size(), 3);
    QCOMPARE(form(w).tilesFolder->text(), m_dest);

    // An entity bomb ends in the reader's error, with its place in the file.
    QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE d [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c)
        bomb += QByteArray("<!ENTITY ") + c + " \"" + QByteArray(10, '&').replace("&", QByteArray("&") + char(c - 1) + ";") + "\">";
    bomb += "]>\n<dgml><name>&k;</name><downloadUrl host=\"h\"/></dgml>";
    QVERIFY(writeText(dir + QStringLiteral("bomb.dgml"), bomb));
    QString bombTitle, text;
    answerNextModal<QMessageBox>([&](QMessageBox *box) {
        bombTitle = box->windowTitle();
        text = box->text();
        box->accept();
    });
    importTheme(w.get(), dir + QStringLiteral("bomb.dgml"));
    QTRY_VERIFY(!bombTitle.isEmpty());
    QCOMPARE(bombTitle, QStringLiteral("Parse Dgml error"));
    QVERIFY2(text.contains(QLatin1String("line 3")), qPrintable(text));
    answerNextModal<QMessageBox>([](QMessageBox *box) { box->accept(); });
    QCOMPARE(ThemeImportPrompt::read(w.get(), dir + QStringLiteral("bomb.dgml"), [](const DgmlTheme &) {}),
             DgmlReader::Result::Error); // the theme is not the one in force

    // A file that cannot be opened.
    QString title, message;
    answerNextModal<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        message = box->text();
        box->accept();
    });
    QCOMPARE(ThemeImportPrompt::read(w.get(), dir + QStringLiteral("missing.dgml"), [](const DgmlTheme &) {}),
             DgmlReader::Result::CannotOpen);
    QCOMPARE(title, QStringLiteral("Parse Dgml error"));
    QCOMPARE(message, QStringLiteral("Couldn't open %1").arg(dir + QStringLiteral("missing.dgml")));

    // A tile folder outside the map-data roots never moves the destination,
    // nor do folders that are not there; the destination keeps one slash.
    const QString outside = m_work.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(QDir().mkpath(m_rootD + QStringLiteral("mapdata/maps")));
    for (const QString &folder : {outside, QStringLiteral("../../../outside"), QStringLiteral("earth/none")}) {
        QVERIFY(writeText(dir + QStringLiteral("unsafe.dgml"),
                          "<dgml><sourcedir>" + folder.toUtf8() + "</sourcedir><downloadUrl host=\"h\"/></dgml>"));
        QVERIFY(!importTheme(w.get(), dir + QStringLiteral("unsafe.dgml")).isEmpty());
        QCOMPARE(form(w).tilesFolder->text(), m_dest);
    }
}

// Copy mode: "use Http connection" cleared and a folder named; Download then
// copies the visible tiles out of it.
void TestSourceChoice::copyMode()
{
    auto w = makeWindow();
    QVERIFY(w);
    proxyTimer(w.get())->stop();
    chooseCopySource(w.get(), m_served.path());
    QCOMPARE(form(w).progLab->text(), QStringLiteral("Copy:"));
    QVERIFY(!proxyTimer(w.get())->isActive());
    // The dialog opens in copy mode on the folder.
    const Shown shown = shownSource(w.get());
    QVERIFY(!shown.http);
    QCOMPARE(shown.typed, m_served.path());

    QVERIFY(pressDownloadAndWait(w.get(), QStringLiteral("Copy finished!")));
    const QVector<TileId> tiles = tilesOf(mapOf(w.get())->visibleArea(), Zoom, Zoom);
    QVERIFY(!tiles.isEmpty());
    for (const TileId &t : tiles)
        QCOMPARE(readFile(m_dest + tilePath(t)), readFile(m_served.filePath(tilePath(t))));
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(tilewright);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("CvTilewrightTests"));
    QCoreApplication::setApplicationName(QStringLiteral("sourcechoice"));
    TestSourceChoice test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sourcechoice.moc"
