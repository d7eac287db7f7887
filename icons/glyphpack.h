#pragma once

/*
 * glyphpack: the product family's icon library.
 *
 * The library holds 71 icon groups named "IDI_ICON1" and "IDI_ICON101" to
 * "IDI_ICON170" and exports one function of its own, generateLibFile.
 *
 * On Windows the groups are ordinary icon resources (RT_GROUP_ICON / RT_ICON,
 * language 1031): load the DLL with LoadLibraryEx(..., LOAD_LIBRARY_AS_DATAFILE)
 * or LoadLibrary and use FindResourceEx / LoadImage by group name.
 *
 * Elsewhere shared libraries have no resource section, so the groups travel as
 * a table of embedded .ico files reached through the small C API below. The
 * library is meant to be opened with dlopen(); resolve the functions by name.
 */

#include <stddef.h>

#if defined(_WIN32)
#  if defined(GLYPHPACK_BUILDING)
#    define GLYPHPACK_API __declspec(dllexport)
#  else
#    define GLYPHPACK_API __declspec(dllimport)
#  endif
#else
#  define GLYPHPACK_API __attribute__((visibility("default")))
#endif

/* Kept for compatibility with the family's other libraries; ignores its
 * argument and returns at once. A plain C++ function: callers resolve it by its
 * decorated name (_Z15generateLibFilei on the Itanium C++ ABI). */
#ifdef __cplusplus
GLYPHPACK_API void generateLibFile(int);
#endif

#if !defined(_WIN32)

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of the functions below. Group indexes are 0 or greater, so a
 * negative return value is always one of these. */
enum {
    GLYPHPACK_OK = 0,
    GLYPHPACK_NOT_FOUND = -1,    /* no group of that name */
    GLYPHPACK_BAD_GROUP = -2,    /* group index out of range */
    GLYPHPACK_BAD_IMAGE = -3,    /* image index out of range for the group */
    GLYPHPACK_BAD_ARGUMENT = -4  /* a required pointer was null */
};

/* Language of every group and image: German (Germany). */
enum { GLYPHPACK_LANGUAGE_GERMAN = 1031 };

/* Number of groups (71); indexes run from 0 to count - 1 in resource order. */
GLYPHPACK_API int glyphpack_group_count(void);

/* Index of the group called name (case-sensitive, e.g. "IDI_ICON120"), or
 * GLYPHPACK_NOT_FOUND. */
GLYPHPACK_API int glyphpack_find_group(const char *name);

/* Name of a group, or a null pointer for an index out of range. */
GLYPHPACK_API const char *glyphpack_group_name(int group);

/* Number of images in a group (4 to 6), or GLYPHPACK_BAD_GROUP. */
GLYPHPACK_API int glyphpack_image_count(int group);

/* Square size in pixels, bits per pixel (32 or 8) and the image's number
 * (1 to 355, counted across all groups in order) of image index of group.
 * Any of the out pointers may be null. */
GLYPHPACK_API int glyphpack_image_info(int group, int index, int *size, int *depth, int *number);

/* The image alone as it sits in an icon resource: BITMAPINFOHEADER, palette
 * (8-bit images), colour bitmap and AND mask. The bytes live as long as the
 * library stays loaded. */
GLYPHPACK_API int glyphpack_image_dib(int group, int index, const unsigned char **bytes, size_t *length);

/* The whole group as a standard .ico file (ICONDIR, entries, images). */
GLYPHPACK_API int glyphpack_group_ico(int group, const unsigned char **bytes, size_t *length);

/* Language id of the icon resources (GLYPHPACK_LANGUAGE_GERMAN). */
GLYPHPACK_API int glyphpack_language(void);

/* The four numbers of the file version (5.16.1.36954). Any pointer may be null. */
GLYPHPACK_API void glyphpack_file_version(int *major, int *minor, int *patch, int *build);

/* A version string by its Windows version-resource key ("CompanyName",
 * "FileVersion", "ProductVersion", "FileDescription", "InternalName",
 * "LegalCopyright", "OriginalFilename", "ProductName"), or a null pointer for an
 * unknown key. */
GLYPHPACK_API const char *glyphpack_version_string(const char *key);

/* The translation entry of the version information: language 0 (neutral) and
 * code page 1200 (Unicode). Either pointer may be null. */
GLYPHPACK_API void glyphpack_translation(int *language, int *codepage);

/* Readable text for a result code, e.g. "icon group not found". Never null. */
GLYPHPACK_API const char *glyphpack_error_text(int code);

#ifdef __cplusplus
}
#endif

#endif /* !_WIN32 */
