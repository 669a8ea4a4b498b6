#!/usr/bin/env bash
# Renders the raster pictures of res/ from their drawings (needs librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../res"
rsvg-convert -w 128 -h 128 src/list.svg -o list.png
rsvg-convert -w 256 -h 256 app/kelpo.svg -o app/kelpo.png
cp app/kelpo.png kelpo.png
rsvg-convert -w 600 -h 200 src/kelpo_str.svg -o kelpo_str.png
