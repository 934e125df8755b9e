#!/bin/sh
# Runs every libFuzzer target of a fuzz build for a bounded time, starting
# from the small seed corpus kept beside its source (fuzz/corpus/<name>/).
build=${1:-build-fuzz}
seconds=${2:-60}
status=0
for target in "$build"/fuzz/*_fuzz; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  work="$build/fuzz/corpus-$name"
  mkdir -p "$work"
  seeds="fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  echo "== $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$work" $seeds || status=1
done
exit $status
