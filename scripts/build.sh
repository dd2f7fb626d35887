#!/usr/bin/env bash
# Configures and builds Vantrel in build/ (or the folder given).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${VANTREL_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
