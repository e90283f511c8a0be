#!/usr/bin/env bash
# Measures what the statements that wait for the alarms database take of the resident memory, and
# what stays of it once the database has stored them:
#
#   ./scripts/measure-outage-memory.sh [statements] [runs]
#
# Builds bench/outage_memory optimised (build/release) and runs it `runs` times (default 3) with
# `statements` waiting (default 180000, the queue's limit: a day at a busy door); each run holds a
# fresh database's write lock while the statements are queued, releases it and waits until all are
# stored. The database lives in /dev/shm when there is one, so that storing does not wait for the
# disk. Prints each run and the median of the three figures.
set -euo pipefail
cd "$(dirname "$0")/.."

statements=${1:-180000}
runs=${2:-3}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DFLOWTALLY_TESTS=OFF -DFLOWTALLY_BENCH=ON > /dev/null
cmake --build build/release -j "${FLOWTALLY_JOBS:-$(nproc)}" --target outage_memory > /dev/null
dir=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && dir=/dev/shm

results=()
for ((run = 1; run <= runs; ++run)); do
  # (The database thread's log goes to the standard output as well: only the program's own lines.)
  output=$(build/release/bench/outage_memory --statements "$statements" --dir "$dir" |
    grep -E '^([0-9]+ statements|resident memory)')
  echo "run $run: ${output//$'\n'/; }"
  line=$(grep '^resident memory' <<< "$output")
  # "resident memory: at start A kB, all waiting W kB (+X kB), stored S kB (+Y kB)"
  results+=("$(awk '{ gsub(/[(+]/, ""); print $5, $11, $16 }' <<< "$line")")
done
printf '%s\n' "${results[@]}" | awk -v n="$runs" '
  { start[NR] = $1; waiting[NR] = $2; stored[NR] = $3 }
  function median(a,    i, j, t) {
    for (i = 2; i <= n; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  END { printf "median of %d runs: at start %d kB; with every statement waiting +%d kB; once stored +%d kB\n",
        n, median(start), median(waiting), median(stored) }'
