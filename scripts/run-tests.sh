#!/usr/bin/env bash
# Installs the packages, builds everything with AddressSanitizer and UBSan, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DFLOWTALLY_SANITIZE=ON -DFLOWTALLY_TESTS=ON -DFLOWTALLY_BENCH=ON
cmake --build build/test -j "$(nproc)"
cd build/test
ctest -j "$(nproc)" --output-on-failure --timeout 300
