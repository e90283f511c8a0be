#!/usr/bin/env bash
# Counts families of rendered single-camera scenes (busy lanes near the picture's sides, one lane,
# people passing each other, side by side, random flows, people turning back) with the
# single-camera counter for three cameras, two working sizes and two target circles, and prints
# the misses, false counts, lateness and board and database errors of each. README's "Setting up
# the single camera" quotes its "all" rows.
#
#   ./scripts/mono-sweep.sh                  # the README's measurement
#   ./scripts/mono-sweep.sh [options]        # other cameras, sizes, circles; `--help` lists them
#
# The figures are the same on every run: every scene is drawn from fixed seeds. FLOWTALLY_JOBS sets
# how many processes build and count (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF > /dev/null
jobs=${FLOWTALLY_JOBS:-$(nproc)}
cmake --build build/release -j "$jobs" --target flowtally_mono_sweep > /dev/null
exec nice build/release/tools/flowtally_mono_sweep --jobs "$jobs" "$@"
