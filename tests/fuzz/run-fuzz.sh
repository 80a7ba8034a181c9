#!/usr/bin/env bash
# Runs every built fuzz target for a bounded time from its seed corpus, in a scratch
# folder (the targets may create files there). Fails when a target finds a crash,
# a leak or undefined behaviour. Usage: run-fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
corpus=$(cd "$(dirname "$0")/../corpus" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "$build"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  name=${name#fuzz_}
  mkdir -p "$work/$name/corpus"
  [ -d "$corpus/$name" ] && cp "$corpus/$name"/* "$work/$name/corpus/"
  if (cd "$work/$name" && "$target" -max_total_time="$seconds" -max_len=8192 -timeout=20 \
        -print_final_stats=1 corpus >log 2>&1); then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name/log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz $name: $runs inputs, no failure"
  else
    echo "fuzz $name: FAILED"
    tail -n 40 "$work/$name/log"
    status=1
  fi
done
exit $status
