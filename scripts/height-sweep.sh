#!/usr/bin/env bash
# Measures which heights of people the stereo counter counts (and how many frames late) at a 260 cm
# and a 300 cm mount, at the default radius of the double median and at smaller ones.
#
#   ./scripts/height-sweep.sh                # writes tests/tools/height_sweep_table.md
#   ./scripts/height-sweep.sh [options]      # other columns, heights, settings: prints only
#
# Without options the table goes to tests/tools/height_sweep_table.md, from which README's "Counting
# short people" is written; run it again whenever the stereo analyser or the renderer's people
# change. A test fails while README's table differs from the stored one. `--help` lists the options.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target flowtally_height_sweep > /dev/null
if [ $# -gt 0 ]; then
  exec build/release/tools/flowtally_height_sweep --jobs "${FLOWTALLY_JOBS:-$(nproc)}" "$@"
fi
echo "Rendering and counting 22 walks at 5 settings (a minute or two)..." >&2
table=tests/tools/height_sweep_table.md
build/release/tools/flowtally_height_sweep --jobs "${FLOWTALLY_JOBS:-$(nproc)}" --out "$table"
if grep -qxF -f "$table" README.md && [ "$(grep -cxF -f "$table" README.md)" -eq "$(wc -l < "$table")" ]; then
  echo "README's table matches." >&2
else
  echo "README's table differs: copy $table into its section \"Counting short people\"." >&2
fi
