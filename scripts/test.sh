#!/usr/bin/env bash
# Installs what is missing, builds the station twice (normal, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test of both builds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"

"$top/scripts/build.sh" "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
"$top/scripts/build.sh" "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DSELVANA_SANITIZE=ON \
  -DSELVANA_BUILD_BENCH=OFF

status=0
(cd "$top/build" && ctest -j2 --output-on-failure) || status=1
(cd "$top/build-asan" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
  LSAN_OPTIONS="suppressions=$top/tests/support/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j2 --output-on-failure) || status=1
exit $status
