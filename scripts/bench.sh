#!/usr/bin/env bash
# Builds a Release build in build-release and runs the paging benchmark; arguments go to it
# (--count N photos of each kind, --rounds R).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSELVANA_BUILD_TESTS=OFF >/dev/null
ninja -C "$top/build-release" bench_paging make_photos
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$top/build-release/bench/bench_paging" "$@"
