#include "icons/glyphpack.h"

#include "glyphpack_version.h"

void generateLibFile(int)
{
}

#if !defined(_WIN32)

#include "icons/GlyphTable.h"

#include <string.h>

using glyphpack::GroupEntry;
using glyphpack::ImageEntry;
using glyphpack::kGroupCount;
using glyphpack::kGroups;

namespace {

const GroupEntry *groupAt(int group)
{
    if (group < 0 || group >= kGroupCount)
        return nullptr;
    return &kGroups[group];
}

struct VersionString
{
    const char *key;
    const char *value;
};

const VersionString kVersionStrings[] = {
    {"CompanyName", GLYPHPACK_COMPANY_STR},
    {"FileDescription", GLYPHPACK_DESCRIPTION_STR},
    {"FileVersion", GLYPHPACK_FILE_VERSION_STR},
    {"InternalName", GLYPHPACK_INTERNAL_NAME_STR},
    {"LegalCopyright", GLYPHPACK_COPYRIGHT_STR},
    {"OriginalFilename", GLYPHPACK_ORIGINAL_FILENAME_STR},
    {"ProductName", GLYPHPACK_PRODUCT_STR},
    {"ProductVersion", GLYPHPACK_PRODUCT_VERSION_STR},
};

} // namespace

extern "C" {

int glyphpack_group_count(void)
{
    return kGroupCount;
}

int glyphpack_find_group(const char *name)
{
    if (!name)
        return GLYPHPACK_NOT_FOUND;
    for (int i = 0; i < kGroupCount; ++i) {
        if (strcmp(kGroups[i].name, name) == 0)
            return i;
    }
    return GLYPHPACK_NOT_FOUND;
}

const char *glyphpack_group_name(int group)
{
    const GroupEntry *g = groupAt(group);
    return g ? g->name : nullptr;
}

int glyphpack_image_count(int group)
{
    const GroupEntry *g = groupAt(group);
    return g ? g->imageCount : GLYPHPACK_BAD_GROUP;
}

int glyphpack_image_info(int group, int index, int *size, int *depth, int *number)
{
    const GroupEntry *g = groupAt(group);
    if (!g)
        return GLYPHPACK_BAD_GROUP;
    if (index < 0 || index >= g->imageCount)
        return GLYPHPACK_BAD_IMAGE;
    const ImageEntry &image = g->images[index];
    if (size)
        *size = image.size;
    if (depth)
        *depth = image.depth;
    if (number)
        *number = image.number;
    return GLYPHPACK_OK;
}

int glyphpack_image_dib(int group, int index, const unsigned char **bytes, size_t *length)
{
    if (!bytes || !length)
        return GLYPHPACK_BAD_ARGUMENT;
    const GroupEntry *g = groupAt(group);
    if (!g)
        return GLYPHPACK_BAD_GROUP;
    if (index < 0 || index >= g->imageCount)
        return GLYPHPACK_BAD_IMAGE;
    *bytes = g->ico + g->images[index].offset;
    *length = g->images[index].length;
    return GLYPHPACK_OK;
}

int glyphpack_group_ico(int group, const unsigned char **bytes, size_t *length)
{
    if (!bytes || !length)
        return GLYPHPACK_BAD_ARGUMENT;
    const GroupEntry *g = groupAt(group);
    if (!g)
        return GLYPHPACK_BAD_GROUP;
    *bytes = g->ico;
    *length = g->icoLength;
    return GLYPHPACK_OK;
}

int glyphpack_language(void)
{
    return GLYPHPACK_LANGUAGE_GERMAN;
}

void glyphpack_file_version(int *major, int *minor, int *patch, int *build)
{
    if (major)
        *major = GLYPHPACK_VERSION_MAJOR;
    if (minor)
        *minor = GLYPHPACK_VERSION_MINOR;
    if (patch)
        *patch = GLYPHPACK_VERSION_PATCH;
    if (build)
        *build = GLYPHPACK_VERSION_BUILD;
}

const char *glyphpack_version_string(const char *key)
{
    if (!key)
        return nullptr;
    for (const VersionString &entry : kVersionStrings) {
        if (strcmp(entry.key, key) == 0)
            return entry.value;
    }
    return nullptr;
}

void glyphpack_translation(int *language, int *codepage)
{
    if (language)
        *language = GLYPHPACK_TRANSLATION_LANGUAGE;
    if (codepage)
        *codepage = GLYPHPACK_TRANSLATION_CODEPAGE;
}

const char *glyphpack_error_text(int code)
{
    switch (code) {
    case GLYPHPACK_OK:
        return "no error";
    case GLYPHPACK_NOT_FOUND:
        return "icon group not found";
    case GLYPHPACK_BAD_GROUP:
        return "icon group index out of range";
    case GLYPHPACK_BAD_IMAGE:
        return "image index out of range for this icon group";
    case GLYPHPACK_BAD_ARGUMENT:
        return "missing output argument";
    default:
        return "unknown error";
    }
}

} // extern "C"

#endif // !_WIN32
