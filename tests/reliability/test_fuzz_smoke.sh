#!/usr/bin/env bash
# Every fuzz target for a few seconds, in its own clang build under the test build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
exec bash "$top/scripts/fuzz.sh" "$1/fuzz-smoke" "${SELVANA_FUZZ_SECONDS:-10}"
