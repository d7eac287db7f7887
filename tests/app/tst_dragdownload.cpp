// The map dragged far south of the grid with the mouse, then Download: the
// job lists only cells of the grid, ends, and the process does not grow.

#include "TestFiles.h"
#include "WindowForm.h"
#include "app/window/CvTilewright.h"
#include "mapview/widgets/CvMapWidget.h"
#include "settings/AppConfig.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QtTest>

class TestDragDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dragFarSouthThenDownload_data();
    void dragFarSouthThenDownload();

private:
    QTemporaryDir m_roots;
};

void TestDragDownload::initTestCase()
{
    qputenv("TILEWRIGHT_ROOT_D", m_roots.filePath(QStringLiteral("D")).toUtf8());
    qputenv("TILEWRIGHT_ROOT_C", m_roots.filePath(QStringLiteral("C")).toUtf8());
    // No tile request may leave the machine; nothing answers here.
    qputenv("TILEWRIGHT_OSM_TILE_URL", "http://127.0.0.1:9");
    AppConfig::reload();
}

void TestDragDownload::dragFarSouthThenDownload_data()
{
    QTest::addColumn<int>("downloadZoom");
    QTest::newRow("same level") << 3;
    // Deep levels of the same view: without the grid bound each would run its
    // rows to the int limit.
    QTest::newRow("six levels deeper") << 9;
}

void TestDragDownload::dragFarSouthThenDownload()
{
    QFETCH(int, downloadZoom);
    QSettings settings;
    settings.clear();
    SettingsKeys::MapZoom.write(settings, 3u);
    SettingsKeys::MapCenterX.write(settings, 4.0);
    SettingsKeys::MapCenterY.write(settings, 4.0);

    CvTilewright w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *map = w.findChild<CvMapWidget *>();
    QVERIFY(map);
    QCOMPARE(map->mapZoom(), 3);
    const int height = map->height();
    QVERIFY(height > 100);

    // Drag the map up, stroke by stroke, until the view is about 2.5 world
    // heights (8 tiles of 256 pixels at level 3) below the grid.
    int dragged = 0;
    // Through the window system's input path, as the platform delivers them.
    QWindow *window = w.windowHandle();
    QVERIFY(window);
    auto at = [map, &w](int y) { return map->mapTo(&w, QPoint(map->width() / 2 - 40, y)); };
    while (dragged < int(3.0 * 8 * 256)) {
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at(height - 20));
        for (int y = height - 40; y >= 20; y -= 20)
            QTest::mouseMove(window, at(y));
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at(20));
        dragged += height - 40;
    }
    const GeoArea shown = map->visibleArea();
    QVERIFY2(shown.north < -85.0, qPrintable(QString::number(shown.north)));

    form(&w).zoomTo->setValue(downloadZoom);
    QCOMPARE(form(&w).zoomTo->value(), downloadZoom);
    const qint64 before = TestFiles::processStatusKiB("VmRSS:");
    QTest::mouseClick(form(&w).downloadButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form(&w).downloadButton->isEnabled(), 60000);
    const qint64 after = TestFiles::processStatusKiB("VmRSS:");
    qInfo("resident memory before Download %lld KiB, after %lld KiB", before, after);
    // nothing of the grid was shown
    QCOMPARE(form(&w).progLab->text(), QStringLiteral("Nothing to download: the area holds no tile at these zoom levels"));
    QVERIFY(!form(&w).cancleButton->isEnabled());
    QVERIFY2(after - before < 64 * 1024, qPrintable(QString::number(after - before)));
    settings.clear();
}

QTEST_MAIN(TestDragDownload)
#include "tst_dragdownload.moc"
