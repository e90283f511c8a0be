#!/usr/bin/env bash
# Installs the packages, builds everything with AddressSanitizer and UBSan, and runs every test
# (each benchmark program too, once and briefly, as a test of its output checks); then runs the
# stereo matcher tests in a ThreadSanitizer build of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DFLOWTALLY_SANITIZE=ON -DFLOWTALLY_TESTS=ON -DFLOWTALLY_BENCH=ON
cmake --build build/test -j "$(nproc)"
(cd build/test && ctest -j "$(nproc)" --output-on-failure --timeout 300)

# The two stereo views run concurrently: only the matcher suite, optimised (ThreadSanitizer is slow
# at -O0), with the views on plain threads (FLOWTALLY_SANITIZE_THREAD defines the switch).
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOWTALLY_SANITIZE_THREAD=ON -DFLOWTALLY_TESTS=ON
cmake --build build/tsan -j "$(nproc)" --target stereo_matchers_tests
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" timeout 600 build/tsan/tests/stereo_matchers_tests
