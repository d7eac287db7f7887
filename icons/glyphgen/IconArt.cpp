#include "IconArt.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <initializer_list>

// Pictures are described on a 100 x 100 unit canvas; the painter's transform
// maps that to the icon's pixels.

namespace {

struct Palette
{
    QColor fg;      // main shapes
    QColor fg2;     // secondary fills
    QColor line;    // details drawn on top of fg
    QColor accent;  // the one warm colour
    QColor green;
    QColor red;
};

struct Ctx
{
    QPainter &p;
    Palette pal;
    int size;

    bool tiny() const { return size <= 16; }
    bool small() const { return size <= 32; }

    // A line width in units that never drops below about one device pixel.
    double lw(double units) const
    {
        const QTransform t = p.transform();
        const double pixelsPerUnit = std::hypot(t.m11(), t.m12());
        return std::max(units, 1.05 / pixelsPerUnit);
    }
    void fill(const QPainterPath &path, const QColor &colour) { p.fillPath(path, colour); }
    void stroke(const QPainterPath &path, const QColor &colour, double width,
                Qt::PenCapStyle cap = Qt::RoundCap, Qt::PenJoinStyle join = Qt::RoundJoin)
    {
        p.strokePath(path, QPen(colour, lw(width), Qt::SolidLine, cap, join));
    }
    void line(QPointF a, QPointF b, const QColor &colour, double width, Qt::PenCapStyle cap = Qt::RoundCap)
    {
        QPainterPath path(a);
        path.lineTo(b);
        stroke(path, colour, width, cap);
    }
    void disc(QPointF centre, double r, const QColor &colour)
    {
        QPainterPath path;
        path.addEllipse(centre, r, r);
        fill(path, colour);
    }
    void ring(QPointF centre, double r, const QColor &colour, double width)
    {
        QPainterPath path;
        path.addEllipse(centre, r, r);
        stroke(path, colour, width);
    }
};

QPainterPath rrect(double x, double y, double w, double h, double r)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return path;
}

QPainterPath rect(double x, double y, double w, double h)
{
    QPainterPath path;
    path.addRect(QRectF(x, y, w, h));
    return path;
}

QPainterPath ellipse(double cx, double cy, double rx, double ry)
{
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), rx, ry);
    return path;
}

QPainterPath poly(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF &pt : points) {
        if (first)
            path.moveTo(pt);
        else
            path.lineTo(pt);
        first = false;
    }
    path.closeSubpath();
    return path;
}

QPainterPath star(QPointF centre, double outer, double inner, int points, double rotationDeg = -90)
{
    QPainterPath path;
    for (int i = 0; i < points * 2; ++i) {
        const double r = (i % 2 == 0) ? outer : inner;
        const double a = qDegreesToRadians(rotationDeg + i * 180.0 / points);
        const QPointF pt(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

// ---- motifs -------------------------------------------------------------

void drawRaven(Ctx &c)
{
    // A raven perched on the arrow of a weather vane: the maker's name in a picture.
    const QColor ink = c.pal.fg;
    if (!c.tiny()) {
        c.line({14, 70}, {84, 70}, c.pal.accent, 4.5);
        c.fill(poly({{90, 70}, {78, 62}, {78, 78}}), c.pal.accent);
        c.fill(poly({{10, 62}, {20, 62}, {24, 70}, {20, 78}, {10, 78}, {14, 70}}), c.pal.accent);
    }
    QPainterPath bird;
    bird.moveTo(28, 42);                        // back of the head
    bird.cubicTo(26, 26, 44, 18, 54, 28);       // crown
    bird.lineTo(74, 34);                        // heavy upper beak
    bird.lineTo(56, 42);                        // lower beak
    bird.cubicTo(64, 50, 62, 60, 52, 67);       // breast
    bird.lineTo(40, 69);
    bird.lineTo(8, 76);                         // long wedge tail
    bird.lineTo(20, 64);
    bird.cubicTo(18, 56, 22, 48, 28, 42);
    bird.closeSubpath();
    c.fill(bird, ink);
    QPainterPath wing;
    wing.moveTo(28, 50);
    wing.cubicTo(38, 45, 52, 50, 51, 61);
    wing.cubicTo(42, 66, 30, 68, 18, 70);
    wing.cubicTo(24, 63, 24, 55, 28, 50);
    c.stroke(wing, c.pal.fg2, 1.6);
    c.disc({47, 31}, c.tiny() ? 2.8 : 2.4, c.pal.accent);
    c.line({42, 67}, {42, 70}, ink, 2.5);
    c.line({48, 66}, {48, 70}, ink, 2.5);
}

void drawTiles(Ctx &c)
{
    const QColor tileColours[9] = {
        QColor(0xA8, 0xD8, 0x8E), QColor(0xE8, 0xF4, 0xFF), QColor(0xF6, 0xE3, 0xB4),
        QColor(0xE8, 0xF4, 0xFF), QColor(0xA8, 0xD8, 0x8E), QColor(0x9F, 0xCB, 0xF2),
        QColor(0xF6, 0xE3, 0xB4), QColor(0x9F, 0xCB, 0xF2), QColor(0xA8, 0xD8, 0x8E),
    };
    const double gap = c.tiny() ? 0 : 3;
    const double cell = (76 - 2 * gap) / 3;
    c.fill(rrect(10, 10, 80, 80, 6), c.pal.fg);
    for (int i = 0; i < 9; ++i) {
        const double x = 12 + (i % 3) * (cell + gap);
        const double y = 12 + (i / 3) * (cell + gap);
        c.fill(rect(x, y, cell, cell), tileColours[i]);
    }
    if (!c.tiny()) {
        QPainterPath road(QPointF(12, 70));
        road.cubicTo(35, 60, 45, 30, 88, 24);
        c.stroke(road, QColor(0xFF, 0xFF, 0xFF), 5);
        c.stroke(road, QColor(0xF2, 0xA3, 0x3A), 2.5);
    }
    // pin
    QPainterPath pin;
    pin.moveTo(62, 62);
    pin.cubicTo(52, 48, 48, 42, 48, 36);
    pin.arcTo(QRectF(48, 22, 28, 28), 180, -180);
    pin.cubicTo(76, 42, 72, 48, 62, 62);
    c.fill(pin, c.pal.red);
    c.disc({62, 36}, 5, QColor(0xFF, 0xFF, 0xFF));
}

void drawGlobe(Ctx &c)
{
    const QPointF centre(50, 50);
    const double r = 38;
    QPainterPath sphere = ellipse(50, 50, r, r);
    QRadialGradient ocean(QPointF(40, 38), 50);
    ocean.setColorAt(0, QColor(0x8F, 0xD3, 0xFF));
    ocean.setColorAt(1, QColor(0x2C, 0x7F, 0xD8));
    c.p.fillPath(sphere, ocean);
    c.p.save();
    c.p.setClipPath(sphere);
    QPainterPath west;
    west.moveTo(22, 22);
    west.cubicTo(34, 16, 46, 22, 42, 34);
    west.cubicTo(38, 42, 30, 44, 34, 54);
    west.cubicTo(40, 62, 38, 76, 32, 86);
    west.cubicTo(24, 78, 22, 66, 20, 58);
    west.cubicTo(12, 50, 12, 30, 22, 22);
    QPainterPath east;
    east.moveTo(54, 20);
    east.cubicTo(66, 16, 84, 24, 88, 40);
    east.cubicTo(84, 46, 74, 44, 70, 52);
    east.cubicTo(74, 62, 66, 74, 60, 78);
    east.cubicTo(56, 66, 50, 58, 54, 50);
    east.cubicTo(48, 44, 50, 30, 54, 20);
    c.fill(west, c.pal.green);
    c.fill(east, c.pal.green);
    const QColor grid(255, 255, 255, c.small() ? 150 : 120);
    const double gw = c.small() ? 1.2 : 1.6;
    c.stroke(ellipse(50, 50, r * 0.45, r), grid, gw);
    c.line({50, 12}, {50, 88}, grid, gw);
    c.line({12, 50}, {88, 50}, grid, gw);
    if (!c.tiny()) {
        c.stroke(ellipse(50, 50, r * 0.82, r), grid, gw);
        c.line({16, 32}, {84, 32}, grid, gw);
        c.line({16, 68}, {84, 68}, grid, gw);
    }
    c.p.restore();
    c.stroke(sphere, c.pal.fg, 3);
    if (!c.small()) {
        QPainterPath shine;
        shine.moveTo(26, 36);
        shine.cubicTo(28, 26, 36, 20, 44, 18);
        c.stroke(shine, QColor(255, 255, 255, 170), 3);
    }
}

void drawMap(Ctx &c)
{
    const QPainterPath p1 = poly({{12, 24}, {36, 16}, {36, 80}, {12, 88}});
    const QPainterPath p2 = poly({{36, 16}, {64, 24}, {64, 88}, {36, 80}});
    const QPainterPath p3 = poly({{64, 24}, {88, 16}, {88, 80}, {64, 88}});
    c.fill(p1, c.pal.fg);
    c.fill(p2, c.pal.fg2);
    c.fill(p3, c.pal.fg);
    if (!c.tiny()) {
        c.fill(ellipse(76, 36, 8, 6), c.pal.green);
        c.fill(ellipse(22, 68, 7, 9), c.pal.green);
        QPainterPath water;
        water.moveTo(36, 50);
        water.cubicTo(46, 44, 52, 60, 64, 54);
        c.stroke(water, QColor(0x5A, 0xA9, 0xF0), 4);
    }
    QPainterPath route(QPointF(20, 40));
    route.cubicTo(34, 30, 44, 74, 56, 62);
    route.cubicTo(64, 54, 70, 70, 80, 62);
    QPen pen(c.pal.red, c.lw(3), c.tiny() ? Qt::SolidLine : Qt::DashLine, Qt::RoundCap);
    c.p.strokePath(route, pen);
    c.line({76, 58}, {84, 66}, c.pal.red, 3);
    c.line({84, 58}, {76, 66}, c.pal.red, 3);
}

void drawCompass(Ctx &c)
{
    c.disc({50, 50}, 40, c.pal.fg);
    c.ring({50, 50}, 33, c.pal.fg2, 2);
    if (!c.small()) {
        for (int i = 0; i < 16; ++i) {
            const double a = qDegreesToRadians(i * 22.5);
            const double r1 = (i % 4 == 0) ? 26 : 30;
            c.line({50 + r1 * std::sin(a), 50 - r1 * std::cos(a)},
                   {50 + 33 * std::sin(a), 50 - 33 * std::cos(a)}, c.pal.line, 1.5);
        }
    }
    // needle, turned a little east of north
    c.p.save();
    c.p.translate(50, 50);
    c.p.rotate(30);
    c.fill(poly({{0, -30}, {9, 0}, {-9, 0}}), c.pal.red);
    c.fill(poly({{0, 30}, {9, 0}, {-9, 0}}), c.pal.line);
    c.p.restore();
    c.disc({50, 50}, 4.5, c.pal.fg);
    c.ring({50, 50}, 4.5, c.pal.line, 1.2);
}

void drawAnchor(Ctx &c)
{
    const QColor ink = c.pal.fg;
    const double w = c.tiny() ? 9 : 7;
    c.ring({50, 20}, 7, ink, w * 0.7);
    c.line({50, 27}, {50, 84}, ink, w);
    c.line({32, 38}, {68, 38}, ink, w);
    QPainterPath arms;
    arms.moveTo(18, 58);
    arms.cubicTo(20, 76, 36, 84, 50, 84);
    arms.cubicTo(64, 84, 80, 76, 82, 58);
    c.stroke(arms, ink, w);
    c.fill(poly({{10, 62}, {22, 50}, {26, 64}}), ink);
    c.fill(poly({{90, 62}, {78, 50}, {74, 64}}), ink);
}

void drawMountain(Ctx &c)
{
    if (!c.tiny())
        c.disc({74, 26}, 9, c.pal.accent);
    c.fill(poly({{8, 84}, {40, 26}, {72, 84}}), c.pal.fg);
    c.fill(poly({{44, 84}, {68, 44}, {92, 84}}), c.pal.fg2);
    c.fill(poly({{40, 26}, {50, 44}, {44, 40}, {38, 46}, {34, 40}, {31, 43}}), QColor(0x9F, 0xCB, 0xF2));
    c.fill(poly({{68, 44}, {75, 56}, {70, 53}, {65, 57}, {62, 54}}), QColor(255, 255, 255));
    c.line({8, 84}, {92, 84}, c.pal.fg, 3);
}

void drawSatellite(Ctx &c)
{
    c.p.save();
    c.p.translate(50, 50);
    c.p.rotate(-35);
    // panels
    for (double x : {-44.0, 14.0}) {
        c.fill(rect(x, -11, 30, 22), c.pal.fg2);
        if (!c.tiny()) {
            for (int i = 1; i < 3; ++i)
                c.line({x + i * 10, -11}, {x + i * 10, 11}, c.pal.line, 1.2, Qt::FlatCap);
            c.line({x, 0}, {x + 30, 0}, c.pal.line, 1.2, Qt::FlatCap);
        }
        c.stroke(rect(x, -11, 30, 22), c.pal.fg, 2);
    }
    c.line({-14, 0}, {14, 0}, c.pal.fg, 3);
    c.fill(rrect(-10, -14, 20, 28, 3), c.pal.fg);
    c.p.restore();
    // dish and signal
    c.line({58, 60}, {66, 68}, c.pal.fg, 3);
    if (!c.tiny()) {
        QPainterPath wave;
        wave.arcMoveTo(QRectF(56, 56, 30, 30), 290);
        wave.arcTo(QRectF(56, 56, 30, 30), 290, -70);
        c.stroke(wave, c.pal.accent, 3);
        QPainterPath wave2;
        wave2.arcMoveTo(QRectF(48, 48, 46, 46), 290);
        wave2.arcTo(QRectF(48, 48, 46, 46), 290, -70);
        c.stroke(wave2, c.pal.accent, 3);
    }
}

void drawPhone(Ctx &c)
{
    c.fill(rrect(28, 8, 44, 84, 8), c.pal.fg);
    QLinearGradient screen(0, 16, 0, 78);
    screen.setColorAt(0, QColor(0x3A, 0x8D, 0xE8));
    screen.setColorAt(1, QColor(0x16, 0x4A, 0x9A));
    c.p.fillPath(rect(32, 16, 36, 64), screen);
    if (!c.tiny()) {
        c.line({44, 12}, {56, 12}, c.pal.line, 1.5);
        c.ring({50, 86}, 2.6, c.pal.line, 1.2);
        // a little map pin on the screen
        c.disc({50, 42}, 8, c.pal.red);
        c.fill(poly({{43, 46}, {57, 46}, {50, 58}}), c.pal.red);
        c.disc({50, 42}, 3, QColor(255, 255, 255));
    }
}

void drawLaptop(Ctx &c)
{
    c.fill(rrect(18, 18, 64, 46, 4), c.pal.fg);
    QLinearGradient screen(0, 22, 0, 60);
    screen.setColorAt(0, QColor(0x3A, 0x8D, 0xE8));
    screen.setColorAt(1, QColor(0x16, 0x4A, 0x9A));
    c.p.fillPath(rect(22, 22, 56, 38), screen);
    QPainterPath base = poly({{10, 68}, {90, 68}, {84, 78}, {16, 78}});
    c.fill(base, c.pal.fg);
    if (!c.tiny()) {
        c.line({42, 72}, {58, 72}, c.pal.line, 2);
        c.fill(poly({{26, 56}, {40, 38}, {50, 48}, {60, 34}, {74, 56}}), QColor(0x8F, 0xD3, 0x7F));
    }
}

void drawTablet(Ctx &c)
{
    c.fill(rrect(18, 12, 64, 76, 7), c.pal.fg);
    QLinearGradient screen(0, 18, 0, 80);
    screen.setColorAt(0, QColor(0x3A, 0x8D, 0xE8));
    screen.setColorAt(1, QColor(0x16, 0x4A, 0x9A));
    c.p.fillPath(rect(23, 18, 54, 62), screen);
    if (!c.tiny()) {
        c.disc({50, 84.5}, 2, c.pal.line);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                c.fill(rrect(29 + i * 15, 25 + j * 17, 11, 11, 2.5), QColor(255, 255, 255, 200));
    }
}

void drawGpsUnit(Ctx &c)
{
    c.fill(rrect(32, 6, 8, 26, 3), c.pal.fg);
    c.fill(rrect(26, 22, 48, 70, 10), c.pal.fg);
    c.fill(rrect(32, 30, 36, 30, 3), QColor(0x9E, 0xD7, 0x8A));
    if (!c.tiny()) {
        QPainterPath track(QPointF(36, 54));
        track.cubicTo(44, 40, 52, 56, 64, 36);
        c.stroke(track, c.pal.red, 2.2);
        c.disc({64, 36}, 2.6, c.pal.red);
        c.disc({50, 75}, 7, c.pal.fg2);
        c.disc({50, 75}, 3, c.pal.line);
    } else {
        c.line({36, 54}, {64, 36}, c.pal.red, 2.5);
    }
}

void drawCar(Ctx &c)
{
    QPainterPath body;
    body.moveTo(8, 62);
    body.lineTo(10, 50);
    body.lineTo(24, 46);
    body.lineTo(34, 32);
    body.lineTo(64, 32);
    body.lineTo(78, 46);
    body.lineTo(90, 50);
    body.lineTo(92, 64);
    body.lineTo(8, 64);
    body.closeSubpath();
    c.fill(body, c.pal.fg);
    if (!c.tiny()) {
        c.fill(poly({{30, 46}, {38, 36}, {48, 36}, {48, 46}}), c.pal.fg2);
        c.fill(poly({{52, 46}, {52, 36}, {62, 36}, {72, 46}}), c.pal.fg2);
        c.disc({88, 54}, 2.5, c.pal.accent);
    }
    for (double x : {28.0, 72.0}) {
        c.disc({x, 64}, 11, c.pal.line);
        c.disc({x, 64}, 5, c.pal.fg2);
    }
}

void drawBoat(Ctx &c)
{
    c.line({50, 10}, {50, 66}, c.pal.fg, 3, Qt::FlatCap);
    c.fill(poly({{53, 12}, {53, 62}, {84, 62}}), c.pal.fg);
    c.fill(poly({{47, 20}, {47, 62}, {22, 62}}), c.pal.fg2);
    c.fill(poly({{12, 66}, {88, 66}, {78, 80}, {22, 80}}), c.pal.accent);
    if (!c.tiny()) {
        QPainterPath wave(QPointF(8, 88));
        for (int i = 0; i < 6; ++i)
            wave.quadTo(15 + i * 14, 82, 22 + i * 14, 88);
        c.stroke(wave, c.pal.fg2, 2.5);
    }
}

void drawGear(Ctx &c, QPointF centre = {50, 50}, double scale = 1.0, int teeth = 8)
{
    QPainterPath gear;
    const double ro = 38 * scale;
    const double ri = 29 * scale;
    for (int i = 0; i < teeth; ++i) {
        const double a0 = 2 * M_PI * i / teeth;
        const double step = 2 * M_PI / teeth;
        const double pts[4][2] = {
            {ri, a0 - step * 0.30}, {ro, a0 - step * 0.18}, {ro, a0 + step * 0.18}, {ri, a0 + step * 0.30}};
        for (int k = 0; k < 4; ++k) {
            const QPointF pt(centre.x() + pts[k][0] * std::cos(pts[k][1]),
                             centre.y() + pts[k][0] * std::sin(pts[k][1]));
            if (i == 0 && k == 0)
                gear.moveTo(pt);
            else
                gear.lineTo(pt);
        }
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(centre, 12 * scale, 12 * scale);
    c.fill(gear.subtracted(hole), c.pal.fg);
    if (!c.tiny())
        c.ring(centre, 20 * scale, c.pal.fg2, 2.5 * scale);
}

void drawFolder(Ctx &c)
{
    const QColor back(0xF2, 0xB8, 0x3B);
    const QColor front(0xFF, 0xD5, 0x6A);
    c.fill(poly({{10, 24}, {38, 24}, {46, 32}, {90, 32}, {90, 82}, {10, 82}}), back);
    if (!c.tiny())
        c.fill(rect(16, 36, 68, 30), QColor(255, 255, 255));
    c.fill(poly({{10, 44}, {90, 44}, {90, 82}, {10, 82}}), front);
    if (!c.small())
        c.line({10, 44}, {90, 44}, QColor(0xFF, 0xEC, 0xB0), 2, Qt::FlatCap);
}

void drawDownload(Ctx &c)
{
    c.fill(poly({{38, 10}, {62, 10}, {62, 40}, {78, 40}, {50, 70}, {22, 40}, {38, 40}}), c.pal.fg);
    QPainterPath tray;
    tray.moveTo(14, 64);
    tray.lineTo(14, 86);
    tray.lineTo(86, 86);
    tray.lineTo(86, 64);
    c.stroke(tray, c.pal.fg, c.tiny() ? 9 : 7, Qt::RoundCap, Qt::MiterJoin);
}

void drawPin(Ctx &c)
{
    QPainterPath pin;
    pin.moveTo(50, 92);
    pin.cubicTo(34, 68, 22, 56, 22, 40);
    pin.arcTo(QRectF(22, 12, 56, 56), 180, -180);
    pin.cubicTo(78, 56, 66, 68, 50, 92);
    c.fill(pin, c.pal.red);
    c.disc({50, 40}, 12, QColor(255, 255, 255));
    if (!c.small())
        c.stroke(pin, QColor(255, 255, 255, 120), 1.5);
}

void drawLayers(Ctx &c)
{
    const QColor shades[3] = {c.pal.fg2, QColor(0x9F, 0xCB, 0xF2), c.pal.fg};
    for (int i = 2; i >= 0; --i) {
        const double y = 30 + i * 16;
        const QPainterPath layer = poly({{50, y - 20}, {90, y}, {50, y + 20}, {10, y}});
        c.fill(layer, shades[2 - i]);
        if (!c.tiny())
            c.stroke(layer, QColor(0x1D, 0x4E, 0x8F, 120), 1.2);
    }
    if (!c.tiny())
        c.disc({50, 30}, 5, c.pal.accent);
}

void drawRoute(Ctx &c)
{
    QPainterPath path(QPointF(20, 80));
    path.cubicTo(60, 80, 20, 44, 50, 44);
    path.cubicTo(80, 44, 40, 22, 74, 22);
    if (c.tiny()) {
        c.stroke(path, c.pal.fg, 3);
    } else {
        QPen pen(c.pal.fg, c.lw(4), Qt::DotLine, Qt::RoundCap);
        c.p.strokePath(path, pen);
    }
    c.disc({20, 80}, 8, c.pal.green);
    c.disc({20, 80}, 3.5, c.pal.fg);
    c.line({74, 28}, {74, 6}, c.pal.fg, 3);
    c.fill(poly({{75, 6}, {92, 11}, {75, 17}}), c.pal.red);
}

void drawFlag(Ctx &c)
{
    c.line({24, 90}, {24, 10}, c.pal.fg, 5);
    QPainterPath cloth;
    cloth.moveTo(26, 14);
    cloth.cubicTo(44, 6, 60, 22, 84, 14);
    cloth.lineTo(84, 54);
    cloth.cubicTo(60, 62, 44, 46, 26, 54);
    cloth.closeSubpath();
    c.fill(cloth, c.pal.fg);
    if (!c.tiny()) {
        c.p.save();
        c.p.setClipPath(cloth);
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 4; ++j)
                if ((i + j) % 2 == 0)
                    c.fill(rect(26 + i * 10, 8 + j * 12, 10, 12), QColor(0x1D, 0x4E, 0x8F));
        c.p.restore();
    }
}

void drawLighthouse(Ctx &c)
{
    if (!c.tiny()) {
        c.fill(poly({{50, 22}, {94, 8}, {94, 30}}), QColor(0xFF, 0xE0, 0x80, 150));
        c.fill(poly({{50, 22}, {6, 8}, {6, 30}}), QColor(0xFF, 0xE0, 0x80, 150));
    }
    const QPainterPath tower = poly({{38, 84}, {42, 30}, {58, 30}, {62, 84}});
    c.fill(tower, c.pal.fg);
    c.p.save();
    c.p.setClipPath(tower);
    c.fill(rect(30, 40, 40, 10), c.pal.red);
    c.fill(rect(30, 62, 40, 10), c.pal.red);
    c.p.restore();
    c.fill(rect(40, 16, 20, 12), c.pal.accent);
    c.fill(poly({{36, 16}, {50, 6}, {64, 16}}), c.pal.red);
    c.fill(rect(34, 28, 32, 4), c.pal.fg);
    c.fill(rect(22, 84, 56, 6), c.pal.fg2);
}

void drawAirplane(Ctx &c)
{
    c.p.save();
    c.p.translate(50, 50);
    c.p.rotate(45);
    QPainterPath plane;
    plane.moveTo(0, -42);
    plane.cubicTo(5, -42, 6, -34, 6, -26);
    plane.lineTo(6, -8);
    plane.lineTo(40, 10);
    plane.lineTo(40, 18);
    plane.lineTo(6, 8);
    plane.lineTo(5, 28);
    plane.lineTo(16, 36);
    plane.lineTo(16, 42);
    plane.lineTo(0, 37);
    plane.lineTo(-16, 42);
    plane.lineTo(-16, 36);
    plane.lineTo(-5, 28);
    plane.lineTo(-6, 8);
    plane.lineTo(-40, 18);
    plane.lineTo(-40, 10);
    plane.lineTo(-6, -8);
    plane.lineTo(-6, -26);
    plane.cubicTo(-6, -34, -5, -42, 0, -42);
    c.fill(plane, c.pal.fg);
    c.p.restore();
}

void drawTruck(Ctx &c)
{
    c.fill(rrect(6, 26, 56, 40, 3), c.pal.fg);
    c.fill(poly({{64, 38}, {82, 38}, {94, 52}, {94, 66}, {64, 66}}), c.pal.accent);
    if (!c.tiny())
        c.fill(poly({{68, 42}, {80, 42}, {88, 52}, {68, 52}}), c.pal.fg2);
    for (double x : {22.0, 78.0}) {
        c.disc({x, 68}, 10, c.pal.line);
        c.disc({x, 68}, 4, c.pal.fg2);
    }
}

void drawWaves(Ctx &c)
{
    const int rows = c.tiny() ? 2 : 3;
    for (int r = 0; r < rows; ++r) {
        const double y = (c.tiny() ? 38 : 30) + r * (c.tiny() ? 26 : 20);
        QPainterPath wave(QPointF(10, y));
        for (int i = 0; i < 4; ++i)
            wave.cubicTo(15 + i * 20, y - 10, 25 + i * 20, y + 10, 30 + i * 20, y);
        c.stroke(wave, r == 0 ? c.pal.fg : c.pal.fg2, 6);
    }
}

void drawCrosshair(Ctx &c)
{
    c.ring({50, 50}, 30, c.pal.fg, 6);
    for (const QPointF &d : {QPointF(0, -1), QPointF(0, 1), QPointF(-1, 0), QPointF(1, 0)})
        c.line({50 + d.x() * 18, 50 + d.y() * 18}, {50 + d.x() * 44, 50 + d.y() * 44}, c.pal.fg, 5);
    c.disc({50, 50}, 7, c.pal.red);
}

void drawKey(Ctx &c)
{
    c.p.save();
    c.p.translate(50, 50);
    c.p.rotate(-40);
    QPainterPath head;
    head.addEllipse(QPointF(-24, 0), 18, 18);
    QPainterPath hole;
    hole.addEllipse(QPointF(-30, 0), 6, 6);
    QPainterPath key = head.united(rect(-8, -5, 48, 10));
    key = key.united(rect(26, 5, 6, 12)).united(rect(36, 5, 5, 9));
    c.fill(key.subtracted(hole), c.pal.accent);
    c.p.restore();
}

void drawShield(Ctx &c)
{
    QPainterPath shield;
    shield.moveTo(50, 8);
    shield.cubicTo(62, 16, 74, 18, 86, 18);
    shield.cubicTo(86, 56, 74, 78, 50, 92);
    shield.cubicTo(26, 78, 14, 56, 14, 18);
    shield.cubicTo(26, 18, 38, 16, 50, 8);
    c.fill(shield, c.pal.fg);
    QPainterPath check(QPointF(32, 50));
    check.lineTo(46, 64);
    check.lineTo(70, 36);
    c.stroke(check, c.pal.green, c.tiny() ? 10 : 8);
}

void drawCloud(Ctx &c, QPointF offset = {0, 0}, const QColor *colour = nullptr)
{
    QPainterPath cloud;
    cloud.addEllipse(QPointF(36 + offset.x(), 54 + offset.y()), 18, 18);
    cloud.addEllipse(QPointF(56 + offset.x(), 44 + offset.y()), 22, 22);
    cloud.addEllipse(QPointF(74 + offset.x(), 58 + offset.y()), 14, 14);
    cloud.addRoundedRect(QRectF(18 + offset.x(), 54 + offset.y(), 70, 18), 9, 9);
    cloud.setFillRule(Qt::WindingFill);
    c.fill(cloud.simplified(), colour ? *colour : c.pal.fg);
}

void drawServer(Ctx &c)
{
    for (int i = 0; i < 3; ++i) {
        const double y = 14 + i * 25;
        c.fill(rrect(16, y, 68, 21, 4), i == 1 ? c.pal.fg2 : c.pal.fg);
        if (!c.tiny()) {
            c.disc({26, y + 10.5}, 3, c.pal.green);
            c.line({54, y + 10.5}, {76, y + 10.5}, c.pal.line, 2.5);
        }
    }
}

void drawDatabase(Ctx &c)
{
    c.fill(rect(20, 22, 60, 56), c.pal.fg);
    c.fill(ellipse(50, 78, 30, 10), c.pal.fg);
    c.fill(ellipse(50, 22, 30, 10), c.pal.fg2);
    if (!c.tiny()) {
        for (double y : {40.0, 58.0}) {
            QPainterPath band;
            band.arcMoveTo(QRectF(20, y - 10, 60, 20), 180);
            band.arcTo(QRectF(20, y - 10, 60, 20), 180, 180);
            c.stroke(band, c.pal.line, 2);
        }
    }
}

void drawDocument(Ctx &c)
{
    c.fill(poly({{22, 8}, {62, 8}, {80, 26}, {80, 92}, {22, 92}}), c.pal.fg);
    c.fill(poly({{62, 8}, {62, 26}, {80, 26}}), c.pal.fg2);
    const int lines = c.tiny() ? 3 : 6;
    for (int i = 0; i < lines; ++i) {
        const double y = 38 + i * (c.tiny() ? 16 : 9);
        c.line({32, y}, {i % 3 == 2 ? 56.0 : 70.0, y}, c.pal.line, c.tiny() ? 4 : 3);
    }
}

void drawPrinter(Ctx &c)
{
    c.fill(rect(28, 10, 44, 30), c.pal.fg2);
    c.fill(rrect(10, 34, 80, 36, 6), c.pal.fg);
    c.fill(rect(28, 58, 44, 32), QColor(255, 255, 255));
    if (!c.tiny()) {
        c.stroke(rect(28, 58, 44, 32), c.pal.line, 1.5);
        c.line({34, 68}, {66, 68}, c.pal.line, 2);
        c.line({34, 76}, {58, 76}, c.pal.line, 2);
        c.disc({78, 44}, 3, c.pal.green);
    }
}

void drawCamera(Ctx &c)
{
    c.fill(rrect(34, 20, 32, 14, 3), c.pal.fg);
    c.fill(rrect(8, 28, 84, 56, 9), c.pal.fg);
    c.disc({50, 56}, 20, c.pal.line);
    c.disc({50, 56}, 13, QColor(0x3A, 0x8D, 0xE8));
    if (!c.tiny()) {
        c.disc({45, 51}, 4, QColor(255, 255, 255, 200));
        c.disc({80, 38}, 3.5, c.pal.accent);
    }
}

void drawWatch(Ctx &c)
{
    c.fill(rrect(36, 6, 28, 88, 6), c.pal.fg2);
    c.fill(rrect(24, 24, 52, 52, 12), c.pal.fg);
    c.fill(rrect(30, 30, 40, 40, 8), QColor(0x16, 0x4A, 0x9A));
    if (!c.tiny()) {
        c.line({50, 50}, {50, 38}, QColor(255, 255, 255), 3);
        c.line({50, 50}, {60, 54}, c.pal.accent, 3);
        c.fill(rect(77, 44, 4, 12), c.pal.fg);
    } else {
        c.line({50, 50}, {50, 38}, QColor(255, 255, 255), 3);
    }
}

void drawMonitor(Ctx &c)
{
    c.fill(rrect(8, 14, 84, 56, 5), c.pal.fg);
    QLinearGradient screen(0, 18, 0, 66);
    screen.setColorAt(0, QColor(0x3A, 0x8D, 0xE8));
    screen.setColorAt(1, QColor(0x16, 0x4A, 0x9A));
    c.p.fillPath(rect(13, 19, 74, 46), screen);
    c.fill(poly({{42, 70}, {58, 70}, {62, 82}, {38, 82}}), c.pal.fg);
    c.fill(rrect(28, 82, 44, 6, 3), c.pal.fg);
    if (!c.tiny())
        c.fill(poly({{18, 60}, {36, 38}, {48, 50}, {62, 30}, {82, 60}}), QColor(0x8F, 0xD3, 0x7F));
}

void drawMemoryCard(Ctx &c)
{
    c.fill(poly({{22, 8}, {66, 8}, {78, 20}, {78, 92}, {22, 92}, {22, 32}, {26, 28}, {22, 24}}), c.pal.fg);
    if (!c.tiny()) {
        for (int i = 0; i < 5; ++i)
            c.fill(rect(30 + i * 8.5, 12, 5, 14), c.pal.accent);
        c.fill(rrect(30, 50, 40, 30, 3), c.pal.fg2);
    } else {
        c.fill(rect(30, 12, 40, 14), c.pal.accent);
    }
}

void drawUsbStick(Ctx &c)
{
    c.p.save();
    c.p.translate(50, 50);
    c.p.rotate(45);
    c.fill(rect(-12, -46, 24, 22), c.pal.fg2);
    if (!c.tiny()) {
        c.fill(rect(-7, -40, 5, 5), c.pal.line);
        c.fill(rect(2, -40, 5, 5), c.pal.line);
    }
    c.fill(rrect(-18, -26, 36, 70, 7), c.pal.fg);
    if (!c.tiny())
        c.disc({0, 30}, 4, c.pal.green);
    c.p.restore();
}

void drawRadioTower(Ctx &c)
{
    const QColor ink = c.pal.fg;
    c.line({50, 34}, {32, 90}, ink, 4);
    c.line({50, 34}, {68, 90}, ink, 4);
    if (!c.tiny()) {
        c.line({44, 54}, {60, 70}, ink, 2.5);
        c.line({56, 54}, {40, 70}, ink, 2.5);
        c.line({38, 72}, {64, 88}, ink, 2.5);
        c.line({62, 72}, {36, 88}, ink, 2.5);
    }
    c.disc({50, 30}, 6, c.pal.red);
    for (int i = 0; i < (c.tiny() ? 1 : 2); ++i) {
        const double r = 16 + i * 12;
        QPainterPath left;
        left.arcMoveTo(QRectF(50 - r, 30 - r, 2 * r, 2 * r), 140);
        left.arcTo(QRectF(50 - r, 30 - r, 2 * r, 2 * r), 140, 80);
        QPainterPath right;
        right.arcMoveTo(QRectF(50 - r, 30 - r, 2 * r, 2 * r), 40);
        right.arcTo(QRectF(50 - r, 30 - r, 2 * r, 2 * r), 40, -80);
        c.stroke(left, c.pal.fg2, 4);
        c.stroke(right, c.pal.fg2, 4);
    }
}

void drawWifi(Ctx &c)
{
    const QPointF centre(50, 80);
    for (int i = 0; i < 3; ++i) {
        const double r = 20 + i * 20;
        QPainterPath arc;
        arc.arcMoveTo(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 45);
        arc.arcTo(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 45, 90);
        c.stroke(arc, c.pal.fg, 9);
    }
    c.disc(centre, 7, c.pal.accent);
}

void drawBattery(Ctx &c)
{
    c.fill(rrect(8, 28, 76, 44, 7), c.pal.fg);
    c.fill(rrect(84, 40, 8, 20, 2), c.pal.fg);
    c.fill(rect(14, 34, 64, 32), c.pal.line);
    const int bars = 3;
    for (int i = 0; i < bars; ++i)
        c.fill(rect(18 + i * 16, 38, 12, 24), c.pal.green);
    if (!c.tiny())
        c.fill(poly({{58, 30}, {46, 52}, {56, 52}, {50, 72}, {66, 46}, {56, 46}, {62, 30}}), c.pal.accent);
}

void drawClock(Ctx &c)
{
    c.disc({50, 50}, 40, c.pal.fg);
    if (!c.small()) {
        for (int i = 0; i < 12; ++i) {
            const double a = qDegreesToRadians(i * 30.0);
            const double r1 = (i % 3 == 0) ? 28 : 31;
            c.line({50 + r1 * std::sin(a), 50 - r1 * std::cos(a)},
                   {50 + 35 * std::sin(a), 50 - 35 * std::cos(a)}, c.pal.line, i % 3 == 0 ? 3 : 1.8);
        }
    }
    c.line({50, 50}, {50, 24}, c.pal.line, 5);
    c.line({50, 50}, {68, 58}, c.pal.line, 5);
    if (!c.tiny())
        c.line({50, 50}, {36, 72}, c.pal.red, 1.8);
    c.disc({50, 50}, 4, c.pal.red);
}

void drawMagnifier(Ctx &c)
{
    c.line({62, 62}, {86, 86}, c.pal.accent, 12);
    c.disc({42, 42}, 30, c.pal.fg);
    c.disc({42, 42}, 22, QColor(0x9F, 0xCB, 0xF2));
    if (!c.tiny()) {
        QPainterPath glint;
        glint.arcMoveTo(QRectF(28, 28, 28, 28), 100);
        glint.arcTo(QRectF(28, 28, 28, 28), 100, 70);
        c.stroke(glint, QColor(255, 255, 255), 3);
    }
}

void drawRuler(Ctx &c)
{
    c.p.save();
    c.p.translate(50, 50);
    c.p.rotate(-45);
    c.fill(rrect(-46, -14, 92, 28, 3), c.pal.accent);
    const int ticks = c.tiny() ? 4 : 16;
    for (int i = 1; i < ticks; ++i) {
        const double x = -46 + i * 92.0 / ticks;
        const double len = c.tiny() ? 10 : (i % 4 == 0 ? 14 : (i % 2 == 0 ? 9 : 6));
        c.line({x, -14}, {x, -14 + len}, c.pal.line, 1.6, Qt::FlatCap);
    }
    c.p.restore();
}

void drawProfile(Ctx &c)
{
    c.fill(rrect(8, 10, 84, 80, 6), c.pal.fg);
    QPainterPath hill(QPointF(14, 84));
    hill.lineTo(14, 66);
    hill.lineTo(28, 54);
    hill.lineTo(38, 60);
    hill.lineTo(54, 26);
    hill.lineTo(66, 44);
    hill.lineTo(76, 36);
    hill.lineTo(86, 58);
    hill.lineTo(86, 84);
    hill.closeSubpath();
    QLinearGradient g(0, 26, 0, 84);
    g.setColorAt(0, QColor(0xB8, 0x7A, 0x3E));
    g.setColorAt(0.5, QColor(0xE8, 0xC5, 0x6A));
    g.setColorAt(1, QColor(0x7C, 0xC1, 0x6A));
    c.p.fillPath(hill, g);
    if (!c.tiny()) {
        for (double y : {30.0, 48.0, 66.0}) {
            QPen dash(QColor(0x1D, 0x4E, 0x8F, 110), c.lw(1), Qt::DashLine);
            QPainterPath grid(QPointF(14, y));
            grid.lineTo(86, y);
            c.p.strokePath(grid, dash);
        }
        c.line({14, 84}, {86, 84}, c.pal.line, 2);
        c.line({14, 16}, {14, 84}, c.pal.line, 2);
    }
}

void drawSun(Ctx &c)
{
    const QColor sun(0xFF, 0xC8, 0x3A);
    for (int i = 0; i < 8; ++i) {
        const double a = qDegreesToRadians(i * 45.0);
        c.line({50 + 28 * std::cos(a), 50 + 28 * std::sin(a)}, {50 + 42 * std::cos(a), 50 + 42 * std::sin(a)},
               sun, 6);
    }
    c.disc({50, 50}, 20, sun);
    if (!c.tiny()) {
        const QColor white(255, 255, 255);
        QPainterPath cloud;
        cloud.addEllipse(QPointF(54, 72), 10, 10);
        cloud.addEllipse(QPointF(68, 66), 13, 13);
        cloud.addEllipse(QPointF(80, 74), 8, 8);
        cloud.addRoundedRect(QRectF(44, 72, 44, 10), 5, 5);
        cloud.setFillRule(Qt::WindingFill);
        c.fill(cloud.simplified(), white);
    }
}

void drawTree(Ctx &c)
{
    c.fill(rect(44, 72, 12, 18), QColor(0x8A, 0x5A, 0x2B));
    c.fill(poly({{50, 8}, {72, 36}, {28, 36}}), c.pal.fg);
    c.fill(poly({{50, 22}, {78, 56}, {22, 56}}), c.pal.fg);
    c.fill(poly({{50, 38}, {86, 76}, {14, 76}}), c.pal.fg);
    if (!c.tiny())
        c.fill(poly({{50, 38}, {86, 76}, {50, 76}}), c.pal.fg2);
}

void drawHouse(Ctx &c)
{
    c.fill(poly({{50, 10}, {92, 48}, {82, 48}, {82, 88}, {18, 88}, {18, 48}, {8, 48}}), c.pal.fg);
    c.fill(rect(42, 60, 16, 28), c.pal.accent);
    if (!c.tiny()) {
        c.fill(rect(26, 56, 11, 11), c.pal.fg2);
        c.fill(rect(63, 56, 11, 11), c.pal.fg2);
        c.fill(rect(64, 18, 8, 16), c.pal.fg);
    }
}

void drawHelm(Ctx &c)
{
    const QColor wood(0xE0, 0xA4, 0x5A);
    for (int i = 0; i < 8; ++i) {
        const double a = qDegreesToRadians(i * 45.0 + 22.5);
        c.line({50 + 12 * std::cos(a), 50 + 12 * std::sin(a)}, {50 + 42 * std::cos(a), 50 + 42 * std::sin(a)},
               wood, c.tiny() ? 6 : 5);
    }
    c.ring({50, 50}, 28, wood, c.tiny() ? 8 : 7);
    c.disc({50, 50}, 10, wood);
    if (!c.tiny()) {
        c.ring({50, 50}, 28, QColor(0x8A, 0x5A, 0x2B), 1.2);
        c.disc({50, 50}, 4, QColor(0x8A, 0x5A, 0x2B));
    }
}

void drawFish(Ctx &c)
{
    QPainterPath body;
    body.moveTo(14, 50);
    body.cubicTo(28, 24, 62, 24, 74, 50);
    body.cubicTo(62, 76, 28, 76, 14, 50);
    c.fill(body, c.pal.fg);
    c.fill(poly({{70, 50}, {92, 30}, {88, 50}, {92, 70}}), c.pal.fg);
    c.disc({28, 46}, 4, c.pal.line);
    if (!c.tiny()) {
        QPainterPath gill;
        gill.arcMoveTo(QRectF(26, 36, 20, 28), 60);
        gill.arcTo(QRectF(26, 36, 20, 28), 60, -120);
        c.stroke(gill, c.pal.fg2, 2.5);
        for (int i = 0; i < 3; ++i)
            c.disc({18 - i * 2.0, 30 - i * 10.0}, 2.5 + i * 0.8, c.pal.fg2);
    }
}

void drawTent(Ctx &c)
{
    c.fill(poly({{50, 14}, {92, 84}, {8, 84}}), c.pal.accent);
    c.fill(poly({{50, 14}, {92, 84}, {50, 84}}), QColor(0xE0, 0x82, 0x2A));
    c.fill(poly({{50, 44}, {64, 84}, {36, 84}}), c.pal.line);
    c.line({44, 8}, {50, 14}, c.pal.fg, 3);
    c.line({56, 8}, {50, 14}, c.pal.fg, 3);
    c.line({4, 86}, {96, 86}, c.pal.fg, 3);
}

void drawLock(Ctx &c)
{
    QPainterPath shackle;
    shackle.moveTo(30, 46);
    shackle.lineTo(30, 32);
    shackle.arcTo(QRectF(30, 12, 40, 40), 180, -180);
    shackle.lineTo(70, 46);
    c.stroke(shackle, c.pal.fg2, c.tiny() ? 10 : 9, Qt::FlatCap);
    c.fill(rrect(18, 44, 64, 46, 7), c.pal.accent);
    c.disc({50, 62}, 7, c.pal.line);
    c.fill(rect(47, 64, 6, 14), c.pal.line);
}

void drawEnvelope(Ctx &c)
{
    c.fill(rrect(8, 22, 84, 58, 5), c.pal.fg);
    QPainterPath flap(QPointF(10, 26));
    flap.lineTo(50, 56);
    flap.lineTo(90, 26);
    c.stroke(flap, c.pal.line, 4);
    if (!c.tiny()) {
        c.line({10, 78}, {40, 50}, c.pal.fg2, 2.5);
        c.line({90, 78}, {60, 50}, c.pal.fg2, 2.5);
    }
}

void drawSync(Ctx &c)
{
    const double r = 30;
    const QRectF box(50 - r, 50 - r, 2 * r, 2 * r);
    QPainterPath upper;
    upper.arcMoveTo(box, 20);
    upper.arcTo(box, 20, 140);
    QPainterPath lower;
    lower.arcMoveTo(box, 200);
    lower.arcTo(box, 200, 140);
    c.stroke(upper, c.pal.fg, 9, Qt::FlatCap);
    c.stroke(lower, c.pal.fg, 9, Qt::FlatCap);
    // arrow heads at the ends of both arcs
    const double a1 = qDegreesToRadians(160.0);
    const QPointF e1(50 + r * std::cos(a1), 50 - r * std::sin(a1));
    c.fill(poly({{e1.x() - 13, e1.y()}, {e1.x() + 13, e1.y()}, {e1.x(), e1.y() + 15}}), c.pal.fg);
    const double a2 = qDegreesToRadians(340.0);
    const QPointF e2(50 + r * std::cos(a2), 50 - r * std::sin(a2));
    c.fill(poly({{e2.x() - 13, e2.y()}, {e2.x() + 13, e2.y()}, {e2.x(), e2.y() - 15}}), c.pal.fg);
}

void drawSymbolDisc(Ctx &c, const QString &symbol)
{
    c.disc({50, 50}, 40, c.pal.fg);
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setBold(true);
    font.setPixelSize(60);
    QPainterPath text;
    text.addText(0, 0, font, symbol);
    const QRectF box = text.boundingRect();
    text.translate(50 - box.center().x(), 50 - box.center().y());
    c.fill(text, c.pal.line);
}

void drawSliders(Ctx &c)
{
    const double knobs[3] = {34, 64, 46};
    for (int i = 0; i < 3; ++i) {
        const double y = 24 + i * 26;
        c.line({12, y}, {88, y}, c.pal.fg2, 5);
        c.disc({knobs[i], y}, 9, c.pal.fg);
        if (!c.tiny())
            c.ring({knobs[i], y}, 9, c.pal.line, 1.5);
    }
}

void drawBook(Ctx &c)
{
    QPainterPath left;
    left.moveTo(50, 26);
    left.cubicTo(38, 16, 22, 16, 8, 20);
    left.lineTo(8, 82);
    left.cubicTo(22, 78, 38, 78, 50, 88);
    left.closeSubpath();
    QPainterPath right;
    right.moveTo(50, 26);
    right.cubicTo(62, 16, 78, 16, 92, 20);
    right.lineTo(92, 82);
    right.cubicTo(78, 78, 62, 78, 50, 88);
    right.closeSubpath();
    c.fill(left, c.pal.fg);
    c.fill(right, c.pal.fg2);
    if (!c.tiny()) {
        for (int i = 0; i < 4; ++i) {
            const double y = 34 + i * 11;
            c.line({16, y}, {42, y + 2}, c.pal.line, 1.8);
            c.line({58, y + 2}, {84, y}, c.pal.line, 1.8);
        }
    }
    c.line({50, 26}, {50, 88}, c.pal.line, 2);
}

void drawBuoy(Ctx &c)
{
    const QPainterPath cone = poly({{50, 12}, {72, 74}, {28, 74}});
    c.fill(cone, c.pal.red);
    c.p.save();
    c.p.setClipPath(cone);
    c.fill(rect(20, 40, 60, 12), QColor(255, 255, 255));
    c.p.restore();
    c.disc({50, 12}, 5, c.pal.accent);
    c.fill(rrect(22, 72, 56, 8, 3), c.pal.line);
    QPainterPath wave(QPointF(6, 84));
    for (int i = 0; i < 4; ++i)
        wave.quadTo(17 + i * 22, 76, 28 + i * 22, 84);
    c.stroke(wave, c.pal.fg, 5);
}

void drawChip(Ctx &c)
{
    const int pins = c.tiny() ? 3 : 5;
    for (int i = 0; i < pins; ++i) {
        const double t = 26 + i * 48.0 / (pins - 1);
        c.line({t, 8}, {t, 92}, c.pal.fg2, 4, Qt::FlatCap);
        c.line({8, t}, {92, t}, c.pal.fg2, 4, Qt::FlatCap);
    }
    c.fill(rrect(18, 18, 64, 64, 6), c.pal.fg);
    c.fill(rrect(32, 32, 36, 36, 3), c.pal.line);
    if (!c.tiny())
        c.disc({26, 26}, 3, c.pal.fg2);
}

void drawHeadphones(Ctx &c)
{
    QPainterPath band;
    band.arcMoveTo(QRectF(16, 14, 68, 68), 180);
    band.arcTo(QRectF(16, 14, 68, 68), 180, -180);
    c.stroke(band, c.pal.fg, 7, Qt::FlatCap);
    c.fill(rrect(10, 48, 20, 36, 7), c.pal.fg);
    c.fill(rrect(70, 48, 20, 36, 7), c.pal.fg);
    if (!c.tiny()) {
        c.fill(rrect(24, 54, 8, 24, 3), c.pal.accent);
        c.fill(rrect(68, 54, 8, 24, 3), c.pal.accent);
    }
}

void drawBicycle(Ctx &c)
{
    const QColor ink = c.pal.fg;
    const double w = c.tiny() ? 6 : 4.5;
    c.ring({24, 64}, 17, ink, w);
    c.ring({76, 64}, 17, ink, w);
    QPainterPath frame(QPointF(24, 64));
    frame.lineTo(44, 64);
    frame.lineTo(64, 38);
    frame.lineTo(36, 38);
    frame.lineTo(24, 64);
    frame.moveTo(44, 64);
    frame.lineTo(34, 30);
    frame.moveTo(64, 38);
    frame.lineTo(76, 64);
    frame.moveTo(64, 38);
    frame.lineTo(60, 26);
    c.stroke(frame, ink, w * 0.8);
    c.line({28, 30}, {40, 30}, ink, w);
    c.line({56, 26}, {66, 24}, ink, w);
}

void drawFootprints(Ctx &c)
{
    auto foot = [&](double x, double y, double angle) {
        c.p.save();
        c.p.translate(x, y);
        c.p.rotate(angle);
        c.fill(ellipse(0, 6, 9, 14), c.pal.fg);
        c.fill(ellipse(0, 26, 7, 7), c.pal.fg);
        if (!c.tiny()) {
            for (int i = 0; i < 4; ++i)
                c.disc({-7 + i * 4.6, -12 + std::abs(i - 1.5) * 1.6}, 2.4, c.pal.fg);
        }
        c.p.restore();
    };
    foot(34, 52, -12);
    foot(66, 30, 12);
}

void drawPuzzle(Ctx &c)
{
    QPainterPath piece;
    piece.addRect(QRectF(18, 26, 56, 56));
    piece.addEllipse(QPointF(46, 24), 11, 11);
    piece.addEllipse(QPointF(76, 54), 11, 11);
    piece.setFillRule(Qt::WindingFill);
    QPainterPath notch;
    notch.addEllipse(QPointF(18, 54), 9, 9);
    notch.addEllipse(QPointF(46, 82), 9, 9);
    c.fill(piece.simplified().subtracted(notch), c.pal.fg);
}

void drawCarNavigator(Ctx &c)
{
    c.line({50, 74}, {50, 90}, c.pal.fg2, 6, Qt::FlatCap);
    c.fill(rrect(34, 86, 32, 6, 3), c.pal.fg2);
    c.fill(rrect(6, 18, 88, 58, 7), c.pal.fg);
    c.fill(rect(12, 24, 76, 46), QColor(0x9E, 0xD7, 0x8A));
    // the road ahead with the turn arrow
    c.fill(poly({{36, 70}, {64, 70}, {54, 34}, {46, 34}}), QColor(0x80, 0x8A, 0x96));
    c.fill(poly({{50, 36}, {60, 50}, {54, 50}, {54, 62}, {46, 62}, {46, 50}, {40, 50}}), QColor(255, 255, 255));
}

void drawMotif(Ctx &c, Motif motif)
{
    switch (motif) {
    case Motif::Raven: drawRaven(c); break;
    case Motif::Tiles: drawTiles(c); break;
    case Motif::Globe: drawGlobe(c); break;
    case Motif::Map: drawMap(c); break;
    case Motif::Compass: drawCompass(c); break;
    case Motif::Anchor: drawAnchor(c); break;
    case Motif::Mountain: drawMountain(c); break;
    case Motif::Satellite: drawSatellite(c); break;
    case Motif::Phone: drawPhone(c); break;
    case Motif::Laptop: drawLaptop(c); break;
    case Motif::Tablet: drawTablet(c); break;
    case Motif::GpsUnit: drawGpsUnit(c); break;
    case Motif::Car: drawCar(c); break;
    case Motif::Boat: drawBoat(c); break;
    case Motif::Gear: drawGear(c); break;
    case Motif::Folder: drawFolder(c); break;
    case Motif::Download: drawDownload(c); break;
    case Motif::Pin: drawPin(c); break;
    case Motif::Layers: drawLayers(c); break;
    case Motif::Route: drawRoute(c); break;
    case Motif::Flag: drawFlag(c); break;
    case Motif::Lighthouse: drawLighthouse(c); break;
    case Motif::Airplane: drawAirplane(c); break;
    case Motif::Truck: drawTruck(c); break;
    case Motif::Waves: drawWaves(c); break;
    case Motif::Crosshair: drawCrosshair(c); break;
    case Motif::Key: drawKey(c); break;
    case Motif::Shield: drawShield(c); break;
    case Motif::Cloud:
        drawCloud(c);
        if (!c.tiny()) {
            c.fill(poly({{48, 48}, {60, 48}, {60, 60}, {68, 60}, {54, 74}, {40, 60}, {48, 60}}), c.pal.line);
        }
        break;
    case Motif::Server: drawServer(c); break;
    case Motif::Database: drawDatabase(c); break;
    case Motif::Document: drawDocument(c); break;
    case Motif::Printer: drawPrinter(c); break;
    case Motif::Camera: drawCamera(c); break;
    case Motif::Watch: drawWatch(c); break;
    case Motif::Monitor: drawMonitor(c); break;
    case Motif::MemoryCard: drawMemoryCard(c); break;
    case Motif::UsbStick: drawUsbStick(c); break;
    case Motif::RadioTower: drawRadioTower(c); break;
    case Motif::Wifi: drawWifi(c); break;
    case Motif::Battery: drawBattery(c); break;
    case Motif::Clock: drawClock(c); break;
    case Motif::Magnifier: drawMagnifier(c); break;
    case Motif::Ruler: drawRuler(c); break;
    case Motif::Profile: drawProfile(c); break;
    case Motif::Sun: drawSun(c); break;
    case Motif::Tree: drawTree(c); break;
    case Motif::House: drawHouse(c); break;
    case Motif::Helm: drawHelm(c); break;
    case Motif::Fish: drawFish(c); break;
    case Motif::Tent: drawTent(c); break;
    case Motif::Lock: drawLock(c); break;
    case Motif::Envelope: drawEnvelope(c); break;
    case Motif::Sync: drawSync(c); break;
    case Motif::Info: drawSymbolDisc(c, QStringLiteral("i")); break;
    case Motif::Help: drawSymbolDisc(c, QStringLiteral("?")); break;
    case Motif::Sliders: drawSliders(c); break;
    case Motif::Book: drawBook(c); break;
    case Motif::Buoy: drawBuoy(c); break;
    case Motif::Chip: drawChip(c); break;
    case Motif::Headphones: drawHeadphones(c); break;
    case Motif::Bicycle: drawBicycle(c); break;
    case Motif::Footprints: drawFootprints(c); break;
    case Motif::Star: c.fill(star({50, 53}, 42, 18, 5), c.pal.accent); break;
    case Motif::Puzzle: drawPuzzle(c); break;
    case Motif::CarNavigator: drawCarNavigator(c); break;
    }
}

// ---- backdrops and labels ------------------------------------------------

struct BackdropColours
{
    QColor top;
    QColor bottom;
};

BackdropColours backdropColours(Backdrop backdrop)
{
    switch (backdrop) {
    case Backdrop::Blue: return {QColor(0x4F, 0x9B, 0xEE), QColor(0x1B, 0x5B, 0xB5)};
    case Backdrop::Navy: return {QColor(0x2D, 0x4C, 0x86), QColor(0x12, 0x24, 0x4E)};
    case Backdrop::Teal: return {QColor(0x3C, 0xC2, 0xC0), QColor(0x12, 0x7C, 0x86)};
    case Backdrop::Green: return {QColor(0x6C, 0xC8, 0x5E), QColor(0x2C, 0x86, 0x3A)};
    case Backdrop::Orange: return {QColor(0xFF, 0xAE, 0x4A), QColor(0xD8, 0x68, 0x14)};
    case Backdrop::Red: return {QColor(0xF0, 0x66, 0x5A), QColor(0xB3, 0x23, 0x2A)};
    case Backdrop::Grey: return {QColor(0x8E, 0x9A, 0xAA), QColor(0x4A, 0x55, 0x66)};
    case Backdrop::Circle: return {QColor(0x2A, 0x3D, 0x66), QColor(0x0E, 0x18, 0x33)};
    case Backdrop::None: break;
    }
    return {QColor(0, 0, 0, 0), QColor(0, 0, 0, 0)};
}

Palette paletteFor(Backdrop backdrop)
{
    Palette pal;
    pal.accent = QColor(0xFF, 0xB3, 0x2E);
    pal.green = QColor(0x6C, 0xC8, 0x5E);
    pal.red = QColor(0xE8, 0x45, 0x3C);
    if (backdrop == Backdrop::None) {
        // Free-standing pictures carry their own colours.
        pal.fg = QColor(0x2F, 0x6F, 0xC6);
        pal.fg2 = QColor(0x9C, 0xC7, 0xF5);
        pal.line = QColor(0x14, 0x2E, 0x55);
        pal.red = QColor(0xD9, 0x3A, 0x30);
        return pal;
    }
    pal.fg = QColor(0xFF, 0xFF, 0xFF);
    pal.fg2 = QColor(0xCF, 0xE6, 0xFF);
    pal.line = backdropColours(backdrop).bottom.darker(115);
    if (backdrop == Backdrop::Circle) {
        pal.fg = QColor(0xF4, 0xF6, 0xFA);
        pal.fg2 = QColor(0x8A, 0x9B, 0xBF);
        pal.accent = QColor(0xE8, 0xB4, 0x4A);
    }
    if (backdrop == Backdrop::Orange || backdrop == Backdrop::Red)
        pal.accent = QColor(0xFF, 0xE0, 0x6A);
    return pal;
}

QPainterPath backdropShape(Backdrop backdrop, int size)
{
    // Keep a pixel or so of air around the square at small sizes.
    const double inset = size <= 16 ? 0.0 : (size <= 32 ? 2.0 : 4.0);
    const double side = 100.0 - 2 * inset;
    QPainterPath shape;
    if (backdrop == Backdrop::Circle)
        shape.addEllipse(QRectF(inset, inset, side, side));
    else if (backdrop != Backdrop::None)
        shape.addRoundedRect(QRectF(inset, inset, side, side), size <= 16 ? 14 : 18, size <= 16 ? 14 : 18);
    return shape;
}

void drawBackdrop(QPainter &p, Backdrop backdrop, int size)
{
    if (backdrop == Backdrop::None)
        return;
    const QPainterPath shape = backdropShape(backdrop, size);
    const BackdropColours colours = backdropColours(backdrop);
    QLinearGradient gradient(0, 0, 0, 100);
    gradient.setColorAt(0, colours.top);
    gradient.setColorAt(1, colours.bottom);
    p.fillPath(shape, gradient);
    if (size >= 32) {
        // soft gloss on the upper half
        p.save();
        p.setClipPath(shape);
        QLinearGradient gloss(0, 0, 0, 50);
        gloss.setColorAt(0, QColor(255, 255, 255, 70));
        gloss.setColorAt(1, QColor(255, 255, 255, 0));
        QPainterPath top;
        top.addEllipse(QRectF(-30, -62, 160, 110));
        p.fillPath(top, gloss);
        p.restore();
    }
    const QTransform t = p.transform();
    const double unit = 1.0 / t.m11();
    if (backdrop == Backdrop::Circle && size >= 32) {
        const double inset = size <= 32 ? 5.0 : 7.0;
        QPainterPath ring;
        ring.addEllipse(QRectF(inset, inset, 100 - 2 * inset, 100 - 2 * inset));
        p.strokePath(ring, QPen(QColor(0xE8, 0xB4, 0x4A), std::max(2.0, 1.0 * unit)));
    }
    p.strokePath(shape, QPen(colours.bottom.darker(140), unit));
}

void drawLabel(QPainter &p, const IconDesign &design, int size)
{
    if (design.backdrop != Backdrop::Circle) {
        const QPainterPath shape = backdropShape(design.backdrop, size);
        p.save();
        p.setClipPath(shape);
        QPainterPath band;
        band.addRect(QRectF(0, 74, 100, 26));
        p.fillPath(band, QColor(0, 0, 0, 70));
        p.restore();
    }

    // Text is laid out in device pixels so glyph hinting works at 48 px.
    p.save();
    const double scale = size / 100.0;
    p.resetTransform();
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setStretch(QFont::SemiCondensed);
    font.setHintingPreference(QFont::PreferFullHinting);
    const bool circle = design.backdrop == Backdrop::Circle;
    const double maxWidth = (circle ? 62 : 80) * scale;
    int pixels = std::max(7, int(std::lround((circle ? 13 : 16) * scale)));
    for (;; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetricsF(font).horizontalAdvance(design.label) <= maxWidth || pixels <= 6)
            break;
    }
    p.setFont(font);
    p.setPen(QColor(255, 255, 255));
    const QRectF area = circle ? QRectF(0, 68 * scale, size, 16 * scale) : QRectF(0, 74 * scale, size, 22 * scale);
    p.drawText(area, Qt::AlignCenter, design.label);
    p.restore();
}

} // namespace

QImage renderIcon(const IconDesign &design, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / 100.0, size / 100.0);

    drawBackdrop(p, design.backdrop, size);
    const bool labelled = !design.label.isEmpty() && size >= 48 && design.backdrop != Backdrop::None;

    // Where the picture goes inside the square.
    double motifScale = 0.86;
    QPointF motifCentre(50, 50);
    if (design.backdrop == Backdrop::None) {
        motifScale = 1.0;
    } else if (labelled && design.backdrop == Backdrop::Circle) {
        motifScale = 0.62;
        motifCentre = QPointF(50, 42);
    } else if (labelled) {
        motifScale = 0.68;
        motifCentre = QPointF(50, 39);
    } else if (design.backdrop == Backdrop::Circle) {
        motifScale = 0.8;
    }
    if (size <= 16 && design.backdrop != Backdrop::None && design.backdrop != Backdrop::Circle)
        motifScale = 0.9;

    // The picture is drawn on a layer of its own so that its silhouette can
    // serve as a soft shadow on the backdrop.
    QImage layer(size, size, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHint(QPainter::Antialiasing);
        lp.scale(size / 100.0, size / 100.0);
        lp.translate(motifCentre);
        lp.scale(motifScale, motifScale);
        lp.translate(-50, -50);
        Ctx ctx{lp, paletteFor(design.backdrop), size};
        drawMotif(ctx, design.motif);
    }
    p.save();
    p.resetTransform();
    if (design.backdrop != Backdrop::None && size >= 48) {
        QImage shadow = layer;
        QPainter sp(&shadow);
        sp.setCompositionMode(QPainter::CompositionMode_SourceIn);
        QColor shade = backdropColours(design.backdrop).bottom.darker(170);
        shade.setAlpha(150);
        sp.fillRect(shadow.rect(), shade);
        sp.end();
        p.drawImage(QPointF(size / 100.0, size * 1.5 / 100.0), shadow);
    }
    p.drawImage(0, 0, layer);
    p.restore();

    if (labelled)
        drawLabel(p, design, size);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}
