#!/usr/bin/env bash
# bench/early_stop, the built program, on a small shell program: the runs in which the awaited text
# did not come are listed apart and left out of the table; when at a delay none came, it says so
# and fails; --free-ports gives different ports that can be bound.
#
#   tests/bench/early_stop_test.sh EARLY_STOP
set -euo pipefail
early_stop=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Even runs write the text and wait for the signal; odd runs end at once with exit code 3.
cat > "$work/program" <<'PROGRAM'
#!/bin/sh
n=$(cat "$0.runs" 2>/dev/null || echo 0)
echo $((n + 1)) > "$0.runs"
if [ $((n % 2)) -eq 0 ]; then exit 3; fi
echo READY
exec sleep 60
PROGRAM
chmod +x "$work/program"
"$early_stop" --runs 4 --delays-us 0 --after-output READY -- "$work/program" > "$work/out" 2> "$work/err" ||
  fail "exit code $? with two of four runs writing the text: $(cat "$work/out" "$work/err")"
cat "$work/out"
# runs, orderly, ended by signal, other: the two runs that wrote the text, both ended by the signal.
grep -Eq '^ +0\.00 ms +2 +0 +2 +0 ' "$work/out" || fail "the table counts the runs without the text"
grep -Fqx 'Without the text at 0.00 ms: 2 of 4 runs, left out of the figures: run 1 (exit code 3), run 3 (exit code 3)' \
  "$work/out" || fail "the runs without the text are not listed"

# No run writes the text.
rm -f "$work/program.runs"
printf '#!/bin/sh\nexit 3\n' > "$work/program"
if "$early_stop" --runs 2 --delays-us 0,1000 --after-output READY -- "$work/program" > "$work/out" 2> "$work/err"; then
  fail "exit code 0 with no run writing the text: $(cat "$work/out")"
fi
cat "$work/out" "$work/err"
grep -Eq '^ +1\.00 ms +0 +0 +0 +0 +- +-$' "$work/out" || fail "a figure is given for a delay without a run that wrote the text"
grep -Fq 'no run at 1.00 ms wrote "READY": that delay has no figure' "$work/err" || fail "no word that a delay has no figure"

# Free ports: as many as asked, all different, and none with a program listening on it (bash's
# /dev/tcp can connect, not bind).
ports=$("$early_stop" --free-ports 3)
echo "free ports:" $ports
[ "$(printf '%s\n' "$ports" | sort -u | grep -cE '^[1-9][0-9]*$')" -eq 3 ] || fail "not three different ports: $ports"
for port in $ports; do
  if (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then fail "a program listens on port $port"; fi
done
echo "early_stop test passed"
