#!/usr/bin/env bash
# Measures how long a start takes until the counter receives the camera's first frame, with the
# alarms database free and with it locked by another program (which holds its write lock
# throughout):
#
#   ./scripts/measure-locked-start.sh [runs]
#
# Builds the optimised service (build/release), then `runs` times (default 5), interleaved: starts
# it on a fresh database, free or locked, and takes the time from the start to the log line
# "[algo] Received first frame ..."; then stops it. Prints each run, the medians and the machine's
# load.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally > /dev/null

work=$(mktemp -d)
# The single-camera counter's parameters (its defaults).
: > "$work/algo.ini"
holder=
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Seconds from the start to the first frame; $1: free or locked.
one_start() {
  local mode=$1 db=$work/alarms.sqlite log=$work/flowtally.log
  rm -f "$db" "$log"
  sqlite3 "$db" < schema/alarms.sql
  if [ "$mode" = locked ]; then
    # Another program holds the write lock for longer than the start waits.
    (echo "BEGIN EXCLUSIVE;"; sleep 20; echo "COMMIT;") | sqlite3 "$db" &
    holder=$!
    until ! sqlite3 "$db" "BEGIN IMMEDIATE; ROLLBACK;" 2> /dev/null; do sleep 0.05; done
  fi
  local start
  start=$(now_ms)
  # Line-buffered, so that each line is in the log as soon as it is written.
  stdbuf -oL build/release/application/flowtally --stereo=false --camera_width=64 --camera_height=48 \
    --algo_width=32 --algo_height=24 --stream_port=0 --image_port=0 --inclinometer=false \
    --camera_angle=0 --alarms="$db" --error_file_directory="$work/errors" \
    --angle_file_path="$work/camera_angle" --algo_config="$work/algo.ini" --set_leds=/bin/true \
    --board_device="$work/no-board" \
    "--pipeline=videotestsrc is-live=true ! capsfilter caps=video/x-raw,format=GRAY8,width={camera_width},height={camera_height},framerate=25/1 name=tail" \
    > "$log" 2>&1 &
  local service=$!
  until grep -q "^\[algo\] Received first frame" "$log"; do
    kill -0 "$service" 2> /dev/null || { echo "the service ended early:" >&2; cat "$log" >&2; exit 1; }
    sleep 0.01
  done
  local started
  started=$(now_ms)
  kill -TERM "$service"
  wait "$service" || true
  if [ -n "$holder" ]; then
    kill "$holder" 2> /dev/null || true
    wait "$holder" 2> /dev/null || true
    holder=
  fi
  awk -v ms=$((started - start)) 'BEGIN { printf "%.2f", ms / 1000 }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
free_times=()
locked_times=()
for ((run = 1; run <= runs; ++run)); do
  free_times+=("$(one_start free)")
  locked_times+=("$(one_start locked)")
  echo "run $run: free ${free_times[-1]} s, locked ${locked_times[-1]} s"
done
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2) }'; }
echo "median of $runs runs to the first frame: free $(median "${free_times[@]}") s, locked $(median "${locked_times[@]}") s"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
