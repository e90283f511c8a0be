#!/usr/bin/env bash
# Counts the same rendered single-camera scenes with the counter of a base revision and with the
# working tree's, and lists every scene where the two differ: passes lost and gained, false
# passes, the board, the people whose board ends right, and the alarms of both; then the totals of
# both. Run it before committing a change to a counting rule. Exit code 1 when the working tree's
# counter misses a pass that the base counted.
#
#   ./scripts/mono-compare.sh [BASE] [sweep options]
#
# BASE is a git revision (default HEAD, the last commit). The counter (the analysers and the
# libraries they build on) comes from BASE and from the working tree; the scenes, the counting and
# the scoring come from the working tree's flowtally_mono_sweep for both, so both count the same
# scenes. The sweep options default to `--scenes wide --works 160x120 --circles 1`: 80 random
# scenes for each of three cameras (240 scenes, about 1,000 passes) at the default working size.
# The files of both counts stay in build/compare/<BASE>/. FLOWTALLY_JOBS sets how many processes
# build and count (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."

base=${1:-HEAD}
[ $# -gt 0 ] && shift
[ $# -eq 0 ] && set -- --scenes wide --works 160x120 --circles 1
commit=$(git rev-parse --verify --quiet "$base^{commit}") || { echo "mono-compare: no revision $base" >&2; exit 2; }
jobs=${FLOWTALLY_JOBS:-$(nproc)}
work=build/compare/$(git rev-parse --short "$commit")
src=$work/src

# The working tree as it is, with the base's counter. Extracted files keep their times, so an
# unchanged file is not built again.
rm -rf "$src"
mkdir -p "$src"
git ls-files -co --exclude-standard -z | tar --null -cf - -T - | tar -x -C "$src"
rm -rf "$src/PeopleCounter" "$src/CommonUtilities" "$src/StereoAnalyzer"
git archive "$commit" PeopleCounter CommonUtilities StereoAnalyzer | tar -x -C "$src"

echo "Building the sweep with the counter of $base and with the working tree's..."
cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build "$work/build" -j "$jobs" --target flowtally_mono_sweep > /dev/null
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
cmake --build build/release -j "$jobs" --target flowtally_mono_sweep > /dev/null

echo "Counting with the counter of $base..."
nice "$work/build/tools/flowtally_mono_sweep" --jobs "$jobs" "$@" --per-scene "$work/base.tsv" > "$work/base.md" 2> /dev/null
echo "Counting with the working tree's counter..."
nice build/release/tools/flowtally_mono_sweep --jobs "$jobs" "$@" --per-scene "$work/changed.tsv" > "$work/changed.md" 2> /dev/null
echo
exec build/release/tools/flowtally_mono_sweep --compare "$work/base.tsv" "$work/changed.tsv"
