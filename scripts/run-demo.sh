#!/usr/bin/env bash
# Installs the packages, builds the service optimised, and runs it on the demo configuration:
# a test-pattern camera, a local alarms database, no board, no inclinometer, no frame buffer.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF
cmake --build build/release -j "$(nproc)" --target flowtally

run=build/demo
mkdir -p "$run"
if [ ! -f "$run/alarms.sqlite" ]; then
  sqlite3 "$run/alarms.sqlite" < schema/alarms.sql
fi
exec build/release/application/flowtally --config demo/flowtally.conf "$@"
