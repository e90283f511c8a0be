#!/usr/bin/env bash
# Measures how much the LED utility holds up counting: the passes the optimised service counts in a
# fixed time on a single-camera scene played in a loop as fast as the counter takes the frames,
#
#   ./scripts/measure-led-load.sh [seconds] [runs] [work-dir]
#
# once with `--set_leds=/bin/true` and once with a utility that leaves a process running in the
# background at every call (`/bin/sleep 30 &`, then it exits), interleaved, `runs` times each
# (default 3) for `seconds` each (default 40). The scene (330 frames, six people, rendered once) is
# read with multifilesrc loop=true and nothing waits for a clock (`algo_may_drop=false`,
# `skip_ms=0`), so the frame rate is what the counter manages, far above the camera's 25 fps.
# Prints, for each run, the passes counted ("Incoming ID" / "Outgoing ID" log lines), the algorithm
# thread's frame rate and the machine's load (1-minute average at the end of the run), then the
# medians for each utility.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-40}
runs=${2:-3}
work=${3:-build/led-load}

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally flowtally_render > /dev/null

rm -rf "$work"
mkdir -p "$work"
echo "Rendering the scene (330 frames, single camera) into $work/scene..."
build/release/tools/flowtally_render --out "$work/scene" --mode mono --frames 330 \
  --person "0,-190,0,190,5,180,0,1" --person "-50,190,-50,-190,5,155,40,1" \
  --person "45,-190,45,190,4,165,90,1" --person "-45,-190,-45,190,5,150,170,1" \
  --person "50,190,50,-190,5,160,170,1" --person "10,190,-10,-190,6,190,250,1" > /dev/null
# The service runs the utility with an empty environment: every program by its full path.
background="$(pwd)/$work/leaves_background.sh"
printf '#!/bin/sh\n/bin/sleep 30 &\n' > "$background"
chmod +x "$background"

# Runs the service for the given time with the LED utility; prints "passes fps load".
run_service() {
  local utility=$1 dir=$2
  rm -rf "$dir"
  mkdir -p "$dir"
  sqlite3 "$dir/alarms.sqlite" < schema/alarms.sql
  set +e
  timeout -s TERM "$seconds" build/release/application/flowtally \
    --pipeline="multifilesrc location=$work/scene/frame_%05d.png loop=true caps=\"image/png,framerate=25/1\" ! pngdec ! videoconvert ! capsfilter caps=\"video/x-raw,format=GRAY8,width={camera_width},height={camera_height},framerate=25/1\" name=tail" \
    --stereo=false --camera_width=320 --camera_height=240 --stream_port=0 --image_port=0 \
    --inclinometer=false --camera_angle=0 --alarms="$dir/alarms.sqlite" \
    --error_file_directory="$dir/errors" --angle_file_path="$dir/camera_angle" \
    --algo_config="$work/scene/algo.ini" --set_leds="$utility" --algo_may_drop=false --skip_ms=0 \
    > "$dir/flowtally.log" 2>&1
  set -e
  local load passes fps
  load=$(cut -d' ' -f1 /proc/loadavg)
  grep -q "\[main\] Thread is terminated." "$dir/flowtally.log" ||
    { echo "the service did not stop in order (log: $dir/flowtally.log)" >&2; exit 1; }
  passes=$(grep -cE "Incoming ID|Outgoing ID" "$dir/flowtally.log" || true)
  fps=$(awk '/Algo thread FPS:/ { printf "%.0f", $NF }' "$dir/flowtally.log")
  echo "$passes ${fps:-0} $load"
}

true_results=()
background_results=()
for ((run = 1; run <= runs; ++run)); do
  result=$(run_service /bin/true "$work/true-$run")
  true_results+=("$result")
  read -r passes fps load <<< "$result"
  echo "run $run, /bin/true:           $passes passes in $seconds s, $fps fps, load $load"
  result=$(run_service "$background" "$work/background-$run")
  background_results+=("$result")
  read -r passes fps load <<< "$result"
  echo "run $run, leaves a background: $passes passes in $seconds s, $fps fps, load $load"
done

median_line() {
  awk -v n="$runs" -v name="$1" -v seconds="$seconds" '
    { passes[NR] = $1; fps[NR] = $2; load[NR] = $3 }
    function median(a,    i, j, t) {
      for (i = 2; i <= n; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    END { printf "median of %d runs, %s: %g passes in %d s, %g fps, load %g\n",
          n, name, median(passes), seconds, median(fps), median(load) }'
}
printf '%s\n' "${true_results[@]}" | median_line "/bin/true          "
printf '%s\n' "${background_results[@]}" | median_line "leaves a background"
