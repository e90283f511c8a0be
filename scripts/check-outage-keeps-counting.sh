#!/usr/bin/env bash
# Checks that a long database outage holds up no counting and loses no pass:
#
#   ./scripts/check-outage-keeps-counting.sh [outage-seconds] [work-dir]
#
# Plays a rendered stereo scene (six people crossing in 330 frames) in a loop at 25 frames per
# second to the optimised service, makes the alarms database immutable for `outage-seconds`
# (default 300; needs root), then writable again. It checks that
# - the passes counted during the outage equal the scene's truth for every loop of the scene that
#   lies wholly inside the outage;
# - once the database takes writes again every "Incoming ID" / "Outgoing ID" line has its row and
#   every "MovedOut ID" line its update, with no "not stored" line and no full statement queue;
# - the service's resident memory grows by less than the statement queue's limit (16 MB) meanwhile.
# Exit code 0 when all hold.
set -euo pipefail
cd "$(dirname "$0")/.."

outage=${1:-300}
work=${2:-build/check-outage}

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally flowtally_render > /dev/null

rm -rf "$work"
mkdir -p "$work/run"
frames=330
build/release/tools/flowtally_render --out "$work/scene" --frames $frames \
  --person 0,-190,0,190,5,180,0 --person -50,190,-50,-190,5,175,40 --person 45,-190,45,190,4,168,90 \
  --person -45,-190,-45,190,5,185,170 --person 50,190,50,-190,5,172,170 --person 10,190,-10,-190,6,190,250 \
  > /dev/null
truth_in=$(awk '$1 == "incoming" {print $2}' "$work/scene/truth.txt")
truth_out=$(awk '$1 == "outgoing" {print $2}' "$work/scene/truth.txt")

run=$work/run
db=$run/alarms.sqlite
log=$run/flowtally.log
sqlite3 "$db" < schema/alarms.sql
if ! chattr +i "$db" 2> /dev/null; then
  echo "cannot change a file's immutable flag here (needs root on a file system that has the flag)" >&2
  exit 2
fi
chattr -i "$db"

now_ms() { date +%s%3N; }
rss_kb() { awk '$1 == "VmRSS:" {print $2}' "/proc/$service/status" 2> /dev/null || echo 0; }

build/release/application/flowtally \
  --pipeline="multifilesrc location=$work/scene/frame_%05d.png caps=\"image/png,framerate=25/1\" loop=true ! pngdec ! videoconvert ! identity sync=true ! capsfilter caps=\"video/x-raw,format=GRAY8,width={camera_width},height={camera_height},framerate=25/1\" name=tail" \
  --stereo=true --camera_width=320 --camera_height=240 --stream_port=0 --image_port=0 \
  --inclinometer=false --camera_angle=0 --alarms="$db" --skip_ms=0 \
  --error_file_directory="$run/errors" --angle_file_path="$run/camera_angle" \
  --algo_config="$work/scene/algo.ini" --set_leds=/bin/true > "$log" 2>&1 &
service=$!
trap 'kill -TERM $service 2> /dev/null || true; chattr -i "$db" 2> /dev/null || true' EXIT

for _ in $(seq 300); do
  grep -q "Received first frame" "$log" && break
  sleep 0.1
done
first_ms=$(now_ms)
first_ts=$(sed -n 's/.*Received first frame with base-clock relative timestamp \([0-9]*\)\..*/\1/p' "$log")
[ -n "$first_ts" ] || { echo "the service did not start counting" >&2; exit 1; }

sleep 10
rss_before=$(rss_kb)
chattr +i "$db"
start_ms=$(now_ms)
echo "database immutable for $outage s"
rss_max=$rss_before
end=$(($(date +%s) + outage))
while [ "$(date +%s)" -lt "$end" ]; do
  sleep 5
  rss=$(rss_kb)
  [ "$rss" -gt "$rss_max" ] && rss_max=$rss
done
marker=no
[ -e "$run/errors/db_error" ] && marker=yes
chattr -i "$db"
end_ms=$(now_ms)

# Every logged pass has its row once the queue is stored.
passes() { grep -cE "\[algo\] (Incoming|Outgoing) ID " "$log" || true; }
recovered=no
for _ in $(seq 600); do
  # (The service may hold the lock as the file is read: that read counts as not yet.)
  if [ "$(sqlite3 "$db" "SELECT count(*) FROM Alarms" 2> /dev/null)" = "$(passes)" ]; then
    recovered=yes
    break
  fi
  sleep 0.2
done
recovery_ms=$(($(now_ms) - end_ms))
rss_after=$(rss_kb)
kill -TERM "$service"
wait "$service" || true
trap - EXIT

# The outage in the frames' running time (nanoseconds), and the loops of the scene wholly inside
# it; the frames' times were noticed to within a tenth of a second, hence a second's margin.
loop_ns=$((frames * 40000000))
outage_from=$((first_ts + (start_ms - first_ms + 1000) * 1000000))
outage_to=$((first_ts + (end_ms - first_ms - 1000) * 1000000))
first_loop=$(((outage_from + loop_ns - 1) / loop_ns))
last_loop=$((outage_to / loop_ns - 1))
loops=$((last_loop - first_loop + 1))
read -r counted_in counted_out during <<< "$(grep -E "\[algo\] (Incoming|Outgoing) ID " "$log" |
  awk -v l="$loop_ns" -v a="$first_loop" -v b="$last_loop" -v f="$outage_from" -v t="$outage_to" '
    { k = int($6 / l); if (k >= a && k <= b) n[$2]++; if ($6 >= f && $6 <= t) d++ }
    END { printf "%d %d %d\n", n["Incoming"], n["Outgoing"], d }')"

log_passes=$(passes)
log_moved=$(grep -c "\[algo\] MovedOut ID " "$log" || true)
db_passes=$(sqlite3 "$db" "SELECT count(*) FROM Alarms")
db_moved=$(sqlite3 "$db" "SELECT count(DISTINCT Object_id) FROM Alarms WHERE Object_attributes IS NOT NULL")
not_stored=$(grep -c "not stored: " "$log" || true)
full=$(grep -c "The buffer of DB statements is full!" "$log" || true)
dropped=$(sed -n 's/.*Dropped frames due to slow algorithms: //p' "$log")
stopped=no
grep -q "\[main\] Thread is terminated." "$log" && stopped=yes
growth_mb=$(((rss_max - rss_before) / 1024))

echo "outage $(((end_ms - start_ms) / 1000)) s: db_error raised $marker, $during passes counted"
printf '%d whole loops of the scene inside it: incoming %d (truth %d), outgoing %d (truth %d)\n' \
  "$loops" "$counted_in" $((loops * truth_in)) "$counted_out" $((loops * truth_out))
echo "stored after recovery in $((recovery_ms / 1000)).$(((recovery_ms % 1000) / 100)) s: $recovered"
echo "passes log $log_passes db $db_passes, moved out log $log_moved db $db_moved, not stored $not_stored, queue full $full"
echo "resident memory: before $rss_before kB, largest during the outage $rss_max kB (+$((rss_max - rss_before)) kB), after recovery $rss_after kB"
echo "dropped frames ${dropped:-?}, stopped in order: $stopped (log: $log)"

if [ "$marker" = yes ] && [ "$loops" -gt 0 ] && [ "$counted_in" = $((loops * truth_in)) ] &&
  [ "$counted_out" = $((loops * truth_out)) ] && [ "$recovered" = yes ] && [ "$log_passes" = "$db_passes" ] &&
  [ "$log_moved" = "$db_moved" ] && [ "$not_stored" = 0 ] && [ "$full" = 0 ] && [ "$stopped" = yes ] &&
  [ "$growth_mb" -lt 16 ]; then
  echo "The outage held up no counting and lost no pass."
else
  echo "FAILED"
  exit 1
fi
