#!/usr/bin/env bash
# Builds tools/make_artwork.cpp (cairo + pango, already build dependencies) and draws the app's
# images into TVS/Resources/Assets. The outputs are committed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
c++ -std=c++20 -O1 -Wall -Wextra -o "$tmp/make_artwork" "$root/tools/make_artwork.cpp" \
  $(pkg-config --cflags --libs pangocairo cairo)
mkdir -p "$root/TVS/Resources/Assets"
"$tmp/make_artwork" "$root/TVS/Resources/Assets"
ls "$root/TVS/Resources/Assets"
