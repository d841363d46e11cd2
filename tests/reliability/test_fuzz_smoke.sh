#!/usr/bin/env bash
# Every fuzz target for a few seconds, in its own clang build under the test build folder
# (7 s each keeps the four targets within about half a minute of fuzzing).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
exec bash "$top/scripts/fuzz.sh" "$1/fuzz-smoke" "${SELVANA_FUZZ_SECONDS:-7}"
