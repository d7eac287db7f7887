#!/bin/sh
# Fails when a product file includes a header of a library its own library
# does not build on. Which library a file belongs to and what each library
# links are read from the CMake lists of settings/, mapview/, acquire/, app/
# and cli/ (tw_add_library and target_link_libraries, followed through), so the
# check follows the build and needs none. Files outside any library (the
# program's main) and generated headers are not checked.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
sources=$(find settings mapview acquire app cli -name '*.h' -o -name '*.cpp' | sort)
lists=$(find settings mapview acquire app cli -name CMakeLists.txt | sort)

# shellcheck disable=SC2086 # the lists of file names are split on purpose
awk '
FNR == 1 { dir = FILENAME; sub(/\/?[^\/]*$/, "", dir); inLib = ""; inLink = "" }
FILENAME ~ /CMakeLists\.txt$/ {
    line = $0; sub(/#.*/, "", line); gsub(/[()]/, " & ", line)
    n = split(line, word, /[ \t]+/)
    for (i = 1; i <= n; ++i) {
        w = word[i]
        if (w == "") continue
        if (w == "tw_add_library" || w == "target_link_libraries") { command = w; expectName = 1; continue }
        if (w == "(") continue
        if (w == ")") { inLib = ""; inLink = ""; continue }
        if (expectName) {
            expectName = 0
            if (command == "tw_add_library") inLib = w; else inLink = w
            continue
        }
        if (inLib != "" && w ~ /\.(h|cpp)$/) library[dir "/" w] = inLib
        if (inLink != "" && w ~ /^tilewright_/) links[inLink] = links[inLink] " " w
    }
    next
}
# Every source file: its includes of product headers.
/^[ \t]*#[ \t]*include[ \t]*"/ {
    header = $0; sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
    use[++uses] = FILENAME SUBSEP FNR SUBSEP header
}
function reaches(from, to,    list, k, n) {
    if (from == to) return 1
    if ((from, to) in memo) return memo[from, to]
    memo[from, to] = 0
    n = split(links[from], list, " ")
    for (k = 1; k <= n; ++k)
        if (reaches(list[k], to)) { memo[from, to] = 1; break }
    return memo[from, to]
}
END {
    bad = 0
    for (u = 1; u <= uses; ++u) {
        split(use[u], part, SUBSEP)
        own = library[part[1]]; theirs = library[part[3]]
        if (own == "" || theirs == "" || reaches(own, theirs)) continue
        printf "%s:%s: includes %s of %s, which %s does not build on\n", part[1], part[2], part[3], theirs, own
        bad = 1
    }
    exit bad
}' $lists $sources
