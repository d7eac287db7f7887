#!/bin/sh
# Checks a built package (the package tests run it):
#   check-package.sh lint  <package folder>   lintian (no errors), desktop-file-validate,
#                                             appstreamcli validate --no-net
#   check-package.sh start <package folder>   unpacks the package into a temporary root and
#                                             starts the program there through its /usr/bin
#                                             link, offscreen, as an unprivileged user
# The folder holds the one package CPack made (cvtilewright_*.deb).
set -eu
mode=$1
folder=$2
fail() { echo "check-package: $*" >&2; exit 1; }

set -- "$folder"/cvtilewright_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one cvtilewright_*.deb in $folder, found: $*"
deb=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
dpkg-deb -x "$deb" "$work/root"

case $mode in
lint)
    # Warnings are listed in the README's packaging section, each with its reason.
    lintian --fail-on error --tag-display-limit 0 "$deb"
    desktop-file-validate "$work"/root/usr/share/applications/*.desktop
    appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml
    ;;
start)
    # The link is absolute (/usr and /opt are different top folders): start the
    # program through a link of the same name that points into the unpacked tree.
    link=$work/root/usr/bin/CvTilewright
    [ -L "$link" ] || fail "usr/bin/CvTilewright is no link"
    target=$(readlink "$link")
    case $target in
    /*) ;;
    *) fail "usr/bin/CvTilewright is a relative link: $target" ;;
    esac
    mkdir "$work/bin"
    ln -s "$work/root$target" "$work/bin/CvTilewright"
    link=$work/bin/CvTilewright
    program_dir=$(cd "$work/root/opt/cvtilewright" && pwd -P)
    home=$work/home
    mkdir -m 700 "$home"
    # As root, the program runs as nobody, which cannot write the unpacked tree.
    as_user=""
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody "$home"
        as_user="setpriv --reuid=nobody --regid=nogroup --clear-groups --"
    fi
    # No server is contacted: the map server refuses on loopback and the proxy
    # detection waits longer than the program runs.
    status=0
    (cd "$home" && env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
        TILEWRIGHT_START_CHECK=1 TILEWRIGHT_PROXY_DELAY_MS=3600000 \
        TILEWRIGHT_OSM_TILE_URL=http://127.0.0.1:9 TILEWRIGHT_SEAMARK_TILE_URL=http://127.0.0.1:9 \
        timeout 120 $as_user "$link") > "$work/report" 2> "$work/errors" || status=$?
    cat "$work/report"
    [ "$status" -eq 0 ] || { cat "$work/errors" >&2; fail "the program ended with status $status"; }
    for line in "program folder: $program_dir" \
                "catalogue: $program_dir/CvTile_de.qm (de_DE)" \
                "overview images: 5 of 5" \
                "manual: $program_dir/Manuals/Tilewright.pdf"; do
        grep -qxF "$line" "$work/report" || fail "the report lacks \"$line\""
    done
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
