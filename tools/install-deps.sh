#!/bin/sh
# Debian 12 packages for building, running and testing CvTilewright (run as root).
#   tools/install-deps.sh          what the program needs to build and run
#   tools/install-deps.sh --tests  plus the servers the tests start (nginx, MapProxy),
#                                  ccache, which lets repeated CI runs reuse compilations,
#                                  and clang with its libFuzzer and sanitizer runtimes
#                                  (libclang-rt-14-dev) for tools/run-fuzz.sh, and the
#                                  readers of what the program writes (GDAL, sqlite3) and
#                                  of its package (lintian, desktop-file-validate, appstreamcli)
set -eu
packages="build-essential cmake ninja-build qtbase5-dev qttools5-dev qttools5-dev-tools
  libqt5svg5-dev libcurl4-openssl-dev libssl-dev zlib1g-dev libdeflate-dev libsqlite3-dev pkg-config xvfb xauth fonts-dejavu-core qttranslations5-l10n"
if [ "${1:-}" = "--tests" ]; then
    packages="$packages nginx-light mapproxy openssl curl squid apache2-utils ccache clang libclang-rt-14-dev
      gdal-bin sqlite3 lintian desktop-file-utils appstream dpkg-dev file"
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps.sh: run as root (apt-get install)" >&2
    exit 1
fi
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    # Packaged services (nginx) are not to be started by the installation: the
    # tests run their own servers, and a busy port 80 would fail the install.
    policy=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        policy=/usr/sbin/policy-rc.d
        printf '#!/bin/sh\nexit 101\n' > "$policy"
        chmod +x "$policy"
        trap 'rm -f "$policy"' EXIT
    fi
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi
# The packaged nginx service is not needed: the tests start their own servers.
if [ "${1:-}" = "--tests" ] && command -v systemctl >/dev/null 2>&1; then
    systemctl disable --now nginx squid >/dev/null 2>&1 || true
fi
