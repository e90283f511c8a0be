#!/usr/bin/env bash
# Installs the packages, builds the service optimised, and runs it on the demo configuration: a
# rendered stereo camera (people walking both ways under it, played in a loop at 25 frames per
# second), a local alarms database, no board, no inclinometer, no frame buffer.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF
cmake --build build/release -j "$(nproc)" --target flowtally flowtally_render

run=build/demo
mkdir -p "$run"
# The camera: a scene rendered once, with the analyser's calibration and counting line in
# build/demo/scene/algo.ini and the ground truth of one loop in build/demo/scene/truth.txt.
if [ ! -f "$run/scene/truth.txt" ]; then
  build/release/tools/flowtally_render --out "$run/scene" --frames 330 \
    --person 0,-190,0,190,5,180,0 --person -50,190,-50,-190,5,175,40 --person 45,-190,45,190,4,168,90 \
    --person -45,-190,-45,190,5,185,170 --person 50,190,50,-190,5,172,170 --person 10,190,-10,-190,6,190,250 \
    > /dev/null
fi
if [ ! -f "$run/alarms.sqlite" ]; then
  sqlite3 "$run/alarms.sqlite" < schema/alarms.sql
fi
exec build/release/application/flowtally --config demo/flowtally.conf "$@"
