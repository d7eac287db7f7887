# Where `cmake --install` puts the program folder: the executable with Tiles/,
# Manuals/, the .qm catalogues and libglyphpack.so beside it, where the program
# looks for them.
#
#   plain install (cmake --install build --prefix P):  P/bin, as the build's bin/
#   package layout (cpack, or TILEWRIGHT_PACKAGE_LAYOUT=ON at install time):
#       /opt/cvtilewright with links in P/bin (P = /usr in the package), and the
#       Debian files (copyright, changelog, lintian overrides) in P/share
#
# The choice is made when the install runs, not when the build is configured,
# so `cpack -G DEB` in any build folder gives the package layout and a plain
# install of the same folder keeps the plain one. Install rules of the program
# folder name TILEWRIGHT_INSTALL_PROGRAM_DIR as their destination; it is a
# reference resolved by the install script, relative to the prefix.
include(GNUInstallDirs)
# Folders made by the install are 0755 whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(TILEWRIGHT_PACKAGE_NAME cvtilewright)
# The package's own revision of the program version (5.15.0-1); counts up when
# only the packaging changes.
set(TILEWRIGHT_PACKAGE_REVISION 1)
set(TILEWRIGHT_PACKAGE_PROGRAM_DIR /opt/${TILEWRIGHT_PACKAGE_NAME})
# The package's prefix; the program folder is placed relative to it.
set(TILEWRIGHT_PACKAGE_PREFIX /usr)
file(RELATIVE_PATH _tw_package_program_dir ${TILEWRIGHT_PACKAGE_PREFIX} ${TILEWRIGHT_PACKAGE_PROGRAM_DIR})

set(TILEWRIGHT_INSTALL_PROGRAM_DIR "\${TILEWRIGHT_PROGRAM_DIR}")
install(CODE "
if(TILEWRIGHT_PACKAGE_LAYOUT)
    set(TILEWRIGHT_PROGRAM_DIR \"${_tw_package_program_dir}\")
else()
    set(TILEWRIGHT_PROGRAM_DIR \"${CMAKE_INSTALL_BINDIR}\")
endif()
")
