#!/usr/bin/env bash
# Counts the demo's scene with the stereo camera's two views swapped, as a camera whose views are
# wired the wrong way round shows it, and prints what the service counts per loop of the scene.
#
#   ./scripts/count-swapped-views.sh [loops] [work-dir]
#
# Renders the demo's scene (scripts/run-demo.sh: six people of 150 to 190 cm, three walking in and
# three out, 330 frames) with the demo's parameter file, and plays it `loops` times (default 10)
# one after the other to the optimised service, the left half of every frame swapped with its
# right half in the capture pipeline, without dropping frames. Every frame reaches the counter in
# order, so a run gives the same counts every time. Prints the incoming and outgoing passes of
# each loop (by the time of the frame they were counted at), their median and range, and the
# scene's truth.
set -euo pipefail
cd "$(dirname "$0")/.."

loops=${1:-10}
work=${2:-build/count-swapped}
[[ "$loops" =~ ^[1-9][0-9]*$ ]] || { echo "loops must be a whole number from 1" >&2; exit 2; }

./scripts/install-deps.sh > /dev/null
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally flowtally_render > /dev/null

rm -rf "$work"
mkdir -p "$work/frames"
frames=330
echo "Rendering the demo's scene ($frames frames) into $work/scene..."
build/release/tools/flowtally_render --out "$work/scene" --frames $frames \
  --person 0,-190,0,190,5,180,0 --person -50,190,-50,-190,5,155,40 --person 45,-190,45,190,4,165,90 \
  --person -45,-190,-45,190,5,150,170 --person 50,190,50,-190,5,160,170 --person 10,190,-10,-190,6,190,250 \
  > /dev/null
cat >> "$work/scene/algo.ini" <<'INI'

; README "Counting short people": the setting with the fewest errors.
[StereoPeopleCounter]
Stereo_double_median_rad=8
INI
# The loops, one frame after the other.
for ((i = 0; i < loops * frames; ++i)); do
  ln -s "$(realpath "$work/scene")/$(printf 'frame_%05d.png' $((i % frames)))" "$(printf '%s/frames/frame_%06d.png' "$work" $i)"
done
sqlite3 "$work/alarms.sqlite" < schema/alarms.sql
echo "Counting $loops loops of it with the views swapped..."

# Each view is 320 pixels wide: the right view goes to the left and the left one to the right.
swap="tee name=views views. ! queue ! videocrop left=320 ! swapped.sink_0 views. ! queue ! videocrop right=320 ! swapped.sink_1 compositor name=swapped sink_1::xpos=320 ! videoconvert"
log="$work/flowtally.log"
set +e
build/release/application/flowtally \
  --pipeline="multifilesrc location=$work/frames/frame_%06d.png caps=\"image/png,framerate=25/1\" ! pngdec ! videoconvert ! video/x-raw,format=GRAY8 ! $swap ! capsfilter caps=\"video/x-raw,format=GRAY8,width={camera_width},height={camera_height},framerate=25/1\" name=tail" \
  --stereo=true --camera_width=320 --camera_height=240 --stream_port=0 --image_port=0 \
  --inclinometer=false --camera_angle=0 --alarms="$work/alarms.sqlite" \
  --error_file_directory="$work/errors" --angle_file_path="$work/camera_angle" \
  --algo_config="$work/scene/algo.ini" --set_leds=/bin/true --algo_may_drop=false --skip_ms=0 > "$log" 2>&1
status=$?
set -e
grep -q "\[main\] Thread is terminated." "$log" || { echo "the service did not stop in order (log: $log)" >&2; exit 1; }
dropped=$(sed -n 's/.*Dropped frames due to slow algorithms: //p' "$log")

truth_in=$(awk '$1 == "incoming" {print $2}' "$work/scene/truth.txt")
truth_out=$(awk '$1 == "outgoing" {print $2}' "$work/scene/truth.txt")
# "[algo] Incoming ID <id> nanosecond <frame time>"
grep -E "\[algo\] (Incoming|Outgoing) ID " "$log" | awk -v loop_ns=$((frames * 40000000)) -v loops="$loops" \
  -v truth_in="$truth_in" -v truth_out="$truth_out" '
  { k = int($6 / loop_ns); if ($2 == "Incoming") n_in[k]++; else n_out[k]++ }
  function sorted_stats(a, what,    i, j, t, v) {
    for (i = 0; i < loops; ++i) v[i] = a[i] + 0
    for (i = 1; i < loops; ++i) for (j = i; j > 0 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    median = loops % 2 ? v[(loops - 1) / 2] : (v[loops / 2 - 1] + v[loops / 2]) / 2
    printf "%s per loop: median %s, range %d to %d\n", what, median, v[0], v[loops - 1]
  }
  END {
    printf "loop  incoming outgoing\n"
    for (k = 0; k < loops; ++k) { printf "%4d  %8d %8d\n", k + 1, n_in[k], n_out[k]; total_in += n_in[k]; total_out += n_out[k] }
    printf "all   %8d %8d   (truth per loop: %d incoming, %d outgoing)\n", total_in, total_out, truth_in, truth_out
    sorted_stats(n_in, "incoming")
    sorted_stats(n_out, "outgoing")
  }'
echo "dropped frames ${dropped:-?}; service exit code $status (the frames ran out), log: $log"
