#!/usr/bin/env bash
# Rates of the command engine and the FIFO against their floors, under Wine,
# in an optimised build of their own.
#   scripts/bench-concurrency.sh [round trips] [values] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null
cmake -S . -B build/bench-windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build/bench-windows --target qv_concurrency_bench >/dev/null
QV_WINEPREFIX=$PWD/build/bench-windows/wineprefix \
  cmake/wine-run.sh build/bench-windows/tools/qv_concurrency_bench.exe "$@"
