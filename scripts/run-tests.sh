#!/usr/bin/env bash
# Installs the packages, builds everything with AddressSanitizer and UBSan, and runs every test
# (each benchmark program too, once and briefly, as a test of its output checks); then builds
# everything with clang, warnings as errors, and runs the benchmark programs' checks there; then
# runs the stereo matcher tests in a ThreadSanitizer build of their own. FLOWTALLY_JOBS sets the
# number of parallel jobs (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${FLOWTALLY_JOBS:-$(nproc)}

./scripts/install-deps.sh
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DFLOWTALLY_SANITIZE=ON -DFLOWTALLY_TESTS=ON -DFLOWTALLY_BENCH=ON
cmake --build build/test -j "$jobs"
(cd build/test && ctest -j "$jobs" --output-on-failure --timeout 300)

# clang warns where GCC does not (unused private fields and internal functions, captured
# structured bindings, ...): the whole tree with clang, no sanitizers and no debug information to
# keep it quick. Its benchmark programs' checks compare the vectorised kernels and both counters
# with their references, the code that clang compiles most differently. The test of the memory
# that the alarms database's queue hands back runs here too: it needs glibc's own allocator, which
# the sanitizer build replaces (it skips itself there).
cmake -S . -B build/clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=None \
  -DFLOWTALLY_TESTS=ON -DFLOWTALLY_BENCH=ON
cmake --build build/clang -j "$jobs"
(cd build/clang && ctest -j "$jobs" --output-on-failure --timeout 300 \
  -R '_bench_checks$|^AlarmsDbThreadTest\.MemoryOfStatementsThatWaitedGoesBackOnceTheyAreStored$')

# The two stereo views run concurrently: only the matcher suite, optimised (ThreadSanitizer is slow
# at -O0), with the views on plain threads (FLOWTALLY_SANITIZE_THREAD defines the switch).
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOWTALLY_SANITIZE_THREAD=ON -DFLOWTALLY_TESTS=ON
cmake --build build/tsan -j "$jobs" --target stereo_matchers_tests
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" timeout 600 build/tsan/tests/stereo_matchers_tests
