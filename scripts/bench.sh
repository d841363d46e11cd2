#!/usr/bin/env bash
# Builds a Release build in build-release and runs the benchmarks: paging (decode, key press to
# canvas on 1920x1080 and 2560x1440, colour management, peak memory), then file work (listing,
# selects). Arguments go to the paging benchmark (--count N photos of each kind, --rounds R,
# --full for the 45 MP memory figure, --progressive for progressive photos too).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSELVANA_BUILD_TESTS=OFF >/dev/null
ninja -C "$top/build-release" bench_paging bench_files make_photos
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores (figures are noisy when others run)"
"$top/build-release/bench/bench_paging" "$@"
"$top/build-release/bench/bench_files"
