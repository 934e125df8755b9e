#!/bin/sh
# Describes many ISAM files in one qdesc run and sets the time and memory it
# takes against the floor: opening both files of each pair and reading the
# header page and the dynamic header, nothing more.
#
#   sh bench/qdesc_many.sh [BUILD_DIR] [COUNT]
#
# BUILD_DIR (default build) must hold a built qdesc and libismgr.a; COUNT
# (default 2000) is the number of file pairs. The companion program
# bench/qdesc_floor.cpp is compiled here, against the built library. With
# STRACE=1 (and strace installed) the system calls of both runs are counted.
set -eu

build=$(cd "${1:-build}" && pwd)
count=${2:-2000}
src=$(cd "$(dirname "$0")/.." && pwd)
qdesc="$build/qdesc"
[ -x "$qdesc" ] || { echo "qdesc_many: no $qdesc (run make first)" >&2; exit 2; }
[ -f "$build/libismgr.a" ] || { echo "qdesc_many: no $build/libismgr.a" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qdesc_many.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
floor="$work/qdesc_floor"
${CXX:-g++} -std=c++20 -O2 -I"$src" -I"$src/tests" -o "$floor" \
  "$src/bench/qdesc_floor.cpp" "$src/tests/support/isam_builder.cpp" "$build/libismgr.a"

mkdir "$work/files"
"$floor" make "$work/files" "$count"
# Warm the page cache so that both runs read from memory.
cat "$work"/files/* >/dev/null

# One run of "$@" with its output discarded: "wall cpu" seconds (cpu = user +
# system); the peak resident size in KiB goes to $work/rss.
measure() {
  t0=$(date +%s%N)
  /usr/bin/time -f '%M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" ||
    { echo "qdesc_many: $1 failed:" >&2; cat "$work/stderr" >&2; exit 1; }
  t1=$(date +%s%N)
  read -r rss user sys <"$work/time"
  echo "$rss" >"$work/rss"
  awk -v a="$t0" -v b="$t1" -v u="$user" -v s="$sys" 'BEGIN { printf "%.4f %.2f", (b - a) / 1e9, u + s }'
}

cd "$work/files"
# Best of five, each run on all files in one invocation.
best() {
  b=""
  for _ in 1 2 3 4 5; do
    m=$(measure "$@")
    if [ -z "$b" ] || [ "$(echo "$m $b" | awk '{ print ($1 < $3) }')" = 1 ]; then b=$m; fi
  done
  echo "$b"
}
set -- $(best "$floor" read f*.ism); floor_secs=$1; floor_cpu=$2; floor_rss=$(cat "$work/rss")
set -- $(best "$qdesc" f*.ism); qdesc_secs=$1; qdesc_cpu=$2; qdesc_rss=$(cat "$work/rss")
set -- $(best "$qdesc" -x f*.ism); xdl_secs=$1; xdl_cpu=$2; xdl_rss=$(cat "$work/rss")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
printf '%-20s %8s %6s %8s %13s\n' "run ($count files)" wall ratio cpu "peak RSS KiB"
printf '%-20s %8s %6s %8s %13s\n' "floor I/O" "$floor_secs" 1.00 "$floor_cpu" "$floor_rss"
printf '%-20s %8s %6s %8s %13s\n' "qdesc (PAR)" "$qdesc_secs" "$(ratio "$qdesc_secs" "$floor_secs")" \
  "$qdesc_cpu" "$qdesc_rss"
printf '%-20s %8s %6s %8s %13s\n' "qdesc -x (XDL)" "$xdl_secs" "$(ratio "$xdl_secs" "$floor_secs")" \
  "$xdl_cpu" "$xdl_rss"

if [ "${STRACE:-0}" = 1 ] && command -v strace >/dev/null 2>&1; then
  for run in floor qdesc; do
    if [ "$run" = floor ]; then set -- "$floor" read f*.ism; else set -- "$qdesc" f*.ism; fi
    strace -c -f -o "$work/strace.$run" "$@" >/dev/null 2>&1 || true
    total=$(awk '$NF == "total" { print $4 }' "$work/strace.$run")
    echo "system calls, $run: $total in all, $(ratio "$total" "$count") per file"
    sed -n '1,25p' "$work/strace.$run"
  done
fi
