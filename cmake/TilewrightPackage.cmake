# The Debian package, made by CPack from the install rules:
#   cpack -G DEB            (in a build folder; tools/make-package.sh from a clean tree)
# gives cvtilewright_<version>-<revision>_<arch>.deb with the program folder in
# /opt/cvtilewright, links in /usr/bin, the desktop files in /usr/share and the
# dependencies computed from the binaries (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TILEWRIGHT_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TILEWRIGHT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fill a local map tile folder for offline use")
# Lines of at most 79 characters: the control file keeps them as they are.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "CvTilewright shows an interactive map; whatever the map shows is the area\n"
    "to fetch. Every tile of the visible area, from the map's zoom up to a chosen\n"
    "one, is fetched into a folder laid out by zoom, column and row, for programs\n"
    "that read map tiles offline.\n"
    "\n"
    "Sources: OpenStreetMap standard tiles, OpenSeaMap seamarks, SRTM elevation\n"
    "archives, tile servers and Web Map Services of your own list, the server of\n"
    "an imported DGML map theme, or an existing tile folder on disk.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${TILEWRIGHT_PACKAGE_PREFIX})
set(CPACK_CUSTOM_INSTALL_VARIABLES TILEWRIGHT_PACKAGE_LAYOUT=ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${TILEWRIGHT_PACKAGE_NAME})

set(CPACK_DEBIAN_PACKAGE_NAME ${TILEWRIGHT_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TILEWRIGHT_PACKAGE_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TILEWRIGHT_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The manual opens in the desktop's PDF viewer; HTTPS needs the CA store;
# standard dialogs speak German with Qt's own catalogue.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qttranslations5-l10n")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
