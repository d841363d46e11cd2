#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each one: first on its kept regression inputs (fuzz/regressions/<target>/), then
# fuzzing from the seed corpus made by tools/make_fuzz_seeds for the given time.
#   scripts/fuzz.sh [build folder] [seconds per target] [target ...]
#   (defaults: build-fuzz, 600 s, every target)
# A crash input is written to <build>/artifacts/<target>/; keep it as a regression input by
# copying it into fuzz/regressions/<target>/ once fixed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-fuzz}
seconds=${2:-600}
shift $(($# > 2 ? 2 : $#))

if ! command -v clang++ >/dev/null; then
  echo "clang++ missing: apt-get install -y clang libclang-rt-14-dev"
  exit 1
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSELVANA_BUILD_FUZZ=ON \
  -DSELVANA_BUILD_TESTS=OFF -DSELVANA_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" fuzz_targets

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in "$top"/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

"$build/fuzz/make_fuzz_seeds" "$build/seeds"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  program="$build/fuzz/$target"
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  regressions="$top/fuzz/regressions/$target"
  if [[ -d $regressions ]] && compgen -G "$regressions/*" >/dev/null; then
    echo "== $target: regression inputs"
    "$program" -rss_limit_mb=2048 "$regressions"/* || status=1
  fi
  echo "== $target: fuzzing for $seconds s"
  "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$build/seeds/$target" 2>&1 |
    grep -vE '^#[0-9]+.*(NEW|REDUCE|pulse)' || true
  if compgen -G "$artifacts/*" >/dev/null; then
    echo "!! $target found inputs that fail: $(ls "$artifacts")"
    status=1
  fi
done
exit $status
