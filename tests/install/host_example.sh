#!/bin/sh
# Installs the build into a scratch prefix, checks what lands there, creates
# the bundled example files with the installed qcreate and builds
# examples/host against the installed package twice: with CMake
# (find_package) and with pkg-config and a plain cc command. Prints the
# CMake-built host's output on every example file, after checking that the
# cc-built host prints the same.
#   host_example.sh <build dir> <source dir> <scratch dir> [cmake generator]
set -eu
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
tmp=$(cd "$3" && pwd)
generator=${4:-}
prefix="$tmp/prefix"
fail() { echo "$*" >&2; exit 1; }
quiet() { "$@" > "$tmp/step.log" 2>&1 || { cat "$tmp/step.log" >&2; fail "failed: $*"; }; }

quiet cmake --install "$build" --prefix "$prefix"
for f in bin/qdesc bin/qcreate bin/qinfo include/ismgr/ismgr.h share/man/man1/qdesc.1 \
         share/man/man1/qcreate.1; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/qdesc" ] || fail "qdesc is not executable"
headers=$(find "$prefix" -name '*.h')
[ "$headers" = "$prefix/include/ismgr/ismgr.h" ] || fail "headers beyond ismgr.h: $headers"
pc=$(find "$prefix" -name ismgr.pc)
[ -n "$pc" ] || fail "no ismgr.pc"
[ -n "$(find "$prefix" -name ismgrConfig.cmake)" ] || fail "no ismgrConfig.cmake"

quiet cmake -S "$src/examples/host" -B "$tmp/host-cmake" ${generator:+-G "$generator"} \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release
quiet cmake --build "$tmp/host-cmake"
export PKG_CONFIG_PATH="$(dirname "$pc")"
libdir=$(pkg-config --variable=libdir ismgr)
# shellcheck disable=SC2046
quiet ${CC:-cc} -o "$tmp/host-cc" "$src/examples/host/host.c" $(pkg-config --cflags --libs ismgr)

mkdir "$tmp/files"
cd "$tmp/files"
for xdl in "$src"/examples/*.xdl; do
  name=$(basename "$xdl" .xdl)
  quiet "$prefix/bin/qcreate" "$xdl" "$name"
  echo "== $name"
  "$tmp/host-cmake/host" "$name" > "$tmp/cmake.out" || fail "host (CMake) failed on $name"
  LD_LIBRARY_PATH="$libdir" "$tmp/host-cc" "$name" > "$tmp/cc.out" || fail "host (cc) failed on $name"
  cmp -s "$tmp/cmake.out" "$tmp/cc.out" || fail "the two builds of host differ on $name"
  cat "$tmp/cmake.out"
done
