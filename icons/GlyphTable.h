#pragma once

// Layout of the embedded icon table. The generator writes the data (one .ico
// file per group plus the position of every image inside it); glyphpack.cpp
// only reads it. Everything here is constant-initialised, so loading the
// library runs no code of ours.

#include <stddef.h>

namespace glyphpack {

struct ImageEntry
{
    int size;       // square edge in pixels
    int depth;      // bits per pixel
    int number;     // image number across all groups, from 1
    size_t offset;  // start of the DIB inside the group's .ico bytes
    size_t length;  // DIB length in bytes
};

struct GroupEntry
{
    const char *name;
    const unsigned char *ico;
    size_t icoLength;
    const ImageEntry *images;
    int imageCount;
};

extern const GroupEntry kGroups[];
extern const int kGroupCount;

} // namespace glyphpack
