#pragma once

#include "mapview/GeoArea.h"
#include "mapview/TileId.h"
#include "settings/ProxySettings.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSettings>
#include <QWidget>

#include <memory>

class QPainter;

// The interactive slippy map of the main window. What it shows is the area a
// download covers. Drag with the left button; zoom with the wheel, the middle
// (in) and right (out) buttons, or the two buttons drawn in the right-hand
// corners. The view is kept in the settings store (group "CvMapWidget").
class CvMapWidget : public QWidget
{
    Q_OBJECT

public:
    // The stored view is read clamped: the zoom into the map's range and the
    // centre into its grid.
    explicit CvMapWidget(QWidget *parent = nullptr);
    ~CvMapWidget() override;

    int mapZoom() const { return viewZoom; }
    // West, north, east, south in degrees of what the widget shows.
    GeoArea visibleArea() const;
    // Clamps zoom into 1..17 and zooms about anchor (widget pixels).
    void zoomAt(const QPoint &anchor, int zoom);
    // Image of tile (x, y) at the current zoom, a preview or a placeholder;
    // a null image outside the grid.
    QImage tileImage(int x, int y);
    void saveView();

    void setMapServer(const QString &host, const QString &path, const QString &query, const QString &storageMode,
                      const QString &format, int port, int sourceMode);
    void setMapHost(const QString &host, int sourceMode);
    void reloadMap();
    void setProxy(const QString &host, const QString &user, const QString &password, int port, bool enabled);
    void setProxy(const ProxySettings &proxy);

    // Grid position of the point at the widget's centre, in tiles at mapZoom().
    QPointF center() const { return QPointF(centerX, centerY); }

    // Pixels of the widget that a tile of any zoom covers, drawn itself or as
    // the previews it yields; empty for tiles finer than the view.
    QRect tileArea(const TileId &key) const;

    // The credit of the source shown, drawn small in the bottom right-hand
    // corner beside the zoom-in button; empty: none. Starts with the standard
    // source's credit, the source the map shows first.
    void setAttribution(const QString &text);
    QString attribution() const { return attributionText; }
    // Where the credit is drawn; empty without one.
    QRect attributionRect() const;

public slots:
    // The cache stored this tile: repaints only what it changes on screen.
    void tileArrived(const TileId &key);

signals:
    // After every mouse press, drag step and wheel event.
    void redraw();
    // The centre, the zoom or the size changed: what visibleArea() and
    // mapZoom() report is new. Tile arrivals do not count.
    void viewChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage placeholder(int x, int y) const;
    // Asks the cache for every missing visible tile, as a paint does, so the
    // fetching goes on when an arrival changes nothing on screen.
    void queueVisibleTiles();
    void queueTile(int x, int y);
    void paintAttribution(QPainter &painter) const;
    QFont attributionFont() const;
    // Moves what is shown by a drag step and repaints only what it uncovers.
    void scrollMap(const QPoint &moved);

    std::unique_ptr<QSettings> viewSettings;
    int viewZoom = 1;
    double centerX = 1.0;
    double centerY = 1.0;
    QPoint lastMousePos;
    bool dragging = false;
    // What the wheel turned short of a whole notch (120), kept for the next
    // event: touchpads and fine wheels send steps of a few units.
    int wheelRest = 0;
    bool queueScheduled = false;
    QString attributionText;
};
