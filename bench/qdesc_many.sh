#!/bin/sh
# Describes many ISAM files in one qdesc run and sets the time and memory it
# takes against the floor: opening both files of each pair and reading the
# header page and the dynamic header, nothing more.
#
#   sh bench/qdesc_many.sh [BUILD_DIR] [COUNT]
#
# BUILD_DIR (default build) must hold a built qdesc and libismgr.a; COUNT
# (default 2000) is the number of file pairs. The companion program
# bench/qdesc_floor.cpp is compiled here, against the built library. The
# system calls of both programs are counted with strace when it is installed
# (STRACE=0 skips that; STRACE=2 also lists them). The last line holds the
# figures the open is judged by: the time ratio to the floor, the system
# calls per described file and the peak resident size.
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
  "$src/bench/qdesc_floor.cpp" "$src/tests/support/isam_builder.cpp" \
  "$build/libismgr.a"

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
# Five rounds, each running the three programs one after the other on all
# files, so that both sides meet the same load; the best round of each counts.
better() { echo "$1 $2" | awk '{ print ($1 < $3) }'; }
floor_best="" qdesc_best="" xdl_best=""
for _ in 1 2 3 4 5; do
  m=$(measure "$floor" read f*.ism)
  if [ -z "$floor_best" ] || [ "$(better "$m" "$floor_best")" = 1 ]; then
    floor_best=$m floor_rss=$(cat "$work/rss")
  fi
  m=$(measure "$qdesc" f*.ism)
  if [ -z "$qdesc_best" ] || [ "$(better "$m" "$qdesc_best")" = 1 ]; then
    qdesc_best=$m qdesc_rss=$(cat "$work/rss")
  fi
  m=$(measure "$qdesc" -x f*.ism)
  if [ -z "$xdl_best" ] || [ "$(better "$m" "$xdl_best")" = 1 ]; then
    xdl_best=$m xdl_rss=$(cat "$work/rss")
  fi
done
set -- $floor_best; floor_secs=$1; floor_cpu=$2
set -- $qdesc_best; qdesc_secs=$1; qdesc_cpu=$2
set -- $xdl_best; xdl_secs=$1; xdl_cpu=$2

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
printf '%-20s %8s %6s %8s %13s\n' "run ($count files)" wall ratio cpu "peak RSS KiB"
printf '%-20s %8s %6s %8s %13s\n' "floor I/O" "$floor_secs" 1.00 "$floor_cpu" "$floor_rss"
printf '%-20s %8s %6s %8s %13s\n' "qdesc (PAR)" "$qdesc_secs" "$(ratio "$qdesc_secs" "$floor_secs")" \
  "$qdesc_cpu" "$qdesc_rss"
printf '%-20s %8s %6s %8s %13s\n' "qdesc -x (XDL)" "$xdl_secs" "$(ratio "$xdl_secs" "$floor_secs")" \
  "$xdl_cpu" "$xdl_rss"

floor_calls=n/a qdesc_calls=n/a
if [ "${STRACE:-1}" != 0 ] && command -v strace >/dev/null 2>&1; then
  for run in floor qdesc; do
    if [ "$run" = floor ]; then set -- "$floor" read f*.ism; else set -- "$qdesc" f*.ism; fi
    strace -c -f -o "$work/strace.$run" "$@" >/dev/null 2>&1 || true
    total=$(awk '$NF == "total" { print $4 }' "$work/strace.$run")
    # The same program on one file gives the calls of its start and end; the
    # rest, spread over the other files, is the cost of one described file.
    strace -c -f -o "$work/strace.one" "$1" $([ "$run" = floor ] && echo read) f0000.ism \
      >/dev/null 2>&1 || true
    one=$(awk '$NF == "total" { print $4 }' "$work/strace.one")
    per_file=$(awk -v t="$total" -v o="$one" -v n="$count" \
      'BEGIN { if (n > 1) printf "%.2f", (t - o) / (n - 1); else print "n/a" }')
    echo "system calls, $run: $total in all ($one for one file), $per_file per further file"
    [ "${STRACE:-1}" = 2 ] && sed -n '1,25p' "$work/strace.$run"
    if [ "$run" = floor ]; then floor_calls=$per_file; else qdesc_calls=$per_file; fi
  done
fi
echo "qdesc/floor time $(ratio "$qdesc_secs" "$floor_secs") (bar 1.5)," \
  "system calls per file $qdesc_calls (floor $floor_calls, bar 12)," \
  "peak RSS $qdesc_rss KiB (bar 4096)"
