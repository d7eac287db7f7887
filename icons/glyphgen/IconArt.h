#pragma once

#include "IconCatalog.h"

#include <QImage>

// Draws one icon of the catalogue at a square size, ARGB with straight alpha.
// Each size is drawn anew from the vector description, not scaled from a larger
// image: small sizes drop labels and fine detail and keep lines at least one
// pixel wide.
QImage renderIcon(const IconDesign &design, int size);
