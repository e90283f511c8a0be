#!/usr/bin/env bash
# Measures how long the service takes to end after SIGTERM while it counts, on a quiet machine and
# under load:
#
#   ./scripts/measure-stop-time.sh [runs] [hogs]
#
# Builds the optimised service and bench/early_stop (build/release), renders a stereo scene of
# six people and runs the service on it as the demo does (played in a loop at 25 frames per second;
# alarms database, an LED utility, image and stream ports; no board, no inclinometer). Each run is sent
# SIGTERM 5 s after the counter has logged its first frame ("Processing first stereo-pair", after the
# 1 s skip), so that it has counted for 5 s however long its start took; early_stop prints the median
# and the longest time from the signal to the end of the process over the runs (`runs`, default 10)
# that logged that line, and from the start to that line; a run that did not is listed apart, and
# the script fails when none did. Then the same with `hogs` busy processes beside it (default twice the
# number of cores). Prints the load before and after each part.
#
# The busy processes share the service's session, and so its scheduling group where the kernel
# groups tasks by session (/proc/sys/kernel/sched_autogroup_enabled): the service's share of the
# processors depends on them and on how many other sessions are busy, not on the load average.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10}
hogs=${2:-$((2 * $(nproc)))}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF -DFLOWTALLY_BENCH=ON > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally flowtally_render early_stop > /dev/null

work=$(mktemp -d)
hog_pids=()
cleanup() {
  if [ ${#hog_pids[@]} -ne 0 ]; then kill "${hog_pids[@]}" 2> /dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
build/release/tools/flowtally_render --out "$work/scene" --frames 330 \
  --person 0,-190,0,190,5,180,0 --person -50,190,-50,-190,5,175,40 --person 45,-190,45,190,4,168,90 \
  --person -45,-190,-45,190,5,185,170 --person 50,190,50,-190,5,172,170 --person 10,190,-10,-190,6,190,250 \
  > /dev/null
sqlite3 "$work/alarms.sqlite" < schema/alarms.sql

measure() {
  # Two ports that were free a moment ago, asked for each part: the kernel gave them to sockets that
  # early_stop bound to port 0 (no port is guessed, so none that another program holds is taken).
  local ports image_port stream_port
  ports=$(build/release/bench/early_stop --free-ports 2)
  image_port=${ports%%$'\n'*}
  stream_port=${ports##*$'\n'}
  echo "$1: load before $(cut -d' ' -f1-3 /proc/loadavg); image port $image_port, stream port $stream_port"
  build/release/bench/early_stop --runs "$runs" --delays-us 5000000 --after-output "[algo] Processing first stereo-pair" -- \
    "$PWD/build/release/application/flowtally" --stereo=true --camera_width=320 --camera_height=240 \
    --skip_ms=1000 --inclinometer=false --camera_angle=0 --alarms="$work/alarms.sqlite" \
    --error_file_directory="$work/errors" --angle_file_path="$work/camera_angle" \
    --algo_config="$work/scene/algo.ini" --set_leds=/bin/true --board_device="$work/no-board" \
    --image_port="$image_port" --stream_port="$stream_port" \
    "--pipeline=multifilesrc location=$work/scene/frame_%05d.png loop=true caps=image/png,framerate=25/1 ! pngdec ! identity sync=true ! videoconvert ! capsfilter caps=video/x-raw,format=GRAY8,width={camera_width},height={camera_height},framerate=25/1 name=tail"
  echo "$1: load after $(cut -d' ' -f1-3 /proc/loadavg)"
}

measure "quiet"
for _ in $(seq "$hogs"); do
  sh -c 'while :; do :; done' &
  hog_pids+=($!)
done
sleep 30  # the load average follows
measure "with $hogs busy processes"
