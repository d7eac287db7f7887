#include "IconCatalog.h"

namespace {

struct Row
{
    int number;  // 1 or 101..170
    Motif motif;
    Backdrop backdrop;
    const char *label;
};

// The maker's emblem first, then the applications and device types. Most sit on
// the family's blue square; a few products keep their own colour.
const Row kRows[] = {
    {1, Motif::Raven, Backdrop::Circle, "CORVANE"},
    {101, Motif::Tiles, Backdrop::Blue, "TILES"},
    {102, Motif::Globe, Backdrop::Blue, "WORLD"},
    {103, Motif::Map, Backdrop::Blue, "MAP"},
    {104, Motif::Compass, Backdrop::Blue, "NAV"},
    {105, Motif::Anchor, Backdrop::Blue, "SEA"},
    {106, Motif::Mountain, Backdrop::Blue, "TOPO"},
    {107, Motif::Satellite, Backdrop::Blue, "SAT"},
    {108, Motif::Phone, Backdrop::Blue, "PHONE"},
    {109, Motif::Laptop, Backdrop::Blue, "PC"},
    {110, Motif::Tablet, Backdrop::Blue, "TAB"},
    {111, Motif::GpsUnit, Backdrop::Blue, "GPS"},
    {112, Motif::Car, Backdrop::Blue, "CAR"},
    {113, Motif::Boat, Backdrop::Blue, "BOAT"},
    {114, Motif::Gear, Backdrop::Blue, "SETUP"},
    {115, Motif::Folder, Backdrop::Blue, "FILES"},
    {116, Motif::Download, Backdrop::Blue, "LOAD"},
    {117, Motif::Pin, Backdrop::Blue, "POI"},
    {118, Motif::Layers, Backdrop::Blue, "LAYER"},
    {119, Motif::Route, Backdrop::Blue, "ROUTE"},
    {120, Motif::Flag, Backdrop::Blue, "GOAL"},
    {121, Motif::Lighthouse, Backdrop::Navy, "COAST"},
    {122, Motif::Airplane, Backdrop::Blue, "AIR"},
    {123, Motif::Truck, Backdrop::Blue, "FLEET"},
    {124, Motif::Waves, Backdrop::Teal, "TIDE"},
    {125, Motif::Crosshair, Backdrop::Blue, "WPT"},
    {126, Motif::Key, Backdrop::Blue, "KEY"},
    {127, Motif::Shield, Backdrop::Blue, "SAFE"},
    {128, Motif::Cloud, Backdrop::Blue, "CLOUD"},
    {129, Motif::Server, Backdrop::Blue, "WMS"},
    {130, Motif::Database, Backdrop::Blue, "DATA"},
    {131, Motif::Document, Backdrop::Blue, "DOC"},
    {132, Motif::Printer, Backdrop::Blue, "PRINT"},
    {133, Motif::Camera, Backdrop::Blue, "PHOTO"},
    {134, Motif::Watch, Backdrop::Blue, "WEAR"},
    {135, Motif::Monitor, Backdrop::Blue, "DESK"},
    {136, Motif::MemoryCard, Backdrop::Blue, "SD"},
    {137, Motif::UsbStick, Backdrop::Blue, "USB"},
    {138, Motif::RadioTower, Backdrop::Blue, "RADIO"},
    {139, Motif::Wifi, Backdrop::Blue, "WLAN"},
    {140, Motif::Battery, Backdrop::Blue, "POWER"},
    {141, Motif::Clock, Backdrop::Blue, "TIME"},
    {142, Motif::Magnifier, Backdrop::Blue, "FIND"},
    {143, Motif::Ruler, Backdrop::Blue, "SCALE"},
    {144, Motif::Profile, Backdrop::Blue, "SRTM"},
    {145, Motif::Sun, Backdrop::Blue, "WX"},
    {146, Motif::Tree, Backdrop::Green, "PARK"},
    {147, Motif::House, Backdrop::Blue, "HOME"},
    {148, Motif::Helm, Backdrop::Navy, "HELM"},
    {149, Motif::Fish, Backdrop::Teal, "FISH"},
    {150, Motif::Tent, Backdrop::Green, "CAMP"},
    {151, Motif::Lock, Backdrop::Blue, "LOCK"},
    {152, Motif::Envelope, Backdrop::Blue, "MAIL"},
    {153, Motif::Sync, Backdrop::Blue, "SYNC"},
    {154, Motif::Info, Backdrop::Blue, ""},
    {155, Motif::Help, Backdrop::Blue, ""},
    {156, Motif::Sliders, Backdrop::Grey, "TUNE"},
    {157, Motif::Book, Backdrop::Blue, "GUIDE"},
    {158, Motif::Buoy, Backdrop::Teal, "BUOY"},
    {159, Motif::Chip, Backdrop::Blue, "CORE"},
    {160, Motif::Headphones, Backdrop::Blue, "AUDIO"},
    {161, Motif::Bicycle, Backdrop::Orange, "BIKE"},
    {162, Motif::Footprints, Backdrop::Green, "TREK"},
    {163, Motif::Star, Backdrop::Blue, "PRO"},
    {164, Motif::Puzzle, Backdrop::Blue, "PLUG"},
    {165, Motif::CarNavigator, Backdrop::Blue, "NAVI"},
    {166, Motif::Globe, Backdrop::None, ""},
    {167, Motif::Map, Backdrop::Orange, "ATLAS"},
    {168, Motif::Compass, Backdrop::None, ""},
    {169, Motif::Download, Backdrop::Red, "UPDATE"},
    {170, Motif::Tiles, Backdrop::Blue, "TW"},
};

} // namespace

QVector<IconDesign> iconCatalog()
{
    QVector<IconDesign> designs;
    for (const Row &row : kRows) {
        IconDesign design;
        design.group = QStringLiteral("IDI_ICON%1").arg(row.number);
        design.motif = row.motif;
        design.backdrop = row.backdrop;
        design.label = QString::fromLatin1(row.label);
        design.depth = 32;
        design.sizes = {128, 64, 48, 32, 16};
        if (row.number == 165) {
            design.sizes = {128, 64, 32, 16};
        } else if (row.number == 170) {
            // The family's older palette icon, which also came in 256 pixels.
            design.sizes = {256, 128, 64, 48, 32, 16};
            design.depth = 8;
        }
        designs.append(design);
    }
    return designs;
}
