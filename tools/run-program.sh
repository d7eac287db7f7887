#!/bin/sh
# Installs what the program needs (root only for what is missing, see
# install-deps.sh), builds it and starts it; any user may run it.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILEWRIGHT_BUILD_TESTS=OFF
cmake --build "$top/build" -j"$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting the program on a virtual X server (xvfb-run)."
    exec xvfb-run -a "$top/build/bin/CvTilewright"
fi
exec "$top/build/bin/CvTilewright"
