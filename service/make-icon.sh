#!/bin/bash
# Draws the tray icon (a pen over a signature pad) and writes it, in several
# sizes, to vtinkhost.ico beside this script, and as a 64x64 PNG for the
# desktop entries to packaging/vtinkhost.png. Output is reproducible: run it
# again after changing the drawing and commit both files.
# Needs ImageMagick's convert.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/vtinkhost.ico}
png=${2:-$here/../packaging/vtinkhost.png}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Master drawing on a 256x256 canvas.
convert -size 256x256 xc:none \
  -fill '#1f3a5f' -stroke '#0e1e33' -strokewidth 6 -draw 'roundrectangle 14,52 218,236 22,22' \
  -fill '#eef4fb' -stroke none -draw 'roundrectangle 34,72 198,196 10,10' \
  -fill '#7fa7d1' -draw 'circle 184,216 184,224' \
  -fill none -stroke '#1f3a5f' -strokewidth 9 -draw 'stroke-linecap round' -draw 'stroke-linejoin round' \
  -draw 'path "M 52,166 C 70,110 86,110 90,150 S 112,178 124,140 S 146,120 150,160"' \
  -stroke none -fill '#e08a1e' -draw 'polygon 150,160 160,128 238,50 250,62 172,140' \
  -fill '#3b3b3b' -draw 'polygon 150,160 156,141 163,148' \
  -fill '#b85f00' -draw 'polygon 232,44 244,32 258,46 246,58' \
  -strip "$tmp/master.png"

sizes=(16 24 32 48 64 128)
files=()
for s in "${sizes[@]}"; do
  convert "$tmp/master.png" -filter Lanczos -resize "${s}x${s}" -strip "$tmp/icon-$s.png"
  files+=("$tmp/icon-$s.png")
done
convert "${files[@]}" -strip "$out"
convert "$tmp/icon-64.png" -define png:exclude-chunks=date,time -strip "$png"
echo "wrote $out (${sizes[*]}) and $png"
