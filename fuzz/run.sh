#!/bin/sh
# Runs every libFuzzer target of a fuzz build for a bounded time, starting
# from the small seed corpus kept beside its source (fuzz/corpus/<name>/).
# Each target's output goes to its own log beside its work corpus; a target
# that fails has the end of its log (the finding, its stack and the input it
# saved, in base64) printed again after all targets ran, so a short tail
# shows it.
build=${1:-build-fuzz}
seconds=${2:-60}
status=0
failed=""
for target in "$build"/fuzz/*_fuzz; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  work="$build/fuzz/corpus-$name"
  log="$build/fuzz/$name.log"
  mkdir -p "$work"
  seeds="fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  echo "== $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/$name-" "$work" $seeds >"$log" 2>&1; then
    grep -E '^Done ' "$log" || true
  else
    echo "== $name FAILED"
    status=1
    failed="$failed $name"
  fi
done
for name in $failed; do
  echo "== $name failed; the end of $build/fuzz/$name.log:"
  grep -v -E '^(#[0-9]+|".*" # Uses:)' "$build/fuzz/$name.log" | tail -n 40
  for input in "$build/fuzz/$name"-crash-* "$build/fuzz/$name"-leak-* "$build/fuzz/$name"-timeout-* \
    "$build/fuzz/$name"-oom-*; do
    [ -f "$input" ] || continue
    echo "== $input, base64:"
    head -c 3000 "$input" | base64 -w 100
  done
done
exit $status
