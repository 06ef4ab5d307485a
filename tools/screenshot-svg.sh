#!/usr/bin/env bash
# Takes a screenshot of an SVG picture the way a person sees it, with headless Chromium
# (installed from Debian's packages when it is missing), and writes it as a PNG:
#   tools/screenshot-svg.sh PICTURE.svg SHOT.png
# The window is sized to the picture (its width and height in points), at most 4000 pixels
# each way. Used to look at the pictures zelka-host graph draws; the tests do not need it.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 PICTURE.svg SHOT.png" >&2
  exit 2
fi
svg=$(realpath "$1")
png=$(realpath -m "$2")
[ -f "$svg" ] || { echo "$0: no file $1" >&2; exit 1; }
"$(dirname "$0")/ensure-packages.sh" chromium

# <svg width="539pt" height="1684pt" ...>: points to pixels (96 / 72), plus a margin.
size() {
  local points
  points=$(grep -o -m1 "<svg[^>]*" "$svg" | grep -o "$1=\"[0-9.]*" | head -n1 | cut -d'"' -f2)
  points=${points:-800}
  local pixels=$(( ${points%.*} * 4 / 3 + 16 ))
  [ "$pixels" -gt 4000 ] && pixels=4000
  echo "$pixels"
}
width=$(size width)
height=$(size height)

rm -f "$png"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --force-device-scale-factor=1 \
  --window-size="$width,$height" --screenshot="$png" "file://$svg" >/dev/null 2>&1 || true
if [ ! -s "$png" ]; then
  echo "$0: Chromium wrote no screenshot of $1" >&2
  exit 1
fi
echo "$png: ${width}x${height} screenshot of $1"
