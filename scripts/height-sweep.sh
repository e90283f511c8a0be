#!/usr/bin/env bash
# Measures which heights of people the stereo counter counts (and how many frames late) at a 260 cm
# and a 300 cm mount, at the default radius of the double median and at smaller ones, and writes the
# table to tests/tools/height_sweep_table.md, from which README's "Counting short people" is written.
# Run it again whenever the stereo analyser or the renderer's people change; a test fails while
# README's table differs from the stored one.
#
#   ./scripts/height-sweep.sh [flowtally_height_sweep options]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "$(nproc)" --target flowtally_height_sweep > /dev/null
echo "Rendering and counting 22 walks at 5 settings (a minute or two)..." >&2
build/release/tools/flowtally_height_sweep --jobs "$(nproc)" --out tests/tools/height_sweep_table.md "$@"
if grep -qF -f <(head -3 tests/tools/height_sweep_table.md) README.md &&
  diff <(awk '/^\| mount \| height \|/,/^$/' README.md | sed '/^$/d') tests/tools/height_sweep_table.md > /dev/null; then
  echo "README's table matches." >&2
else
  echo "README's table differs: copy tests/tools/height_sweep_table.md into its \"Counting short people\" section." >&2
fi
