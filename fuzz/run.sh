#!/bin/sh
# Runs the profile fuzzer for a bounded time on a copy of the seed corpus, so the
# repository's corpus stays as committed. Usage: fuzz/run.sh BUILD_DIR [SECONDS]
set -eu
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
corpus="$build/corpus"
rm -rf "$corpus" "$build/artifacts"
mkdir -p "$corpus" "$build/artifacts"
cp "$here"/corpus/* "$corpus"/
log="$build/fuzz.log"
status=0
"$build/fuzz/profile_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$corpus" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "Fuzzing found a problem; the input is in $build/artifacts/" >&2
  exit "$status"
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
grep '^Done' "$log" || true
echo "Fuzzing: $runs executions in $seconds s, no failures; corpus grew to $(ls "$corpus" | wc -l) inputs"
