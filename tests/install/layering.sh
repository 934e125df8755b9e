#!/bin/sh
# Includes run one way only: a layer includes its own headers and those of
# the layers below it, never one above.
#   layering.sh <source dir>
# Order: platform, runtime (frame), fileio, isam, describe, channel, and on
# top the public interface's implementation (api) with the commands (tool).
set -eu
cd "$1"
rank() {
  case $1 in
    ismgr/platform/*) echo 0 ;; ismgr/runtime/*) echo 1 ;; ismgr/fileio/*) echo 2 ;;
    ismgr/isam/*) echo 3 ;; ismgr/describe/*) echo 4 ;; ismgr/channel/*) echo 5 ;;
    ismgr/api/* | ismgr/ismgr.h | tool/*) echo 6 ;; *) echo 7 ;;
  esac
}
bad=0
for file in $(find ismgr tool -name '*.h' -o -name '*.cpp' | sort); do
  from=$(rank "$file")
  for header in $(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file"); do
    to=$(rank "$header")
    if [ "$to" -gt "$from" ]; then
      echo "$file includes $header, a layer above it"
      bad=1
    fi
  done
done
[ $bad -eq 0 ] && echo "every include runs downwards"
exit $bad
