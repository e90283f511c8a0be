#!/usr/bin/env bash
# Counts a rendered scene with the service and compares the counts with the scene's ground truth.
#
#   ./scripts/count-rendered-scene.sh [stereo|mono] [work-dir]
#
# Renders people of 150 to 190 cm walking both ways under the camera (320x240 per view), plays the
# frames to the optimised service through GStreamer (multifilesrc ! pngdec) without dropping frames,
# and checks that the "Incoming ID" / "Outgoing ID" log lines and the database rows per direction
# equal the truth. The service stops in order when the frames run out. The last line says whether
# every count matched; the exit code is 0 when it did.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-stereo}
work=${2:-build/count-$mode}
[ "$mode" = stereo ] || [ "$mode" = mono ] || { echo "mode must be stereo or mono" >&2; exit 2; }

./scripts/install-deps.sh > /dev/null
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally flowtally_render > /dev/null

rm -rf "$work"
mkdir -p "$work"
# Six people of 150 to 190 cm: one at a time, two side by side in opposite directions, different
# speeds.
dark=""
[ "$mode" = mono ] && dark=",1"
echo "Rendering the scene (330 frames) into $work/scene..."
build/release/tools/flowtally_render --out "$work/scene" --mode "$mode" --frames 330 \
  --person "0,-190,0,190,5,180,0$dark" --person "-50,190,-50,-190,5,155,40$dark" \
  --person "45,-190,45,190,4,165,90$dark" --person "-45,-190,-45,190,5,150,170$dark" \
  --person "50,190,50,-190,5,160,170$dark" --person "10,190,-10,-190,6,190,250$dark" > /dev/null
if [ "$mode" = stereo ]; then
  # What README's "Counting short people" recommends where people from 150 cm must be counted:
  # at the defaults the stereo counter misses many people below 165 cm.
  cat >> "$work/scene/algo.ini" <<'EOF'

; README "Counting short people": the setting with the fewest errors.
[StereoPeopleCounter]
Stereo_double_median_rad=8
EOF
fi
sqlite3 "$work/alarms.sqlite" < schema/alarms.sql
echo "Counting it with the service..."

stereo=true
[ "$mode" = mono ] && stereo=false
log="$work/flowtally.log"
set +e
build/release/application/flowtally \
  --pipeline="multifilesrc location=$work/scene/frame_%05d.png caps=\"image/png,framerate=25/1\" ! pngdec ! videoconvert ! capsfilter caps=\"video/x-raw,format=GRAY8,width={camera_width},height={camera_height},framerate=25/1\" name=tail" \
  --stereo=$stereo --camera_width=320 --camera_height=240 --stream_port=0 --image_port=0 \
  --inclinometer=false --camera_angle=0 --alarms="$work/alarms.sqlite" \
  --error_file_directory="$work/errors" --angle_file_path="$work/camera_angle" \
  --algo_config="$work/scene/algo.ini" --set_leds=/bin/true --algo_may_drop=false --skip_ms=0 > "$log" 2>&1
status=$?
set -e

truth_in=$(awk '$1 == "incoming" {print $2}' "$work/scene/truth.txt")
truth_out=$(awk '$1 == "outgoing" {print $2}' "$work/scene/truth.txt")
log_in=$(grep -c "Incoming ID" "$log" || true)
log_out=$(grep -c "Outgoing ID" "$log" || true)
db_in=$(sqlite3 "$work/alarms.sqlite" "SELECT count(*) FROM Alarms WHERE Alarm_type = 'Incoming'")
db_out=$(sqlite3 "$work/alarms.sqlite" "SELECT count(*) FROM Alarms WHERE Alarm_type = 'Outgoing'")
stopped=no
grep -q "\[main\] Thread is terminated." "$log" && stopped=yes

printf '%-9s %8s %8s %8s\n' "" truth log database
printf '%-9s %8s %8s %8s\n' incoming "$truth_in" "$log_in" "$db_in"
printf '%-9s %8s %8s %8s\n' outgoing "$truth_out" "$log_out" "$db_out"
echo "service exit code $status, stopped in order: $stopped (log: $log)"

if [ "$stopped" = yes ] && [ "$log_in" = "$truth_in" ] && [ "$db_in" = "$truth_in" ] &&
  [ "$log_out" = "$truth_out" ] && [ "$db_out" = "$truth_out" ]; then
  echo "Every count equals the truth."
else
  echo "Counts differ from the truth (or the service did not stop in order)."
  exit 1
fi
