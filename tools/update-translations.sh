#!/bin/sh
# Collects the program's texts into the translation sources (resources/*.ts),
# keeping existing translations. Run after adding or changing user-visible texts.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
lupdate=$(command -v lupdate || echo /usr/lib/qt5/bin/lupdate)
cd "$top"
"$lupdate" -I . -no-obsolete -locations none app mapview acquire settings -ts resources/CvTile_de.ts
