#include "mapview/widgets/CvMapWidget.h"

#include "mapview/widgets/CvMapCache.h"
#include "mapview/SourcePolicy.h"
#include "mapview/TileGeometry.h"
#include "settings/AppConfig.h"
#include "settings/SettingsKeys.h"
#include "settings/SourceKind.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QVarLengthArray>
#include <QWheelEvent>

#include <cmath>

namespace {

// Zoom buttons: drawn squares and the click zones beside them.
constexpr int kButtonSize = 20;
// What is drawn over the tiles at a fixed place: the zoom buttons in the
// right-hand corners and the strip along the bottom edge. A scrolled map
// repaints them where they are and where the scroll moved their pixels to.
constexpr int kCornerSize = kButtonSize + 2;
constexpr int kBottomStrip = 24;

// The credit: small dark text on a half-transparent white box, readable on
// dark and light tiles alike, ending left of the zoom-in button.
constexpr int kAttributionPixelSize = 11;
constexpr int kAttributionPadding = 3;
constexpr int kAttributionRightGap = kButtonSize + 3;
const QColor kAttributionBox(255, 255, 255, 190);
const QColor kAttributionInk(34, 34, 34);

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

} // namespace

CvMapWidget::CvMapWidget(QWidget *parent)
    : QWidget(parent)
    , viewSettings(std::make_unique<QSettings>())
{
    // A missing view is (1, 1) at zoom 1: latitude 0, longitude 0. Anything
    // else that is no number is taken as missing; the rest is brought into
    // the map at the nearest zoom it shows, keeping the stored place where
    // it lies in the world, so nothing computed from it can run away.
    using namespace SettingsKeys;
    const double zoom = std::trunc(qBound(-1000.0, finiteOr(MapZoom.read(*viewSettings), MapZoom.missing()), 1000.0));
    viewZoom = TileGeometry::clampViewZoom(int(zoom));
    const double scale = std::pow(2.0, viewZoom - zoom);
    const double side = TileGeometry::tilesPerSide(viewZoom);
    centerX = qBound(0.0, finiteOr(MapCenterX.read(*viewSettings), MapCenterX.missing()) * scale, side);
    centerY = qBound(0.0, finiteOr(MapCenterY.read(*viewSettings), MapCenterY.missing()) * scale, side);

    // Every pixel is painted (white beyond the world), so nothing beneath the
    // map is repainted when a tile arrives.
    setAttribute(Qt::WA_OpaquePaintEvent);
    attributionText = SourcePolicy::forSource(SourceKind::StandardTiles, QUrl(AppConfig::instance().osmTileUrl), false)
                          .attribution;
    connect(CvMapCache::ensureInstance(), &CvMapCache::tileStored, this, &CvMapWidget::tileArrived);
    resize(500, 400);
}

CvMapWidget::~CvMapWidget()
{
    saveView();
}

GeoArea CvMapWidget::visibleArea() const
{
    return TileGeometry::visibleArea(width(), height(), centerX, centerY, viewZoom);
}

void CvMapWidget::zoomAt(const QPoint &anchor, int zoom)
{
    const TileGeometry::ZoomResult result =
        TileGeometry::zoomAt(anchor, width(), height(), viewZoom, zoom, centerX, centerY);
    if (!result.changed)
        return;
    viewZoom = result.zoom;
    centerX = result.centerX;
    centerY = result.centerY;
    update();
    emit viewChanged();
}

QImage CvMapWidget::tileImage(int x, int y)
{
    if (!TileGeometry::tileExists(x, y, viewZoom))
        return QImage();
    if (CvMapCache *cache = CvMapCache::instance()) {
        const QImage image = cache->cachedTile(x, y, viewZoom);
        if (!image.isNull())
            return image;
    }
    return placeholder(x, y);
}

QImage CvMapWidget::placeholder(int x, int y) const
{
    // The outlined square covers every pixel, so the image is opaque and is
    // copied, not blended, when drawn.
    QImage image(TileGeometry::TileSize, TileGeometry::TileSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QPen(QColor(0, 0, 0, 255), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(0, 0, 255, 255);
    painter.drawText(QPoint(10, 128), QCoreApplication::translate("Downloader", "Downloading %1,%2 (zoom %3)...")
                                          .arg(x)
                                          .arg(y)
                                          .arg(viewZoom));
    return image;
}

void CvMapWidget::saveView()
{
    if (viewSettings) {
        SettingsKeys::MapCenterX.write(*viewSettings, centerX);
        SettingsKeys::MapCenterY.write(*viewSettings, centerY);
        SettingsKeys::MapZoom.write(*viewSettings, uint(viewZoom));
        viewSettings->sync();
    }
}

void CvMapWidget::setMapServer(const QString &host, const QString &path, const QString &query,
                               const QString &storageMode, const QString &format, int port, int sourceMode)
{
    if (CvMapCache *cache = CvMapCache::instance())
        cache->setServer(host, path, query, storageMode, format, port, sourceMode);
}

void CvMapWidget::setMapHost(const QString &host, int sourceMode)
{
    if (CvMapCache *cache = CvMapCache::instance())
        cache->setServerHost(host, sourceMode);
}

void CvMapWidget::reloadMap()
{
    if (CvMapCache *cache = CvMapCache::instance())
        cache->reload();
    update();
}

void CvMapWidget::setProxy(const QString &host, const QString &user, const QString &password, int port,
                           bool enabled)
{
    setProxy(ProxySettings{host, port, user, password, enabled});
}

void CvMapWidget::setProxy(const ProxySettings &proxy)
{
    if (CvMapCache *cache = CvMapCache::instance())
        cache->setProxy(proxy);
}

QRect CvMapWidget::tileArea(const TileId &key) const
{
    const int levels = viewZoom - key.zoom;
    if (levels < 0 || levels > 30)
        return QRect();
    // Pixel of the view's grid line n: tile firstTile begins at firstPixel.
    const TileGeometry::AxisPlacement columns = TileGeometry::placeAxis(width(), centerX);
    const TileGeometry::AxisPlacement rows = TileGeometry::placeAxis(height(), centerY);
    const qint64 span = qint64(1) << levels;
    const auto edge = [](const TileGeometry::AxisPlacement &axis, qint64 line) {
        return qint64(axis.firstPixel) + (line - axis.firstTile) * TileGeometry::TileSize;
    };
    const qint64 left = qMax<qint64>(edge(columns, key.x * span), -1);
    const qint64 top = qMax<qint64>(edge(rows, key.y * span), -1);
    const qint64 right = qMin<qint64>(edge(columns, (key.x + 1) * span), width() + 1);
    const qint64 bottom = qMin<qint64>(edge(rows, (key.y + 1) * span), height() + 1);
    if (right <= left || bottom <= top)
        return QRect();
    return QRect(int(left), int(top), int(right - left), int(bottom - top)).intersected(rect());
}

void CvMapWidget::tileArrived(const TileId &key)
{
    if (!isVisible())
        return; // nothing is painted, so nothing is fetched, until it is shown
    const QRect area = tileArea(key);
    if (!area.isEmpty()) {
        update(area);
        return;
    }
    // Nothing on screen changes, but the paint that would have followed is
    // what queues the next missing tile; do its queueing alone.
    if (queueScheduled)
        return;
    queueScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            queueScheduled = false;
            queueVisibleTiles();
        },
        Qt::QueuedConnection);
}

void CvMapWidget::setAttribution(const QString &text)
{
    const QString simplified = text.simplified();
    if (simplified == attributionText)
        return;
    const QRect before = attributionRect();
    attributionText = simplified;
    update(before.united(attributionRect()));
}

QFont CvMapWidget::attributionFont() const
{
    QFont small = font();
    small.setPixelSize(kAttributionPixelSize);
    return small;
}

QRect CvMapWidget::attributionRect() const
{
    if (attributionText.isEmpty())
        return QRect();
    const QFontMetrics metrics(attributionFont());
    const int right = width() - kAttributionRightGap;
    const int room = right - 2 * kAttributionPadding;
    if (room < metrics.averageCharWidth() * 4)
        return QRect(); // too narrow a map for any credit
    // Two pixels more than the advance: the letters' bearings may reach out.
    const int textWidth = qMin(metrics.horizontalAdvance(attributionText) + 2, room);
    const int boxWidth = textWidth + 2 * kAttributionPadding;
    const int boxHeight = metrics.height() + 2;
    return QRect(right - boxWidth, height() - boxHeight, boxWidth, boxHeight);
}

void CvMapWidget::paintAttribution(QPainter &painter) const
{
    const QRect box = attributionRect();
    if (box.isEmpty())
        return;
    // Drawn whole in every paint, clipped to what is repainted, so a tile
    // repainted beneath part of it gets the same box and letters back.
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(kAttributionBox);
    painter.drawRect(box);
    painter.setFont(attributionFont());
    painter.setPen(kAttributionInk);
    const QRect textArea = box.adjusted(kAttributionPadding, 0, -kAttributionPadding, 0);
    const QFontMetrics metrics = painter.fontMetrics();
    const QString shown = metrics.horizontalAdvance(attributionText) <= textArea.width()
                              ? attributionText
                              : metrics.elidedText(attributionText, Qt::ElideRight, textArea.width());
    painter.drawText(textArea, Qt::AlignRight | Qt::AlignVCenter, shown);
    painter.restore();
}

void CvMapWidget::queueTile(int x, int y)
{
    CvMapCache *cache = CvMapCache::instance();
    if (cache && TileGeometry::tileExists(x, y, viewZoom) && !cache->holdsTile(TileId{x, y, viewZoom}))
        cache->cachedTile(x, y, viewZoom); // queues it and, through its preview, a missing parent
}

void CvMapWidget::queueVisibleTiles()
{
    const TileGeometry::AxisPlacement columns = TileGeometry::placeAxis(width(), centerX);
    const TileGeometry::AxisPlacement rows = TileGeometry::placeAxis(height(), centerY);
    for (int px = columns.firstPixel, x = columns.firstTile; px < width(); px += TileGeometry::TileSize, ++x)
        for (int py = rows.firstPixel, y = rows.firstTile; py < height(); py += TileGeometry::TileSize, ++y)
            queueTile(x, y);
}

void CvMapWidget::paintEvent(QPaintEvent *event)
{
    const int w = width();
    const int h = height();
    // The parts to repaint: after a scroll, strips along the edges and the
    // fixed overlays, not their bounding rectangle.
    const QRegion dirty = event->region();

    // Every visible position is visited in the same order whatever the dirty
    // part is: the visit is what queues the missing tiles. Only the tiles in
    // the dirty part are decoded and drawn.
    struct Placed
    {
        QPoint at;
        QImage image;
    };
    QVarLengthArray<Placed, 64> placed;
    QRegion white(dirty); // beyond the world and beneath tiles with alpha
    const TileGeometry::AxisPlacement columns = TileGeometry::placeAxis(w, centerX);
    const TileGeometry::AxisPlacement rows = TileGeometry::placeAxis(h, centerY);
    for (int px = columns.firstPixel, x = columns.firstTile; px < w; px += TileGeometry::TileSize, ++x) {
        for (int py = rows.firstPixel, y = rows.firstTile; py < h; py += TileGeometry::TileSize, ++y) {
            const QRect place(px, py, TileGeometry::TileSize, TileGeometry::TileSize);
            if (!dirty.intersects(place)) {
                queueTile(x, y);
                continue;
            }
            QImage image = tileImage(x, y);
            if (image.isNull())
                continue;
            if (!image.hasAlphaChannel() && image.width() >= TileGeometry::TileSize
                && image.height() >= TileGeometry::TileSize)
                white -= place;
            placed.append(Placed{place.topLeft(), std::move(image)});
        }
    }

    QPainter painter(this);
    for (const QRect &part : white)
        painter.fillRect(part, QColor(255, 255, 255, 255));
    for (const Placed &tile : placed)
        painter.drawImage(tile.at, tile.image);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 128));
    painter.drawRect(w - 21, 0, kButtonSize, kButtonSize);
    painter.drawRect(w - 21, h - 21, kButtonSize, kButtonSize);
    painter.setBrush(QColor(0, 0, 0, 255));
    painter.drawRect(w - 19, 8, 16, 4);       // minus
    painter.drawRect(w - 19, h - 13, 16, 4);  // plus, bar
    painter.drawRect(w - 13, h - 19, 4, 16);  // plus, post

    paintAttribution(painter);
}

void CvMapWidget::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->pos();
    const int w = width();
    const int h = height();
    if (event->button() == Qt::MiddleButton) {
        zoomAt(p, viewZoom + 1);
    } else if (event->button() == Qt::RightButton) {
        zoomAt(p, viewZoom - 1);
    } else {
        // The click zones are the columns right of the drawn squares' edge.
        const QPoint centre(w / 2, h / 2);
        if (p.x() > w - kButtonSize && p.y() < kButtonSize) {
            zoomAt(centre, viewZoom - 1);
            emit redraw();
            return;
        }
        if (p.x() > w - kButtonSize && p.y() > h - kButtonSize) {
            zoomAt(centre, viewZoom + 1);
            emit redraw();
            return;
        }
        lastMousePos = p;
        dragging = true;
    }
    emit redraw();
}

void CvMapWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging)
        return;
    const QPoint p = event->pos();
    const QPoint moved = p - lastMousePos;
    centerX -= moved.x() * TileGeometry::PixelToTile;
    centerY -= moved.y() * TileGeometry::PixelToTile;
    lastMousePos = p;
    scrollMap(moved);
    emit viewChanged();
    emit redraw();
}

void CvMapWidget::scrollMap(const QPoint &moved)
{
    // A step of a whole pixel moves every tile by exactly that many pixels:
    // what stays on screen is moved, and only what comes into view is drawn.
    if (qAbs(moved.x()) >= width() || qAbs(moved.y()) >= height()) {
        update();
        return;
    }
    if (moved.isNull())
        return;
    scroll(moved.x(), moved.y());
    const int w = width();
    const int h = height();
    const QRect fixed[] = {QRect(w - kCornerSize, 0, kCornerSize, kCornerSize),
                           QRect(w - kCornerSize, h - kCornerSize, kCornerSize, kCornerSize),
                           QRect(0, h - kBottomStrip, w, kBottomStrip)};
    for (const QRect &area : fixed) {
        update(area);
        update(area.translated(moved));
    }
}

void CvMapWidget::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

void CvMapWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    emit viewChanged();
}

void CvMapWidget::wheelEvent(QWheelEvent *event)
{
    wheelRest += qBound(-120000, event->angleDelta().y(), 120000);
    const int steps = wheelRest / 120;
    wheelRest -= steps * 120;
    zoomAt(event->position().toPoint(), viewZoom + steps);
    emit redraw();
}
