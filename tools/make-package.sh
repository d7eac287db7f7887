#!/bin/sh
# Builds the Debian package from a clean tree: a Release build of the program
# alone in build-package/ (Debian's hardening flags from dpkg-buildflags), then
# CPack. The package lands in build-package/: cvtilewright_<version>_<arch>.deb.
#   tools/make-package.sh             build and package
#   tools/make-package.sh --check     and check it (lintian, desktop-file-validate,
#                                     appstreamcli, a start of the unpacked program)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${TILEWRIGHT_PACKAGE_BUILD:-$top/build-package}
check=${1:-}
if [ "$check" = "--check" ]; then
    "$top/tools/install-deps.sh" --tests
else
    "$top/tools/install-deps.sh"
fi

launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}"
    export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi
rm -rf "$dir"
# All of Debian's hardening, immediate binding included.
export DEB_BUILD_MAINT_OPTIONS="${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}"
# shellcheck disable=SC2086 # $launcher is two separate options or nothing
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTILEWRIGHT_WERROR=ON \
        -DTILEWRIGHT_BUILD_TESTS=OFF -DTILEWRIGHT_BUILD_BENCH=OFF $launcher
cmake --build "$dir" -j"$(nproc)"
(cd "$dir" && cpack -G DEB)
set -- "$dir"/cvtilewright_*.deb
echo "Package: $1"
if [ "$check" = "--check" ]; then
    sh "$top/packaging/check-package.sh" lint "$dir"
    sh "$top/packaging/check-package.sh" start "$dir"
fi
