#!/usr/bin/env bash
# What the service's per-frame paths cost the device, counted: executed instructions of the armhf
# NEON build (ARMv7-A, the device's build) under qemu-arm, by the qemu-icount plugin. A measurement,
# like the benches, not part of the tests or of CI.
#
#   ./scripts/device-cost.sh [frames]
#
# bench/device_cost renders a scene with three people (320x240 per view), scales each frame to the
# service's 160x120 per view as the capture slot does, and runs the stereo counter (block matcher,
# then semi-global matcher) and the single-camera counter over it as the algorithm thread does, on
# one thread. The report gives instructions per stereo pair for both matchers, per single-camera
# frame, for the service's resize and for building a counter and its first pair; where a block-
# matcher pair's instructions go, by function (library code by library and nearest exported
# symbol) and by stage of the stereo analyser. Instruction counts are exact and repeatable; a time
# on the device follows only with an assumed clock and instructions per cycle (README, "What a pair
# costs the device").
#
# Needs the armhf build (scripts/run-tests-armhf.sh --build-only makes it the first time, with its
# Debian armhf root) and the plugin's source: FLOWTALLY_QEMU_ICOUNT names its directory (default:
# shared/tools/qemu-icount beside the clone, or beside the directory holding it). The plugin is
# built into the build tree. FLOWTALLY_JOBS sets the build's job count (default: all cores).
set -euo pipefail
cd "$(dirname "$0")/.."

frames=${1:-60}
jobs=${FLOWTALLY_JOBS:-$(nproc)}
build=${FLOWTALLY_ARMHF_BUILD:-build/armhf}

icount=${FLOWTALLY_QEMU_ICOUNT:-}
if [ -z "$icount" ]; then
  for candidate in ../shared/tools/qemu-icount ../../shared/tools/qemu-icount; do
    if [ -f "$candidate/icount.c" ]; then icount=$candidate; break; fi
  done
fi
if [ -z "$icount" ] || [ ! -f "$icount/icount.c" ]; then
  echo "device-cost: the qemu-icount plugin's source was not found; set FLOWTALLY_QEMU_ICOUNT to its directory" >&2
  exit 1
fi

# --- The device's build and the plugin --------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  FLOWTALLY_JOBS=$jobs FLOWTALLY_ARMHF_BUILD=$build ./scripts/run-tests-armhf.sh --build-only
fi
sysroot=$(sed -n 's/^FLOWTALLY_ARMHF_SYSROOT:PATH=//p' "$build/CMakeCache.txt")
grep -q '^FLOWTALLY_ARMHF_NEON:BOOL=ON' "$build/CMakeCache.txt" ||
  { echo "device-cost: $build is not the NEON build" >&2; exit 1; }
cmake -S . -B "$build" > /dev/null
cmake --build "$build" -j "$jobs" --target device_cost > /dev/null

plugin=$build/qemu-icount/libicount.so
mkdir -p "$(dirname "$plugin")"
if [ ! -f "$plugin" ] || [ "$icount/icount.c" -nt "$plugin" ]; then
  gcc -O2 -Wall -shared -fPIC -fvisibility=hidden -I"$icount" -o "$plugin" "$icount/icount.c" -lpthread
fi

# --- The counted run -------------------------------------------------------------------------------
work=$build/device-cost
rm -rf "$work"
mkdir -p "$work"
echo "device-cost: counting $frames frames under qemu-arm (several minutes)..." >&2
qemu-arm -L "$sysroot" -plugin "$plugin,out=$work/counts.txt,prof=$work/profile" \
  "$build/bench/device_cost" --frames "$frames" --work "$work" 2> "$work/stderr.txt" ||
  { cat "$work/stderr.txt" >&2; exit 1; }

# The plugin's check: the loop of two instructions run 1,000,000 times, and the marks' own cost.
check=$(awk '$1 == "M" && $2 == 12 { if (seen) print $3 - first; else { first = $3; seen = 1 } }' "$work/counts.txt")
if [ -z "$check" ] || [ "$check" -lt 2000000 ] || [ "$check" -gt 2000100 ]; then
  echo "device-cost: the plugin counted ${check:-nothing} for a loop of 2,000,000 instructions" >&2
  exit 1
fi

# --- The report -----------------------------------------------------------------------------------
# Regions: marks of one tag in pairs, start then end.
regions() {
  awk '$1 == "M" && $2 < 1000 {
         if ($2 in open) { print $2, $3 - open[$2]; delete open[$2] } else open[$2] = $3 }' "$work/counts.txt"
}
regions > "$work/regions.txt"

# Median, smallest and largest of a region, in millions of instructions.
stat() {
  awk -v tag="$1" '$1 == tag { print $2 }' "$work/regions.txt" | sort -n |
    awk '{ v[NR] = $1 } END {
           if (NR == 0) { print "-"; exit }
           m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
           if (NR == 1) printf "%.1f M\n", m / 1e6
           else printf "%.1f M (%.1f-%.1f M, %d runs)\n", m / 1e6, v[1] / 1e6, v[NR] / 1e6, NR }'
}

echo
echo "Instructions, armhf NEON build, 160x120 per view, one thread, $frames frames of three people walking"
printf '| %-52s | %s |\n' path instructions
printf '|%s|%s|\n' "$(printf -- '-%.0s' {1..54})" "----------------------------------"
printf '| %-52s | %s |\n' "stereo pair, block matcher" "$(stat 4)"
printf '| %-52s | %s |\n' "stereo pair, semi-global matcher" "$(stat 7)"
printf '| %-52s | %s |\n' "single-camera frame" "$(stat 10)"
printf '| %-52s | %s |\n' "service resize, stereo frame (640x240 to 320x120)" "$(stat 1)"
printf '| %-52s | %s |\n' "service resize, single-camera frame" "$(stat 11)"
printf '| %-52s | %s |\n' "stereo counter built (block matcher)" "$(stat 2)"
printf '| %-52s | %s |\n' "its first pair" "$(stat 3)"
printf '| %-52s | %s |\n' "stereo counter built (semi-global matcher)" "$(stat 5)"
printf '| %-52s | %s |\n' "its first pair" "$(stat 6)"
printf '| %-52s | %s |\n' "single-camera counter built" "$(stat 8)"
printf '| %-52s | %s |\n' "its first frame" "$(stat 9)"

# Per-function shares of a profile: instructions per block times executions, by the block's
# first symbol; blocks without one (library code: the emulator knows the program's symbols only)
# by library, from the program's memory map, and the exported function holding the block, if one
# does (Debian's libraries export few of their inner functions).
hex_awk='function hex(s,   i, v) {
  v = 0; s = tolower(s)
  for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
  return v
}'
# "library address size name" of every exported function of the libraries holding unnamed blocks
# (the emulator shows their paths in the root, or for some as the guest sees them), by address.
awk "$hex_awk"'
  FILENAME ~ /maps.txt$/ {
    if ($6 !~ /^\//) next
    split($1, range, "-"); nmap++; mlo[nmap] = hex(range[1]); mhi[nmap] = hex(range[2]); mlib[nmap] = $6; next }
  $4 == "?" { v = hex($1); for (i = 1; i <= nmap; i++) if (v >= mlo[i] && v < mhi[i]) { print mlib[i]; break } }' \
  "$work/maps.txt" "$work"/profile.*.tsv | sort -u | while read -r lib; do
  file=$lib
  [ -f "$file" ] || file=$sysroot$lib
  arm-linux-gnueabihf-nm -D -S --defined-only "$file" 2> /dev/null |
    awk -v lib="$lib" 'NF == 4 && $3 ~ /^[TtWi]$/ { print lib, $1, $2, $4 }' || true
done | sort -k1,1 -k2,2 | c++filt > "$work/symbols.txt"

shares() {
  local profile=$1 top=$2
  [ -f "$profile" ] || { echo "(no profile $profile)"; return; }
  awk -v top="$top" "$hex_awk"'
    FILENAME ~ /maps.txt$/ {
      if ($6 !~ /^\//) next
      split($1, range, "-"); nmap++; mlo[nmap] = hex(range[1]); mhi[nmap] = hex(range[2]); mlib[nmap] = $6
      if ($3 ~ /^0+$/ && !($6 in base)) base[$6] = hex(range[1])
      next }
    FILENAME ~ /symbols.txt$/ {
      lib = $1; n = ++count[lib]; saddr[lib, n] = hex($2); send[lib, n] = hex($2) + hex($3)
      $1 = ""; $2 = ""; $3 = ""; sname[lib, n] = substr($0, 4); next }
    {
      v = hex($1); ins = $2 * $3; total += ins
      if ($4 != "?") { by[$4] += ins; bylib["(the program)"] += ins; next }
      lib = "?"
      for (i = 1; i <= nmap; i++) if (v >= mlo[i] && v < mhi[i]) { lib = mlib[i]; break }
      short = lib; sub(/.*\//, "", short); bylib[short] += ins
      inside = "an inner function"
      if ((lib in base) && count[lib] > 0) {
        off = v - base[lib]; lo = 1; hi = count[lib]
        while (lo < hi) { mid = int((lo + hi + 1) / 2); if (saddr[lib, mid] <= off) lo = mid; else hi = mid - 1 }
        if (saddr[lib, lo] <= off && off < send[lib, lo]) inside = sname[lib, lo]
      }
      by[short ": " inside] += ins
    }
    END {
      printf "  %.1f M instructions\n", total / 1e6
      print "  by library:"
      for (l in bylib) printf "    %5.1f %%  %s\n", 100 * bylib[l] / total, l | "sort -rn"
      close("sort -rn")
      printf "  by function (top %d):\n", top
      for (f in by) printf "    %5.1f %%  %s\n", 100 * by[f] / total, f | ("sort -rn | head -" top)
    }' "$work/maps.txt" "$work/symbols.txt" "$profile" | c++filt
}

echo
echo "Where the block-matcher pairs go (all pairs after the first):"
shares "$work/profile.1004.tsv" 25
echo
echo "Where the first block-matcher pair after the counter is built goes:"
shares "$work/profile.1003.tsv" 12
echo
echo "Where the semi-global-matcher pairs go:"
shares "$work/profile.1007.tsv" 12
echo
echo "Where the single-camera frames go:"
shares "$work/profile.1010.tsv" 12

echo
echo "Stages of the stereo analyser, block matcher (its own timers, mean of the pairs after the first;"
echo "nested stages are inside \"All algorithm\"):"
awk -F'\t' 'NR == FNR { name[$1] = $2; next }
            { sum[$1] += $2; n[$1]++ }
            END { all = sum[100] / n[100]
                  for (t in sum) if (t + 0 >= 100 && (t in name))
                    printf "  %6.2f M  %5.1f %%  %s\n", sum[t] / n[t] / 1e6, 100 * sum[t] / n[t] / all, name[t] | "sort -rn"
                }' "$work/stages.txt" <(tr ' ' '\t' < "$work/regions.txt")

# The device: a core at 1 GHz running 0.5 to 1.0 instructions per cycle; the budget at 25 frames per
# second is 40 ms a pair. The per-view stages run one view on each of two threads.
echo
awk -F'\t' -v pair="$(awk '$1 == 4 { print $2 }' "$work/regions.txt" | sort -n |
                       awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')" '
  NR == FNR { name[$1] = $2; next }
  { sum[$1] += $2; n[$1]++ }
  END {
    split("Resize|Rectify|Calculate disparity|Left-right check|Disparity interpolation|Height calculation", stages, "|")
    for (t in name) for (i in stages) if (name[t] == stages[i] && n[t] > 0) views += sum[t] / n[t]
    path = pair - views / 2
    printf "A block-matcher pair at 1 GHz, 0.5 to 1.0 instructions per cycle (budget 40 ms at 25 fps):\n"
    printf "  one core:  %.1f M instructions, %.0f to %.0f ms\n", pair / 1e6, pair / 1e6, 2 * pair / 1e6
    printf "  two cores: the per-view stages (%.1f M) one view per core: %.1f M on the longer path, %.0f to %.0f ms\n",
           views / 1e6, path / 1e6, path / 1e6, 2 * path / 1e6
  }' "$work/stages.txt" <(tr ' ' '\t' < "$work/regions.txt")
