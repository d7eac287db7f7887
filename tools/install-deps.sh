#!/bin/sh
# Debian 12 packages for building, running and testing CvTilewright. Any user may
# run it: when nothing is missing it changes nothing; what is missing is installed
# as root (directly, or through sudo when that needs no password), or the command
# to install it is printed.
#   tools/install-deps.sh          what the program needs to build and run
#   tools/install-deps.sh --tests  plus the servers the tests start (nginx, MapProxy),
#                                  ccache, which lets repeated CI runs reuse compilations,
#                                  and clang with its libFuzzer and sanitizer runtimes
#                                  (libclang-rt-14-dev) for tools/run-fuzz.sh, and the
#                                  readers of what the program writes (GDAL, sqlite3) and
#                                  of its package (lintian, desktop-file-validate, appstreamcli);
#                                  file: CPack reads the binaries with it for their dependencies
set -eu
packages="build-essential cmake ninja-build qtbase5-dev qttools5-dev qttools5-dev-tools
  libqt5svg5-dev libcurl4-openssl-dev libssl-dev zlib1g-dev libdeflate-dev libsqlite3-dev pkg-config xvfb xauth
  fonts-dejavu-core qttranslations5-l10n file"
if [ "${1:-}" = "--tests" ]; then
    packages="$packages nginx-light mapproxy openssl curl squid apache2-utils ccache clang libclang-rt-14-dev
      gdal-bin sqlite3 lintian desktop-file-utils appstream"
fi
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done

# Root is needed only to install what is missing: as root, through sudo when it
# asks for no password, or else the user is told the command to run.
as_root=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        as_root="sudo -n"
    elif [ -n "$missing" ]; then
        echo "install-deps.sh: these Debian packages are missing:$missing" >&2
        echo "Install them as root, then run this again:" >&2
        echo "    sudo apt-get update && sudo apt-get install -y --no-install-recommends$missing" >&2
        exit 1
    else
        exit 0
    fi
fi
if [ -n "$missing" ]; then
    # Packaged services (nginx) are not to be started by the installation: the
    # tests run their own servers, and a busy port 80 would fail the install.
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        $as_root sh -c "printf '#!/bin/sh\\nexit 101\\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d"
        trap '$as_root rm -f /usr/sbin/policy-rc.d' EXIT
    fi
    $as_root apt-get update
    # shellcheck disable=SC2086 # one word per package
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi
# The packaged nginx service is not needed: the tests start their own servers.
if [ "${1:-}" = "--tests" ] && command -v systemctl >/dev/null 2>&1; then
    $as_root systemctl disable --now nginx squid >/dev/null 2>&1 || true
fi
