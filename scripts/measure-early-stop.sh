#!/usr/bin/env bash
# Measures how the service ends when SIGTERM comes in the first milliseconds of its life:
#
#   ./scripts/measure-early-stop.sh [runs] [delays-us] [program]
#
# Builds the optimised service and bench/early_stop (build/release), then starts `program` (default
# `flowtally`; `flowtally-service` is the service program it starts, without it) `runs`
# times (default 20) for each delay (default 0, 0.5, 1, 2, 3, 4, 5, 20 and 100 ms, in
# microseconds, after the start returned, the delays interleaved), sends it SIGTERM after that
# delay and counts how it ended: in order (exit code 0), ended by the signal itself (143 in a
# shell), or otherwise. The service runs without algorithms on a test picture, as a device would
# start (database, board, LED utility configured). Prints the machine's load before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-20}
delays=${2:-0,500,1000,2000,3000,4000,5000,20000,100000}
program=${3:-flowtally}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF -DFLOWTALLY_BENCH=ON > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally early_stop > /dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sqlite3 "$work/alarms.sqlite" < schema/alarms.sql
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
build/release/bench/early_stop --runs "$runs" --delays-us "$delays" -- \
  "$PWD/build/release/application/$program" --algo_enabled=false --stream_port=0 --image_port=0 \
  --inclinometer=false --alarms="$work/alarms.sqlite" --error_file_directory="$work/errors" \
  --angle_file_path="$work/camera_angle" --set_leds=/bin/true --board_device="$work/no-board" \
  "--pipeline=videotestsrc is-live=true ! capsfilter caps=video/x-raw,format=GRAY8,width={camera_width},height={camera_height},framerate=25/1 name=tail"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
