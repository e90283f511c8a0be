#!/usr/bin/env bash
# Measures what the stereo counter misses, how late it counts and what it counts that did not
# happen, at its default medians and at smaller ones, over rendered people of 150 to 200 cm of
# varied builds walking alone, in pairs and at the picture's edges, under cameras at 260 and 300 cm
# with 15, 20 and 25 cm baselines, upright and tilted; and the phantom passes that noise gives.
#
#   ./scripts/height-sweep.sh                # the whole measurement; rewrites README's report
#   ./scripts/height-sweep.sh [options]      # other cameras, walks, heights, settings: prints only
#
# Without options it writes tests/tools/height_sweep_table.md and tests/tools/height_sweep_checks.txt
# and puts the report into README's "Counting short people"; run it again whenever the stereo
# analyser or the renderer changes (tests fail while README, the stored report and the counter
# disagree). The figures are the same on every run: every scene is drawn from fixed seeds.
# FLOWTALLY_JOBS sets how many processes build and count (default: the number of cores);
# `--help` lists the options.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${FLOWTALLY_JOBS:-$(nproc)}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "$jobs" --target flowtally_height_sweep > /dev/null
if [ $# -gt 0 ]; then
  exec nice build/release/tools/flowtally_height_sweep --jobs "$jobs" "$@"
fi
echo "Rendering and counting 1056 scenes at 6 settings, and 73 s of noise at 6 cameras" \
  "(72 minutes of processor time: about 20 minutes with 4 jobs on a quiet machine)..." >&2
table=tests/tools/height_sweep_table.md
nice build/release/tools/flowtally_height_sweep --jobs "$jobs" --out "$table" \
  --checks tests/tools/height_sweep_checks.txt > /dev/null
# README's report is the part between the two markers.
awk -v table="$table" '
  $0 == "<!-- height-sweep end -->" { skip = 0 }
  !skip { print }
  $0 == "<!-- height-sweep begin -->" { while ((getline line < table) > 0) print line; skip = 1 }
' README.md > README.md.new
mv README.md.new README.md
echo "Wrote $table, tests/tools/height_sweep_checks.txt and README's \"Counting short people\"." >&2
