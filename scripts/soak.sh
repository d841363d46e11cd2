#!/usr/bin/env bash
# The long reliability runs, by hand: a soak through 5,000 photos with resident-memory figures
# (normal build) and the same under AddressSanitizer/LeakSanitizer, then a long SIGKILL run.
#   scripts/soak.sh [photos] [kills]        (defaults: 5000 photos, 300 kills; needs root)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
photos=${1:-5000}
kills=${2:-300}
build="$top/build-soak"
asan="$top/build-soak-asan"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" tst_soak tst_station_processes
cmake -S "$top" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELVANA_SANITIZE=ON \
  -DSELVANA_BUILD_BENCH=OFF >/dev/null
ninja -C "$asan" tst_soak

export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 LC_ALL=C.UTF-8
echo "== soak: $photos photos, normal build"
SELVANA_SOAK_PHOTOS=$photos "$build/tests/tst_soak"
echo "== soak: $photos photos, AddressSanitizer + LeakSanitizer"
SELVANA_SOAK_PHOTOS=$photos ASAN_OPTIONS=detect_leaks=1 \
  LSAN_OPTIONS="suppressions=$top/tests/support/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$asan/tests/tst_soak"
echo "== $kills kills of a station during selects and deletes"
SELVANA_KILLS=$kills "$build/tests/tst_station_processes" \
  --gtest_filter='KillRecovery.*'
