#pragma once

#include <QString>
#include <QVector>

// The pictures the library carries, one entry per icon group in resource order.

enum class Motif {
    Raven, Tiles, Globe, Map, Compass, Anchor, Mountain, Satellite, Phone, Laptop,
    Tablet, GpsUnit, Car, Boat, Gear, Folder, Download, Pin, Layers, Route,
    Flag, Lighthouse, Airplane, Truck, Waves, Crosshair, Key, Shield, Cloud, Server,
    Database, Document, Printer, Camera, Watch, Monitor, MemoryCard, UsbStick, RadioTower, Wifi,
    Battery, Clock, Magnifier, Ruler, Profile, Sun, Tree, House, Helm, Fish,
    Tent, Lock, Envelope, Sync, Info, Help, Sliders, Book, Buoy, Chip,
    Headphones, Bicycle, Footprints, Star, Puzzle, CarNavigator
};

enum class Backdrop { Blue, Navy, Teal, Green, Orange, Red, Grey, Circle, None };

struct IconDesign
{
    QString group;         // resource name, e.g. "IDI_ICON101"
    Motif motif;
    Backdrop backdrop;
    QString label;         // short product label; empty for none
    QVector<int> sizes;    // square edges in the group's order
    int depth;             // 32 (BGRA + mask) or 8 (palette + mask)
};

// All 71 groups: "IDI_ICON1", then "IDI_ICON101" to "IDI_ICON170".
QVector<IconDesign> iconCatalog();
