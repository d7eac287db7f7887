#include "WindowSteps.h"
#include "app/window/CvTilewright.h"
#include "app/DestinationFolder.h"
#include "app/window/ProxyStep.h"
#include "app/SourceChoice.h"
#include "mapview/widgets/CvMapWidget.h"
#include "settings/AppConfig.h"
#include "settings/SettingsKeys.h"

#include "ModalAnswer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>

using namespace WindowSteps;

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void signalAndSlotTable();
    void stateAfterConstruction();
    void formTexts();
    void toolBar();
    void positionLabelsFollowTheMap();
    void zoomRuleOnTheSpinBox();
    void spinBoxTakesTheFinishedValue();
    void paintRaisesDownloadZoom();
    void helpOpensTheManual();
    void aboutBox();
    void browseFolderWritesProjection();
    void browseFolderWithoutProjection();
    void browseFolderCancelled();
    void proxyDetection_data();
    void proxyDetection();
    void germanCatalogue();
    void germanCatalogueComplete();

private:
    QTemporaryDir m_roots;
};

void TestMainWindow::init()
{
    // Both drive roots are empty folders of the test's own.
    qputenv("TILEWRIGHT_ROOT_D", m_roots.filePath(QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", m_roots.filePath(QStringLiteral("C")).toUtf8());
    // No tile request may leave the machine.
    qputenv("TILEWRIGHT_OSM_TILE_URL", "http://127.0.0.1:9");
    qputenv("TILEWRIGHT_SEAMARK_TILE_URL", "http://127.0.0.1:9");
    qunsetenv("TILEWRIGHT_PROXY_DELAY_MS");
    AppConfig::reload();
    QSettings().clear();
    SettingsKeys::openProgramStore()->clear(); // a closed window remembers its choices there
}

void TestMainWindow::cleanup()
{
    QSettings().clear();
    SettingsKeys::openProgramStore()->clear();
}

// The window's signals and slots, in the order of its meta-object table.
void TestMainWindow::signalAndSlotTable()
{
    const QStringList expected = {
        "nextDownload()", "restartDownload()", "nextCopy()", "updateProgress(int,int)",
        "slot_download()", "slot_url()", "updateDataReadProgress(qlonglong,qlonglong)",
        "error(QNetworkReply::NetworkError)", "finished()", "slot_proxy()",
        "downloadFile()", "slotRestartDownload()", "cancelDownload()", "browseFolder()",
        "httpRequestFinished(int,bool)", "readResponseHeader(QByteArray)", "setZoomTo(int)",
        "copyFile()", "slot_update(int,int)", "about()", "help()", "import()",
    };
    const QMetaObject &meta = CvTilewright::staticMetaObject;
    QStringList actual;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        actual << QString::fromLatin1(meta.method(i).methodSignature());
    QCOMPARE(actual, expected);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(meta.method(meta.methodOffset() + i).methodType(), QMetaMethod::Signal);
    QCOMPARE(meta.method(meta.indexOfSlot("slot_proxy()")).access(), QMetaMethod::Public);
    QCOMPARE(meta.method(meta.indexOfSlot("downloadFile()")).access(), QMetaMethod::Private);
}

void TestMainWindow::stateAfterConstruction()
{
    CvTilewright window;
    QCOMPARE(window.objectName(), QStringLiteral("CvTilewrightClass"));
    QCOMPARE(window.size(), QSize(524, 492));
    QCOMPARE(form(&window).cancleButton->isEnabled(), false);
    for (QPushButton *button : {form(&window).urlButton, form(&window).browseButton, form(&window).downloadButton,
                                form(&window).okButton})
        QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
    QCOMPARE(form(&window).progressBar->minimum(), 0);
    QCOMPARE(form(&window).progressBar->maximum(), 1);
    QCOMPARE(form(&window).progressBar->value(), 0);
    QCOMPARE(form(&window).zoomTo->value(), 2);
    QCOMPARE(form(&window).zoomTo->minimum(), 1);
    QCOMPARE(form(&window).zoomTo->maximum(), 18);
    QCOMPARE(form(&window).tilesFolder->text(), AppConfig::cPath(QStringLiteral("temp/")));

    // The map sits in the map group's layout and is the only part that grows.
    CvMapWidget *map = mapOf(&window);
    QVERIFY(map);
    QCOMPARE(map->parentWidget(), form(&window).groupBox);
    QCOMPARE(form(&window).verticalLayout->indexOf(map), 0);
    QCOMPARE(map->minimumHeight(), 256);
    QCOMPARE(form(&window).groupBox->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

    QVERIFY(!window.findChild<QMenuBar *>());
    QVERIFY(!window.findChild<QStatusBar *>());
    const QIcon icon = window.windowIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(icon.availableSizes().contains(QSize(128, 128)));

    // The proxy detection waits three seconds after construction and runs once.
    QVERIFY(proxyTimer(&window));
    QVERIFY(proxyTimer(&window)->isActive());
    QCOMPARE(proxyTimer(&window)->interval(), 3000);

    // The window starts with the standard tile source to download from and
    // no proxy; the stored proxy is not applied without its dialog.
    const SourceState sources;
    QVERIFY(sources.downloadMode);
    QVERIFY(sources.source.tileLayout);
    QCOMPARE(sources.source.sourceKind, 0);
    QCOMPARE(sources.source.themeProtocol, QStringLiteral("http"));
    const ProxyStep proxy(&window);
    QCOMPARE(proxy.state.port, 80);
    QVERIFY(proxy.state.askProxy);
    QVERIFY(!proxy.settings().enabled);
}

void TestMainWindow::formTexts()
{
    CvTilewright window;
    const QList<QPair<QWidget *, QString>> texts = {
        {form(&window).groupBox, "OpenStreetMap"}, {form(&window).groupBox_2, "Area"},
        {form(&window).lonLabel, "Longitude:"},     {form(&window).latLabel, "Latitude:"},
        {form(&window).zoomLabel, "Current Zoomlevel:"},
        {form(&window).zoomToLabel, "Download Zoomlevel:"},
        {form(&window).folderLabel, "OSM Tiles folder:"}, {form(&window).progLab, "Download:"},
        {form(&window).urlButton, "Source"},       {form(&window).browseButton, "Destination"},
        {form(&window).downloadButton, "Download"}, {form(&window).cancleButton, "Stop"},
        {form(&window).okButton, "Close"},
    };
    QCOMPARE(window.windowTitle(), QStringLiteral("CvTilewright"));
    for (const auto &entry : texts) {
        QString text;
        if (auto *box = qobject_cast<QGroupBox *>(entry.first))
            text = box->title();
        else if (auto *label = qobject_cast<QLabel *>(entry.first))
            text = label->text();
        else
            text = qobject_cast<QAbstractButton *>(entry.first)->text();
        QCOMPARE(text, entry.second);
    }
    // The Close button closes the window.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(form(&window).okButton, Qt::LeftButton);
    QTRY_VERIFY(!window.isVisible());
}

void TestMainWindow::toolBar()
{
    CvTilewright window;
    QToolBar *bar = form(&window).mainToolBar;
    QCOMPARE(window.toolBarArea(bar), Qt::TopToolBarArea);
    const QList<QAction *> actions = bar->actions();
    QCOMPARE(actions.size(), 5);
    QVERIFY(actions.at(2)->isSeparator());
    const QToolButton *buttons[] = {toolButton(&window, 0), toolButton(&window, 1), toolButton(&window, 2),
                                    toolButton(&window, 3)};
    const char *tips[] = {"Info", "Help", "Import MapView Dgml", "Export MBTiles"};
    const QKeySequence keys[] = {QKeySequence(), QKeySequence(Qt::Key_F1), QKeySequence(Qt::Key_F3),
                                 QKeySequence(Qt::CTRL | Qt::Key_E)};
    const int positions[] = {0, 1, 3, 4};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(buttons[i]);
        QCOMPARE(bar->widgetForAction(actions.at(positions[i])), buttons[i]);
        QCOMPARE(buttons[i]->toolTip(), QString::fromLatin1(tips[i]));
        QCOMPARE(buttons[i]->shortcut(), keys[i]);
        QVERIFY(buttons[i]->isEnabled());
        QVERIFY(!buttons[i]->icon().isNull());
    }
    QCOMPARE(buttons[0]->icon().availableSizes().value(0), QSize(14, 14));
    QCOMPARE(buttons[1]->icon().availableSizes().value(0), QSize(16, 16));
    QCOMPARE(buttons[2]->icon().availableSizes().value(0), QSize(16, 16));
    QCOMPARE(buttons[3]->icon().availableSizes().value(0), QSize(16, 16));
}

void TestMainWindow::positionLabelsFollowTheMap()
{
    CvTilewright window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // First start: zoom 1 centred on latitude 0, longitude 0.
    QTRY_COMPARE(form(&window).zoomLabel->text(), QStringLiteral("Current Zoomlevel: 1"));
    QCOMPARE(form(&window).lonLabel->text(), QStringLiteral("Longitude: 0"));
    QCOMPARE(form(&window).latLabel->text(), QStringLiteral("Latitude: 0"));

    // Drag the map a quarter tile to the right: the centre moves west.
    CvMapWidget *map = mapOf(&window);
    const QPoint start(map->width() / 2, map->height() / 2);
    QTest::mousePress(map, Qt::LeftButton, Qt::NoModifier, start);
    QMouseEvent move(QEvent::MouseMove, start + QPoint(64, 0), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(map, &move);
    QTest::mouseRelease(map, Qt::LeftButton, Qt::NoModifier, start + QPoint(64, 0));
    QTRY_COMPARE(form(&window).lonLabel->text(), QStringLiteral("Longitude: -45"));

    // The wheel zooms in about the pointer; the read-out follows at the next paint.
    QWheelEvent wheel(QPointF(start), QPointF(map->mapToGlobal(start)), QPoint(), QPoint(0, 240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(map, &wheel);
    QTRY_COMPARE(form(&window).zoomLabel->text(), QStringLiteral("Current Zoomlevel: 3"));
}

void TestMainWindow::zoomRuleOnTheSpinBox()
{
    CvTilewright window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    CvMapWidget *map = mapOf(&window);
    map->zoomAt(QPoint(map->width() / 2, map->height() / 2), 5);
    QTRY_COMPARE(form(&window).zoomLabel->text(), QStringLiteral("Current Zoomlevel: 5"));

    auto type = [&window](const QString &text) {
        form(&window).zoomTo->selectAll();
        QTest::keyClicks(form(&window).zoomTo, text);
        QTest::keyClick(form(&window).zoomTo, Qt::Key_Enter);
    };
    type(QStringLiteral("14"));
    QCOMPARE(form(&window).zoomTo->value(), 10);
    type(QStringLiteral("8"));
    QCOMPARE(form(&window).zoomTo->value(), 8);

    // Sources other than the public servers are not limited.
    chooseServer(&window, QStringLiteral("http://127.0.0.1:9/tiles/"));
    type(QStringLiteral("17"));
    QCOMPARE(form(&window).zoomTo->value(), 17);
    // In copy mode neither.
    chooseEntry(&window, 0);
    type(QStringLiteral("14"));
    QCOMPARE(form(&window).zoomTo->value(), 10);
    QTemporaryDir folder;
    chooseCopySource(&window, folder.path());
    type(QStringLiteral("18"));
    QCOMPARE(form(&window).zoomTo->value(), 18);
}

// Typed digits are one value: at map zoom 12 the "1" of "14" is not raised
// to 12 on its way; the rule applies to what Enter takes.
void TestMainWindow::spinBoxTakesTheFinishedValue()
{
    CvTilewright window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    CvMapWidget *map = mapOf(&window);
    map->zoomAt(QPoint(map->width() / 2, map->height() / 2), 12);
    QTRY_COMPARE(form(&window).zoomLabel->text(), QStringLiteral("Current Zoomlevel: 12"));
    QTRY_COMPARE(form(&window).zoomTo->value(), 12);
    QVERIFY(!form(&window).zoomTo->keyboardTracking());

    QSignalSpy changes(form(&window).zoomTo, QOverload<int>::of(&QSpinBox::valueChanged));
    form(&window).zoomTo->setFocus();
    form(&window).zoomTo->selectAll();
    QTest::keyClicks(form(&window).zoomTo, QStringLiteral("14"));
    QCOMPARE(form(&window).zoomTo->value(), 12); // nothing taken while typing
    QTest::keyClick(form(&window).zoomTo, Qt::Key_Enter);
    QCOMPARE(form(&window).zoomTo->value(), 14);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.first().at(0).toInt(), 14);

    // Past the limit for zoom 12 the finished value is cut to 15.
    form(&window).zoomTo->selectAll();
    QTest::keyClicks(form(&window).zoomTo, QStringLiteral("17"));
    QTest::keyClick(form(&window).zoomTo, Qt::Key_Enter);
    QCOMPARE(form(&window).zoomTo->value(), 15);
}

void TestMainWindow::paintRaisesDownloadZoom()
{
    CvTilewright window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(form(&window).zoomLabel->text(), QStringLiteral("Current Zoomlevel: 1"));
    QCOMPARE(form(&window).zoomTo->value(), 2);
    CvMapWidget *map = mapOf(&window);
    map->zoomAt(QPoint(map->width() / 2, map->height() / 2), 9);
    QTRY_COMPARE(form(&window).zoomTo->value(), 9);
    // Zooming back out lowers nothing, but a value past the new limit is cut.
    form(&window).zoomTo->setValue(13);
    map->zoomAt(QPoint(map->width() / 2, map->height() / 2), 4);
    QTRY_COMPARE(form(&window).zoomLabel->text(), QStringLiteral("Current Zoomlevel: 4"));
    QTRY_COMPARE(form(&window).zoomTo->value(), 9);
}

void TestMainWindow::helpOpensTheManual()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    CvTilewright window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    // A shortcut animates the button's click, which lands a moment later.
    QTRY_COMPARE(catcher.urls.size(), 1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(catcher.urls.first().toLocalFile(),
             QCoreApplication::applicationDirPath() + QStringLiteral("/Manuals/Tilewright.pdf"));
}

void TestMainWindow::aboutBox()
{
    CvTilewright window;
    QString title;
    QString text;
    answerNextModal<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    QTest::mouseClick(toolButton(&window, 0), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("About Tilewright"));
    QVERIFY(Qt::mightBeRichText(text));
    QVERIFY(text.contains(QStringLiteral("<a href=\"https://")));
}

void TestMainWindow::browseFolderWritesProjection()
{
    QTemporaryDir target;
    CvTilewright window;
    QString caption;
    auto choose = [&](QFileDialog *dialog) {
        caption = dialog->windowTitle();
        // With nothing selected the dialog answers its current folder.
        dialog->setDirectory(target.path());
        static_cast<QDialog *>(dialog)->accept();
    };
    answerNextModal<QFileDialog>(choose);
    QTest::mouseClick(form(&window).browseButton, Qt::LeftButton);
    QCOMPARE(caption, QStringLiteral("Select folder to store map tiles"));
    QCOMPARE(form(&window).tilesFolder->text(), target.path() + QLatin1Char('/'));
    QFile prj(target.filePath(QStringLiteral("map.prj")));
    QVERIFY(prj.open(QIODevice::ReadOnly));
    QCOMPARE(prj.readAll(), DestinationFolder::projectionText());
    prj.close();

    // Choosing it again rewrites the same 91 bytes over whatever was there.
    QVERIFY(prj.open(QIODevice::WriteOnly | QIODevice::Truncate));
    prj.write("garbage");
    prj.close();
    chooseEntry(&window, 1); // the seamarks get one too
    answerNextModal<QFileDialog>(choose);
    QTest::mouseClick(form(&window).browseButton, Qt::LeftButton);
    QVERIFY(prj.open(QIODevice::ReadOnly));
    QCOMPARE(prj.readAll().size(), 91);
}

void TestMainWindow::browseFolderWithoutProjection()
{
    QTemporaryDir target;
    QFile old(target.filePath(QStringLiteral("map.prj")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("keep");
    old.close();
    for (int kind : {2, 3}) {
        CvTilewright window;
        if (kind == 2)
            chooseEntry(&window, 2);
        else
            chooseServer(&window, QStringLiteral("http://127.0.0.1:9/"));
        answerNextModal<QFileDialog>([&](QFileDialog *dialog) {
            dialog->setDirectory(target.path());
            static_cast<QDialog *>(dialog)->accept();
        });
        QTest::mouseClick(form(&window).browseButton, Qt::LeftButton);
        QCOMPARE(form(&window).tilesFolder->text(), target.path() + QLatin1Char('/'));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("keep"));
        old.close();
    }
}

void TestMainWindow::browseFolderCancelled()
{
    CvTilewright window;
    const QString before = form(&window).tilesFolder->text();
    chooseDestination(&window, QString());
    QCOMPARE(form(&window).tilesFolder->text(), before);
}

void TestMainWindow::proxyDetection_data()
{
    QTest::addColumn<QByteArray>("httpProxy");
    QTest::newRow("no proxy") << QByteArray();
    QTest::newRow("system proxy, dialog cancelled") << QByteArray("http://127.0.0.1:3128");
}

// A while after start (three seconds; the test shortens the delay) the
// system's proxy is detected once; a reported proxy is not used before
// credentials for it are proved.
void TestMainWindow::proxyDetection()
{
    QFETCH(QByteArray, httpProxy);
    if (httpProxy.isEmpty())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", httpProxy);
    qunsetenv("TILEWRIGHT_PROXY_DELAY_MS");
    AppConfig::reload();
    {
        CvTilewright window;
        QCOMPARE(proxyTimer(&window)->interval(), 3000);
    }
    qputenv("TILEWRIGHT_PROXY_DELAY_MS", "100");
    AppConfig::reload();
    {
        CvTilewright window;
        QCOMPARE(proxyTimer(&window)->interval(), 100);
        int dialogs = 0;
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [&dialogs] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                ++dialogs;
                dialog->reject();
            }
        });
        cancel.start(20);
        QVERIFY(proxyTimer(&window)->isActive()); // not yet
        QTRY_VERIFY_WITH_TIMEOUT(!proxyTimer(&window)->isActive(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(dialogs, httpProxy.isEmpty() ? 0 : 1, 20000);
        QCOMPARE(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
        // Once per timer start: a stopped timer does not come again.
        QVERIFY(!proxyTimer(&window)->isActive());
        QCOMPARE(dialogs, httpProxy.isEmpty() ? 0 : 1);
    }
    qunsetenv("TILEWRIGHT_PROXY_DELAY_MS");
    AppConfig::reload();
    qunsetenv("http_proxy");
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestMainWindow::germanCatalogue()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(TW_RUNTIME_DIR "/CvTile_de.qm")));
    QCoreApplication::installTranslator(&translator);
    {
        CvTilewright window;
        QCOMPARE(form(&window).urlButton->text(), QStringLiteral("Quelle"));
        QCOMPARE(form(&window).cancleButton->text(), QStringLiteral("Stopp"));
        QCOMPARE(toolButton(&window, 0)->toolTip(), QStringLiteral("Info"));
        QCOMPARE(toolButton(&window, 1)->toolTip(), QStringLiteral("Hilfe"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(form(&window).zoomLabel->text(), QStringLiteral("Aktuelle Zoomstufe: 1"));
    }
    QCoreApplication::removeTranslator(&translator);
}

// Every text of the program has a German translation: lupdate collects the
// texts from the sources as they are now and each one must be translated.
void TestMainWindow::germanCatalogueComplete()
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("fresh.ts"));
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(TW_SOURCE_DIR));
    lupdate.start(QStringLiteral(TW_LUPDATE),
                  {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("app"),
                   QStringLiteral("mapview"), QStringLiteral("acquire"), QStringLiteral("settings"),
                   QStringLiteral("-ts"), fresh});
    QVERIFY(lupdate.waitForFinished(60000));
    QCOMPARE(lupdate.exitCode(), 0);

    auto read = [](const QString &path) {
        QMap<QString, QString> translations; // context + source -> translation ("" = unfinished)
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return translations;
        QXmlStreamReader xml(&file);
        QString context, source;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1String("name"))
                context = xml.readElementText();
            else if (xml.name() == QLatin1String("source"))
                source = xml.readElementText();
            else if (xml.name() == QLatin1String("translation")) {
                const bool unfinished = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
                const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                translations.insert(context + QLatin1Char('|') + source, unfinished ? QString() : text);
            }
        }
        return translations;
    };
    const auto wanted = read(fresh);
    const auto german = read(QStringLiteral(TW_SOURCE_DIR "/resources/CvTile_de.ts"));
    QVERIFY(wanted.size() > 20);
    QStringList missing;
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        if (german.value(it.key()).isEmpty())
            missing << it.key();
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(tilewright);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("CvTilewrightTests"));
    QCoreApplication::setApplicationName(QStringLiteral("mainwindow"));
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
