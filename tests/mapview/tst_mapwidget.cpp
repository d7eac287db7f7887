// Mouse events go through the window system layer, as a user's do.
#define QTEST_QPA_MOUSE_HANDLING

#include "MapTestSupport.h"
#include "NginxFixture.h"
#include "PostedEvents.h"
#include "mapview/widgets/CvMapCache.h"
#include "mapview/widgets/CvMapWidget.h"
#include "settings/SettingsKeys.h"

#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTranslator>
#include <QWheelEvent>
#include <QScreen>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace MapTest;

namespace {

// Records which contexts were asked for and marks every translation.
class RecordingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        asked << QString::fromLatin1(context) + QLatin1Char('|') + QString::fromLatin1(sourceText);
        if (qstrcmp(context, "Downloader") == 0)
            return QStringLiteral("Wird geladen %1,%2 (Stufe %3)...");
        return QString();
    }
    mutable QStringList asked;
};

void clearStoredView(QSettings &settings)
{
    for (const QString &key : {SettingsKeys::MapCenterX.path(), SettingsKeys::MapCenterY.path(),
                               SettingsKeys::MapZoom.path()})
        settings.remove(key);
}

void storeView(double centerX, double centerY, const QVariant &zoom)
{
    QSettings settings;
    clearStoredView(settings);
    settings.setValue(SettingsKeys::MapCenterX.path(), centerX);
    settings.setValue(SettingsKeys::MapCenterY.path(), centerY);
    if (zoom.isValid())
        settings.setValue(SettingsKeys::MapZoom.path(), zoom);
    settings.sync();
}

void clearView()
{
    QSettings settings;
    clearStoredView(settings);
    settings.sync();
}

QImage renderOf(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    widget.render(&image);
    return image;
}

void wheel(QWidget &widget, const QPoint &pos, int delta)
{
    QWheelEvent event(QPointF(pos), QPointF(widget.mapToGlobal(pos)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &event);
}

// Records the paint events of the map and of the frame it sits in.
class PaintRecorder : public QObject
{
public:
    PaintRecorder(QWidget *map, QWidget *frame)
        : m_map(map)
        , m_frame(frame)
    {
        map->installEventFilter(this);
        frame->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const QRegion region = static_cast<QPaintEvent *>(event)->region();
            if (watched == m_frame)
                ++framePaints;
            else if (watched == m_map && arrivals > 0) {
                mapRegions << region;
                if (!region.subtracted(arrived).isEmpty())
                    ++beyondArrivals;
            }
        }
        return false;
    }
    QWidget *m_map;
    QWidget *m_frame;
    int framePaints = 0;
    int framePaintsAtFirstArrival = -1;
    int arrivals = 0;
    int beyondArrivals = 0;
    QRegion arrived; // what the tiles stored so far cover on screen
    QVector<QRegion> mapRegions;
};

bool allHeld(CvMapCache *cache, const QVector<TileId> &keys)
{
    for (const TileId &key : keys)
        if (!cache->holdsTile(key))
            return false;
    return true;
}

QVector<TileId> tilesOf(int x0, int x1, int y0, int y1, int zoom)
{
    QVector<TileId> keys;
    for (int x = x0; x <= x1; ++x)
        for (int y = y0; y <= y1; ++y)
            keys << TileId{x, y, zoom};
    return keys;
}

void sendDrag(QWidget *widget, const QPoint &from, const QPoint &to)
{
    QMouseEvent press(QEvent::MouseButtonPress, from, widget->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent move(QEvent::MouseMove, to, widget->mapToGlobal(to), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, widget->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

bool isWhite(QRgb pixel)
{
    return qRed(pixel) == 255 && qGreen(pixel) == 255 && qBlue(pixel) == 255;
}

} // namespace

class TestMapWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartShowsTheOverview();
    void placeholderText();
    void zoomButtons_data();
    void zoomButtons();
    void buttonZoomAboutPointer_data();
    void buttonZoomAboutPointer();
    void wheelZoom_data();
    void wheelZoom();
    void dragMovesTheCentre();
    void panningBeyondTheWorldShowsWhite();
    void visibleAreaFollowsZoom();
    void viewIsSavedAndRestored_data();
    void viewIsSavedAndRestored();
    void hostileStoredViewIsClamped_data();
    void hostileStoredViewIsClamped();
    void fillsFromLocalServer();
    void arrivalsRepaintOnlyTheirTiles();
    void offScreenArrivalKeepsFetching();
    void viewChangedFollowsTheView();
    void attributionIsDrawn();
    void attributionFitsTheMap();
    void attributionSurvivesPartialRepaints();
    void dragStepsShowWhatAPaintShows();

private:
    std::unique_ptr<CvMapWidget> showWidget(int w, int h);

    NginxFixture m_nginx;
    QTemporaryDir m_root;
    std::unique_ptr<OverviewFolder> m_overview;
};

void TestMapWidget::initTestCase()
{
    qRegisterMetaType<TileId>();
    QVERIFY(NginxFixture::writeTileTree(m_root.path(), 1, 3));
    QVERIFY2(m_nginx.start(m_root.path()), qPrintable(m_nginx.errorString()));
}

void TestMapWidget::init()
{
    clearView();
    m_overview = std::make_unique<OverviewFolder>();
    freshCache(m_nginx.httpUrl());
}

void TestMapWidget::cleanup()
{
    CvMapCache::resetInstanceForTests();
    m_overview.reset();
}

std::unique_ptr<CvMapWidget> TestMapWidget::showWidget(int w, int h)
{
    auto widget = std::make_unique<CvMapWidget>();
    widget->resize(w, h);
    widget->show();
    if (!QTest::qWaitForWindowExposed(widget.get()))
        return nullptr;
    return widget;
}

void TestMapWidget::firstStartShowsTheOverview()
{
    const int logBefore = m_nginx.completeAccessLog().size();
    auto widget = std::make_unique<CvMapWidget>();
    QCOMPARE(widget->size(), QSize(500, 400));
    QCOMPARE(widget->mapZoom(), 1);
    QCOMPARE(widget->center(), QPointF(1, 1));
    widget->resize(700, 600);
    const QImage shot = renderOf(*widget);
    QVERIFY(deliverPostedEvents()); // whatever the paint set going has run

    // A 512 x 512 square centred in the widget: x 94..605, y 44..555.
    const int left = 94, top = 44;
    for (int x = 0; x < 2; ++x) {
        for (int y = 0; y < 2; ++y) {
            for (int q = 0; q < 4; ++q) {
                const QPoint p(left + x * 256 + (q % 2) * 128 + 64, top + y * 256 + (q / 2) * 128 + 64);
                QVERIFY2(colourNear(shot.pixel(p), quarterColour(TileId{x, y, 1}, q)),
                         qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
            }
        }
    }
    QVERIFY(colourNear(shot.pixel(left, top), quarterColour(TileId{0, 0, 1}, 0)));
    QVERIFY(colourNear(shot.pixel(left + 511, top + 511), quarterColour(TileId{1, 1, 1}, 3)));
    for (const QPoint &p : {QPoint(left - 1, 300), QPoint(left + 512, 300), QPoint(300, top - 1),
                            QPoint(300, top + 512), QPoint(0, 0), QPoint(10, 590)})
        QVERIFY2(isWhite(shot.pixel(p)), qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
    QCOMPARE(CvMapCache::instance()->requestsStarted(), 0);
    QCOMPARE(m_nginx.completeAccessLog().size(), logBefore);
}

void TestMapWidget::placeholderText()
{
    m_overview.reset(); // restores the working folder before the next one takes it
    m_overview = std::make_unique<OverviewFolder>(QStringList{QStringLiteral("100")});
    freshCache(QStringLiteral("http://127.0.0.1:%1").arg(ServerFixture::freePort()));
    CvMapWidget widget;
    const QImage plain = widget.tileImage(1, 1);
    QCOMPARE(plain.size(), QSize(256, 256));
    QCOMPARE(QColor(plain.pixel(0, 0)), QColor(Qt::black));
    QCOMPARE(QColor(plain.pixel(255, 255)), QColor(Qt::black));
    QCOMPARE(QColor(plain.pixel(128, 40)), QColor(Qt::white));
    int dark = 0;
    for (int x = 10; x < 250; ++x)
        for (int y = 110; y < 132; ++y)
            dark += qGray(plain.pixel(x, y)) < 128 ? 1 : 0;
    QVERIFY(dark > 50); // text on the base line at y 128

    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    const QImage translated = widget.tileImage(1, 1);
    QCoreApplication::removeTranslator(&translator);
    QVERIFY(translator.asked.contains(QStringLiteral("Downloader|Downloading %1,%2 (zoom %3)...")));
    QVERIFY(translated != plain);
    // Outside the grid there is nothing, not a placeholder.
    QVERIFY(widget.tileImage(2, 0).isNull());
    QVERIFY(widget.tileImage(0, -1).isNull());
    // A held overview is its own image.
    QVERIFY(colourNear(widget.tileImage(0, 0).pixel(10, 10), quarterColour(TileId{0, 0, 1}, 0)));
}

void TestMapWidget::zoomButtons_data()
{
    QTest::addColumn<QPoint>("offset"); // from the right edge (x) and, when negative y, the bottom
    QTest::addColumn<int>("zoomChange");
    QTest::addColumn<bool>("drags");
    QTest::newRow("minus") << QPoint(10, 5) << -1 << false;
    QTest::newRow("plus") << QPoint(10, -5) << 1 << false;
    QTest::newRow("left of the minus zone drags") << QPoint(20, 5) << 0 << true;
    QTest::newRow("minus zone's left column") << QPoint(19, 19) << -1 << false;
    QTest::newRow("below the minus zone drags") << QPoint(19, 20) << 0 << true;
    QTest::newRow("plus zone's corner") << QPoint(19, -19) << 1 << false;
    QTest::newRow("above the plus zone drags") << QPoint(1, -20) << 0 << true;
    QTest::newRow("right edge column") << QPoint(1, 0) << -1 << false;
}

void TestMapWidget::zoomButtons()
{
    QFETCH(QPoint, offset);
    QFETCH(int, zoomChange);
    QFETCH(bool, drags);
    storeView(12.5, 20.25, 5);
    auto widget = showWidget(500, 400);
    QVERIFY(widget);
    const int w = widget->width(), h = widget->height();
    const QPoint p(w - offset.x(), offset.y() < 0 ? h + offset.y() : offset.y());
    QSignalSpy redraw(widget.get(), &CvMapWidget::redraw);

    QTest::mousePress(widget.get(), Qt::LeftButton, Qt::NoModifier, p);
    QCOMPARE(redraw.count(), 1);
    QCOMPARE(widget->mapZoom(), 5 + zoomChange);
    const double f = std::pow(2.0, zoomChange);
    QCOMPARE(widget->center(), QPointF(12.5 * f, 20.25 * f)); // about the centre
    QTest::mouseMove(widget.get(), p - QPoint(64, 0));
    QTest::mouseRelease(widget.get(), Qt::LeftButton, Qt::NoModifier, p - QPoint(64, 0));
    QCOMPARE(widget->center().x(), 12.5 * f + (drags ? 0.25 : 0.0));
}

void TestMapWidget::buttonZoomAboutPointer_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("startZoom");
    QTest::addColumn<int>("endZoom");
    QTest::newRow("middle zooms in") << int(Qt::MiddleButton) << 4 << 5;
    QTest::newRow("right zooms out") << int(Qt::RightButton) << 4 << 3;
    QTest::newRow("middle at 17 stays") << int(Qt::MiddleButton) << 17 << 17;
    QTest::newRow("right at 1 stays") << int(Qt::RightButton) << 1 << 1;
}

void TestMapWidget::buttonZoomAboutPointer()
{
    QFETCH(int, button);
    QFETCH(int, startZoom);
    QFETCH(int, endZoom);
    storeView(1.5, 1.0, startZoom);
    auto widget = showWidget(500, 400);
    QVERIFY(widget);
    QSignalSpy redraw(widget.get(), &CvMapWidget::redraw);
    const QPoint pointer(378, 72); // 128 px right of and 128 px above the centre
    const QPointF before = widget->center() + QPointF(0.5, -0.5);
    QTest::mouseClick(widget.get(), Qt::MouseButton(button), Qt::NoModifier, pointer);
    QCOMPARE(widget->mapZoom(), endZoom);
    QCOMPARE(redraw.count(), 1);
    // The map point under the pointer stays under it.
    const QPointF after = widget->center() + QPointF(0.5, -0.5);
    const double f = std::pow(2.0, endZoom - startZoom);
    QCOMPARE(after, before * f);
    if (endZoom == startZoom)
        QCOMPARE(widget->center(), QPointF(1.5, 1.0));
}

void TestMapWidget::wheelZoom_data()
{
    QTest::addColumn<QVector<int>>("deltas"); // one wheel event each
    QTest::addColumn<int>("zoomChange");
    QTest::newRow("two notches in") << QVector<int>{240} << 2;
    QTest::newRow("one notch out") << QVector<int>{-120} << -1;
    QTest::newRow("half a notch does nothing") << QVector<int>{60} << 0;
    QTest::newRow("one and a half notches") << QVector<int>{-180} << -1;
    // Touchpads and fine wheels send parts of a notch; they add up.
    QTest::newRow("eight touchpad steps of 15") << QVector<int>(8, 15) << 1;
    QTest::newRow("three fine steps of -40") << QVector<int>(3, -40) << -1;
    QTest::newRow("rest kept past a notch") << QVector<int>{90, 90, 60} << 2;
    QTest::newRow("back and forth") << QVector<int>{100, -100, 100, -100} << 0;
    QTest::newRow("past the largest zoom") << QVector<int>{2000000000, 2000000000} << 13;
}

void TestMapWidget::wheelZoom()
{
    QFETCH(QVector<int>, deltas);
    QFETCH(int, zoomChange);
    storeView(8.0, 8.0, 4);
    auto widget = showWidget(512, 512);
    QVERIFY(widget);
    QSignalSpy redraw(widget.get(), &CvMapWidget::redraw);
    for (const int delta : deltas)
        wheel(*widget, QPoint(256, 256), delta);
    QCOMPARE(widget->mapZoom(), 4 + zoomChange);
    QCOMPARE(widget->center(), QPointF(8.0, 8.0) * std::pow(2.0, zoomChange));
    QCOMPARE(redraw.count(), deltas.size());
}

void TestMapWidget::dragMovesTheCentre()
{
    storeView(5.0, 6.0, 4);
    auto widget = showWidget(600, 500);
    QVERIFY(widget);
    QSignalSpy redraw(widget.get(), &CvMapWidget::redraw);
    QTest::mousePress(widget.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(widget.get(), QPoint(228, 100));
    QTest::mouseMove(widget.get(), QPoint(356, 164));
    QTest::mouseRelease(widget.get(), Qt::LeftButton, Qt::NoModifier, QPoint(356, 164));
    QCOMPARE(widget->center(), QPointF(4.0, 5.75));
    QCOMPARE(redraw.count(), 3); // the press and two drag steps
    // Moves after the release change nothing.
    QTest::mouseMove(widget.get(), QPoint(10, 10));
    QCOMPARE(widget->center(), QPointF(4.0, 5.75));
}

void TestMapWidget::panningBeyondTheWorldShowsWhite()
{
    storeView(1.0, 1.0, 2);
    auto widget = showWidget(500, 400);
    QVERIFY(widget);
    for (int i = 0; i < 5; ++i) {
        QTest::mousePress(widget.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 30));
        QTest::mouseMove(widget.get(), QPoint(250, 200));
        QTest::mouseMove(widget.get(), QPoint(470, 390));
        QTest::mouseRelease(widget.get(), Qt::LeftButton, Qt::NoModifier, QPoint(470, 390));
    }
    QCOMPARE(widget->center(), QPointF(1.0 - 5 * 460 / 256.0, 1.0 - 5 * 360 / 256.0));
    CvMapCache *cache = CvMapCache::instance();
    QTRY_VERIFY(!cache->isRequestPending());
    const int started = cache->requestsStarted();
    const QVector<TileId> queued = cache->queuedKeys();
    const QImage shot = renderOf(*widget);
    for (int x = 0; x < 470; x += 7)
        for (int y = 25; y < 370; y += 7)
            QVERIFY(isWhite(shot.pixel(x, y)));
    QCOMPARE(cache->requestsStarted(), started);
    QCOMPARE(cache->queuedKeys(), queued);
}

void TestMapWidget::visibleAreaFollowsZoom()
{
    CvMapWidget widget;
    GeoArea area = widget.visibleArea();
    QCOMPARE(area.west, -175.78125);
    QCOMPARE(area.east, 175.78125);
    QVERIFY(qAbs(area.north - 80.17871349622823) < 1e-9);
    QVERIFY(qAbs(area.south + 80.17871349622823) < 1e-9);
    widget.zoomAt(QPoint(250, 200), 2);
    area = widget.visibleArea();
    QCOMPARE(area.west, -87.890625);
    QCOMPARE(area.east, 87.890625);
    QVERIFY(qAbs(area.north - 57.32652122521708) < 1e-9);
}

void TestMapWidget::viewIsSavedAndRestored_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QVariant>("zoom");
    QTest::addColumn<QPointF>("storedCenter");
    QTest::addColumn<int>("readZoom");
    QTest::addColumn<QPointF>("readCenter");
    QTest::newRow("nothing stored") << false << QVariant() << QPointF() << 1 << QPointF(1, 1);
    QTest::newRow("plain") << true << QVariant(9) << QPointF(270.5, 180.25) << 9 << QPointF(270.5, 180.25);
    QTest::newRow("zoom truncated") << true << QVariant(5.9) << QPointF(3, 4) << 5 << QPointF(3, 4);
    QTest::newRow("zoom text") << true << QVariant(QStringLiteral("7")) << QPointF(3, 4) << 7 << QPointF(3, 4);
    // Out-of-range zooms are clamped; the centre follows so the place stays.
    QTest::newRow("zoom 0") << true << QVariant(0) << QPointF(0.5, 0.5) << 1 << QPointF(1, 1);
    QTest::newRow("zoom -3") << true << QVariant(-3) << QPointF(0.125, 0.0625) << 1 << QPointF(2, 1);
    QTest::newRow("zoom 19") << true << QVariant(19) << QPointF(400000, 300000) << 17 << QPointF(100000, 75000);
}

void TestMapWidget::viewIsSavedAndRestored()
{
    QFETCH(bool, stored);
    QFETCH(QVariant, zoom);
    QFETCH(QPointF, storedCenter);
    QFETCH(int, readZoom);
    QFETCH(QPointF, readCenter);
    if (stored)
        storeView(storedCenter.x(), storedCenter.y(), zoom);
    {
        CvMapWidget widget;
        QCOMPARE(widget.mapZoom(), readZoom);
        QCOMPARE(widget.center(), readCenter);
        widget.zoomAt(QPoint(250, 200), readZoom == 17 ? 16 : readZoom + 1);
    }
    QSettings settings;
    const int savedZoom = readZoom == 17 ? 16 : readZoom + 1;
    const double f = std::pow(2.0, savedZoom - readZoom);
    QCOMPARE(settings.value(SettingsKeys::MapZoom.path()).toInt(), savedZoom);
    QCOMPARE(SettingsKeys::MapCenterX.read(settings), readCenter.x() * f);
    QCOMPARE(SettingsKeys::MapCenterY.read(settings), readCenter.y() * f);

    // The next widget starts where this one ended.
    CvMapWidget next;
    QCOMPARE(next.mapZoom(), savedZoom);
    QCOMPARE(next.center(), readCenter * f);
}

void TestMapWidget::hostileStoredViewIsClamped_data()
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<int>("readZoom");
    QTest::addColumn<QPointF>("readCenter");
    QTest::newRow("far north-west at 2") << -1e12 << -1e12 << 2.0 << 2 << QPointF(0, 0);
    QTest::newRow("far south-east at 18") << 1e12 << 1e12 << 18.0 << 17 << QPointF(131072, 131072);
    QTest::newRow("zoom -5, huge row") << 1.0 << 1e12 << -5.0 << 1 << QPointF(2, 2);
    QTest::newRow("zoom -1e300") << 1.0 << 1.0 << -1e300 << 1 << QPointF(2, 2);
    QTest::newRow("zoom 1e300") << 1e308 << 1e308 << 1e300 << 17 << QPointF(131072, 131072);
    QTest::newRow("not a number") << nan << nan << nan << 1 << QPointF(1, 1);
    QTest::newRow("infinities") << inf << -inf << inf << 1 << QPointF(1, 1);
    QTest::newRow("infinite zoom, place kept") << 3.0 << 2.0 << -inf << 1 << QPointF(2, 2);
}

// A stored view is read into the map: the window comes up, paints and reports
// its area at once, and writes back what it shows.
void TestMapWidget::hostileStoredViewIsClamped()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, zoom);
    QFETCH(int, readZoom);
    QFETCH(QPointF, readCenter);
    storeView(x, y, zoom);
    {
        CvMapWidget widget;
        QCOMPARE(widget.mapZoom(), readZoom);
        QCOMPARE(widget.center(), readCenter);
        QVERIFY(!renderOf(widget).isNull());
        const GeoArea area = widget.visibleArea();
        QVERIFY(std::isfinite(area.west) && std::isfinite(area.north));
    }
    QSettings settings;
    QCOMPARE(int(SettingsKeys::MapZoom.read(settings)), readZoom);
    QCOMPARE(SettingsKeys::MapCenterX.read(settings), readCenter.x());
    QCOMPARE(SettingsKeys::MapCenterY.read(settings), readCenter.y());
}

void TestMapWidget::fillsFromLocalServer()
{
    // The real overview images, when the build has them, make the screenshot
    // look like the program.
    const QString realTiles = QStringLiteral(TW_RUNTIME_DIR "/Tiles");
    if (QFile::exists(realTiles + QStringLiteral("/100.png"))) {
        for (const QString &name : QDir(realTiles).entryList({QStringLiteral("*.png")})) {
            QFile::remove(m_overview->path() + QStringLiteral("/Tiles/") + name);
            QFile::copy(realTiles + QLatin1Char('/') + name, m_overview->path() + QStringLiteral("/Tiles/") + name);
        }
        freshCache(m_nginx.httpUrl());
    }
    storeView(4.0, 3.0, 3);
    auto widget = showWidget(800, 560);
    QVERIFY(widget);
    CvMapCache *cache = CvMapCache::instance();

    // Visible tiles: columns 2..5, rows 1..4 at zoom 3 (800 x 560 around 4, 3).
    QVector<TileId> visible;
    for (int x = 2; x <= 5; ++x)
        for (int y = 1; y <= 4; ++y)
            visible << TileId{x, y, 3};
    auto allHeld = [&] {
        for (const TileId &key : qAsConst(visible))
            if (!cache->holdsTile(key))
                return false;
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allHeld(), 30000);
    QTRY_VERIFY(!cache->isRequestPending());

    const QImage shot = renderOf(*widget);
    const QByteArray screenshot = qgetenv("TW_MAPVIEW_SCREENSHOT");
    if (!screenshot.isEmpty())
        shot.save(QString::fromLocal8Bit(screenshot));
    // Tile (4, 3) begins at the centre (400, 280).
    const QImage expected = QImage::fromData(NginxFixture::tilePng(4, 3, 3));
    QCOMPARE(shot.copy(400, 280, 256, 256).convertToFormat(QImage::Format_RGB32),
             expected.convertToFormat(QImage::Format_RGB32).copy(0, 0, 256, 256));
    int requests = 0;
    for (const QString &line : m_nginx.completeAccessLog())
        requests += line.contains(QLatin1String(" /3/")) ? 1 : 0;
    QVERIFY(requests >= visible.size());
}

void TestMapWidget::arrivalsRepaintOnlyTheirTiles()
{
    storeView(4.0, 3.0, 3);
    QWidget frame; // stands for the group box the map sits in
    auto *map = new CvMapWidget(&frame);
    QVERIFY(map->testAttribute(Qt::WA_OpaquePaintEvent));
    map->setGeometry(10, 10, 800, 560);
    frame.resize(820, 580);
    CvMapCache *cache = CvMapCache::instance();
    PaintRecorder recorder(map, &frame);
    QSignalSpy viewChanged(map, &CvMapWidget::viewChanged);
    connect(cache, &CvMapCache::requestDone, map, [&](const TileId &key, bool stored) {
        if (!stored)
            return;
        if (recorder.arrivals++ == 0)
            recorder.framePaintsAtFirstArrival = recorder.framePaints;
        recorder.arrived += map->tileArea(key);
    });
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const int changesAtShow = viewChanged.count();

    // Columns 2..5, rows 1..4 at zoom 3 are visible; parents arrive as well.
    const QVector<TileId> visible = tilesOf(2, 5, 1, 4, 3);
    QTRY_VERIFY_WITH_TIMEOUT(allHeld(cache, visible), 30000);
    QTRY_VERIFY(!cache->isRequestPending());
    QVERIFY(recorder.arrivals >= visible.size());
    // The frame beneath was not painted again, the map only where tiles came.
    QCOMPARE(recorder.framePaints, recorder.framePaintsAtFirstArrival);
    QCOMPARE(recorder.beyondArrivals, 0);
    QVERIFY(!recorder.mapRegions.isEmpty());
    const QRegion whole(map->rect());
    QVERIFY(std::any_of(recorder.mapRegions.cbegin(), recorder.mapRegions.cend(),
                        [&whole](const QRegion &r) { return r != whole; }));
    QCOMPARE(viewChanged.count(), changesAtShow); // arrivals do not change the view

    // Where a tile lies: itself at the view's zoom, its previews' area one
    // level up, nothing for a finer one.
    QCOMPARE(map->tileArea(TileId{4, 3, 3}), QRect(400, 280, 256, 256));
    QCOMPARE(map->tileArea(TileId{2, 1, 2}), QRect(400, 24, 400, 512));
    QCOMPARE(map->tileArea(TileId{1, 1, 3}), QRect());
    QCOMPARE(map->tileArea(TileId{8, 6, 4}), QRect());
}

void TestMapWidget::offScreenArrivalKeepsFetching()
{
    storeView(2.0, 2.0, 3);
    auto widget = showWidget(300, 300);
    QVERIFY(widget);
    CvMapCache *cache = CvMapCache::instance();
    QTRY_VERIFY_WITH_TIMEOUT(allHeld(cache, tilesOf(1, 2, 1, 2, 3)), 15000);
    QTRY_VERIFY(!cache->isRequestPending());

    // A tile far off the view is in flight while the map moves on and paints
    // its new part, whose tiles can only be queued meanwhile. The arrival
    // changes nothing on screen, and yet the new part must load.
    cache->requestTile(TileId{7, 7, 3});
    QVERIFY(cache->isRequestPending());
    for (int i = 0; i < 3; ++i)
        sendDrag(widget.get(), QPoint(280, 280), QPoint(24, 24));
    QCOMPARE(widget->center(), QPointF(5.0, 5.0));
    widget->repaint();
    QVERIFY(cache->isRequestPending());
    QTRY_VERIFY_WITH_TIMEOUT(allHeld(cache, tilesOf(4, 5, 4, 5, 3)), 15000);
    QVERIFY(cache->holdsTile(TileId{7, 7, 3}));
}

void TestMapWidget::viewChangedFollowsTheView()
{
    storeView(4.0, 3.0, 3);
    auto widget = showWidget(500, 400);
    QVERIFY(widget);
    QSignalSpy changed(widget.get(), &CvMapWidget::viewChanged);
    sendDrag(widget.get(), QPoint(100, 100), QPoint(164, 100)); // one drag step
    QCOMPARE(changed.count(), 1);
    widget->zoomAt(QPoint(250, 200), 4);
    QCOMPARE(changed.count(), 2);
    widget->zoomAt(QPoint(250, 200), 4); // no change, no signal
    widget->zoomAt(QPoint(250, 200), 40);
    QCOMPARE(changed.count(), 3); // clamped to 17, still a change
    widget->zoomAt(QPoint(250, 200), 18);
    QCOMPARE(changed.count(), 3);
    widget->resize(640, 400);
    QCOMPARE(changed.count(), 4);
    widget->reloadMap(); // same view, new tiles
    QCOMPARE(changed.count(), 4);
}

void TestMapWidget::attributionIsDrawn()
{
    // Zoom 1 around (1, 1): the bottom right-hand corner shows tile (1, 1).
    CvMapWidget widget;
    QCOMPARE(widget.attribution(), QStringLiteral("\u00a9 OpenStreetMap contributors")); // what the map shows first
    widget.setAttribution(QString());
    QVERIFY(widget.attributionRect().isEmpty());
    const QImage plain = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);

    widget.setAttribution(QStringLiteral("  \u00a9 OpenStreetMap contributors,\n  \u00a9 OpenSeaMap "));
    QCOMPARE(widget.attribution(), QStringLiteral("\u00a9 OpenStreetMap contributors, \u00a9 OpenSeaMap"));
    const QImage credited = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage png = credited.copy();
    const QByteArray shotPath = qgetenv("TW_ATTRIBUTION_SCREENSHOT");
    if (!shotPath.isEmpty())
        png.save(QString::fromLocal8Bit(shotPath));

    // Bottom right, left of the zoom-in button, small.
    const QRect box = widget.attributionRect();
    QCOMPARE(box.bottom(), widget.height() - 1);
    QVERIFY(box.right() < widget.width() - 21);
    QVERIFY(box.height() <= 20);
    QVERIFY(box.width() > 100);

    // The box lightens every pixel it covers and nothing else changes.
    int dark = 0;
    for (int x = 0; x < widget.width(); ++x) {
        for (int y = 0; y < widget.height(); ++y) {
            const QRgb before = plain.pixel(x, y);
            const QRgb after = credited.pixel(x, y);
            if (!box.contains(x, y)) {
                QVERIFY2(before == after, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
                continue;
            }
            QVERIFY2(before != after, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            dark += qGray(after) < 90 ? 1 : 0;
        }
    }
    QVERIFY(qGray(credited.pixel(box.left() + 1, box.top() + 1)) > qGray(plain.pixel(box.left() + 1, box.top() + 1)));
    QVERIFY2(dark > 40, qPrintable(QString::number(dark))); // the letters
    // All of them: the text ends in "OpenSeaMap", not in an ellipsis, whose
    // three dots leave the box's right-hand part with hardly any ink.
    int inkAtTheEnd = 0;
    for (int x = box.right() - 14; x < box.right() - 2; ++x)
        for (int y = box.top(); y <= box.bottom(); ++y)
            inkAtTheEnd += qGray(credited.pixel(x, y)) < 90 ? 1 : 0;
    QVERIFY2(inkAtTheEnd > 8, qPrintable(QString::number(inkAtTheEnd)));

    // Taking the credit away gives the plain map back.
    widget.setAttribution(QString());
    QCOMPARE(widget.grab().toImage().convertToFormat(QImage::Format_RGB32), plain);
}

void TestMapWidget::attributionFitsTheMap()
{
    CvMapWidget widget;
    widget.resize(300, 200);
    widget.setAttribution(QStringLiteral("\u00a9 ") + QString(400, QLatin1Char('x'))); // a theme's long licence
    const QRect box = widget.attributionRect();
    QVERIFY(!box.isEmpty());
    QVERIFY(box.left() >= 0);
    QVERIFY(box.right() < widget.width() - 21);
    QCOMPARE(box.bottom(), widget.height() - 1);

    // A map too narrow for any text shows none rather than a sliver.
    widget.resize(30, 200);
    QVERIFY(widget.attributionRect().isEmpty());
    const QImage narrow = widget.grab().toImage();
    QCOMPARE(narrow.size(), QSize(30, 200));
}

void TestMapWidget::attributionSurvivesPartialRepaints()
{
    // Tiles arrive beneath the credit one by one and repaint only their
    // part of it; what is on screen at the end must be what a whole paint
    // draws.
    storeView(4.0, 3.0, 3);
    auto widget = showWidget(800, 560);
    QVERIFY(widget);
    widget->setAttribution(QStringLiteral("\u00a9 OpenStreetMap contributors, \u00a9 OpenSeaMap"));
    CvMapCache *cache = CvMapCache::instance();
    QTRY_VERIFY_WITH_TIMEOUT(allHeld(cache, tilesOf(2, 5, 1, 4, 3)), 30000);
    QTRY_VERIFY(!cache->isRequestPending());

    // And a repaint of half of it, as a tile edge through it would cause.
    const QRect box = widget->attributionRect();
    widget->repaint(QRect(box.center().x(), box.top() - 10, box.width(), 30));

    QScreen *screen = widget->screen();
    QVERIFY(screen);
    const QImage onScreen = screen->grabWindow(widget->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage whole = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(onScreen.size(), whole.size());
    const QRect around = box.adjusted(-4, -4, 0, 0);
    QCOMPARE(onScreen.copy(around), whole.copy(around));
}

// A drag moves what is on screen and paints only what comes into view: the
// screen then shows what painting the whole map afresh shows, buttons included.
void TestMapWidget::dragStepsShowWhatAPaintShows()
{
    storeView(4.0, 3.0, 3);
    auto widget = showWidget(600, 400);
    QVERIFY(widget);
    CvMapCache *cache = CvMapCache::instance();
    QTRY_VERIFY_WITH_TIMEOUT(allHeld(cache, tilesOf(2, 5, 2, 3, 3)), 30000);
    const auto onScreen = [&] {
        return QGuiApplication::primaryScreen()->grabWindow(widget->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QPoint from(300, 200);
    QMouseEvent press(QEvent::MouseButtonPress, from, widget->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget.get(), &press);
    QPoint at = from;
    for (const QPoint &step : {QPoint(37, 0), QPoint(0, -23), QPoint(-120, 45), QPoint(5, 5), QPoint(-300, -150)}) {
        at += step;
        QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(widget.get(), &move);
        QTRY_VERIFY(!cache->isRequestPending());
        QTRY_COMPARE(onScreen(), renderOf(*widget).convertToFormat(QImage::Format_RGB32));
    }
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget.get(), &release);
}

QTEST_MAIN(TestMapWidget)
#include "tst_mapwidget.moc"
