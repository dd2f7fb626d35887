#!/usr/bin/env bash
# Installs what is missing, builds Vantrel and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
"$top/scripts/setup-machine.sh"
"$top/scripts/build.sh" "$build"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
