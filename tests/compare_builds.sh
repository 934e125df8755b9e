#!/bin/sh
# The commands of the Linux build and of the Windows build (run with wine) on
# the example descriptions: each build creates every example; the files must
# be identical apart from the creation time (wherever it is stored), and
# each build's PAR and XDL descriptions of either file must be the same apart
# from CR LF line ends and the times they show. The XDL file qdesc.exe -g
# writes has CR LF line ends, the text of the Linux one, and qcreate makes
# the same file of both.
# Usage: tests/compare_builds.sh LINUX_BUILD WINDOWS_BUILD
set -eu
root=$(pwd)
lin="$root/$1"
win="$root/$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all TZ=UTC
fails=0
fail() { echo "compare_builds: $*"; fails=$((fails + 1)); }
# A description without CRs and with every time shown as TIME.
plain() { tr -d '\r' | sed -E 's/[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9 ][0-9] [0-9:]{8} [0-9]{4}/TIME/g'; }
# A created file as hex bytes with its creation time (the word at byte 28 of
# the header, give or take a second) shown as TT wherever it is stored.
masked() {
  t=$(od -An -j28 -N4 -tu4 "$1" | tr -d ' ')
  hex=$(od -An -v -tx1 "$1" | tr -d '\n')
  for s in $((t - 1)) $t $((t + 1)); do
    le=$(printf ' %02x %02x %02x %02x' $((s & 255)) $((s >> 8 & 255)) $((s >> 16 & 255)) $((s >> 24)))
    hex=$(echo "$hex" | sed "s/$le/ TT TT TT TT/g")
  done
  echo "$hex"
}
same_files() {
  [ "$(masked "$1")" = "$(masked "$2")" ] || fail "$name: $1 and $2 differ beyond the creation time"
}
describe() {  # $1 build dir, $2 .exe or "", $3 directory, $4 options
  (cd "$3" && $5 "$1/qdesc$2" $4 ex) | plain
}
for xdl in "$root"/examples/*.xdl; do
  name=$(basename "$xdl" .xdl)
  rm -rf "$work/l" "$work/w" "$work/g" && mkdir "$work/l" "$work/w" "$work/g"
  (cd "$work/l" && "$lin/qcreate" "$xdl" ex) || fail "$name: Linux qcreate failed"
  (cd "$work/w" && wine "$win/qcreate.exe" "$xdl" ex) || fail "$name: qcreate.exe failed"
  for ext in ism is1; do same_files "$work/l/ex.$ext" "$work/w/ex.$ext"; done
  for opt in "" -x; do
    want=$(describe "$lin" "" "$work/l" "$opt" "")
    for run in "$lin  $work/w" "$win .exe $work/w wine" "$win .exe $work/l wine"; do
      set -- $run
      if [ "$2" = .exe ]; then got=$(describe "$1" .exe "$3" "$opt" "${4:-}"); else
        got=$(describe "$1" "" "$2" "$opt" ""); fi
      [ "$got" = "$want" ] || fail "$name: qdesc $opt differs ($run)"
    done
  done
  (cd "$work/w" && wine "$win/qdesc.exe" -x -g ex) || fail "$name: qdesc.exe -g failed"
  (cd "$work/l" && "$lin/qdesc" -x -g ex) || fail "$name: qdesc -g failed"
  [ "$(grep -vc "$(printf '\r')\$" "$work/w/ex.xdl")" = 0 ] || fail "$name: -g wrote LF lines"
  [ "$(plain <"$work/w/ex.xdl")" = "$(plain <"$work/l/ex.xdl")" ] || fail "$name: -g texts differ"
  (cd "$work/g" && "$lin/qcreate" "$work/w/ex.xdl" ex && mv ex.ism w.ism && mv ex.is1 w.is1 &&
    "$lin/qcreate" "$work/l/ex.xdl" ex) || fail "$name: qcreate of a -g text failed"
  for ext in ism is1; do same_files "$work/g/ex.$ext" "$work/g/w.$ext"; done
  echo "compare_builds: $name done"
done
[ "$fails" = 0 ] && echo "compare_builds: both builds agree on every example"
[ "$fails" = 0 ]
