#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh <folder> [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
folder=$1
shift
cmake -S "$top" -B "$folder" -G Ninja "$@" >/dev/null
ninja -C "$folder" -j "$(nproc)"
