#!/usr/bin/env bash
# Messages per second through the message chain against the library floor,
# natively and under Wine, in optimised builds of their own. The library floor
# is the work no implementation can skip, done by the libraries alone on the
# same payloads: mbed TLS Base64 decoding and AES-128-CBC decryption, then
# nlohmann JSON parsing. The message chain is the agent's own path (AesHandler,
# the dock event handler, the record writer on a null stream); its ratio to
# the floor is what the agent's code costs beyond that work.
#   scripts/bench.sh [messages] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null
messages=${1:-20000}
rounds=${2:-5}

cmake -S . -B build/bench-native -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench-native --target qv_chain_bench >/dev/null
cmake -S . -B build/bench-windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build/bench-windows --target qv_chain_bench >/dev/null

build/bench-native/tools/qv_chain_bench "$messages" "$rounds"
QV_WINEPREFIX=$PWD/build/bench-windows/wineprefix \
  cmake/wine-run.sh build/bench-windows/tools/qv_chain_bench.exe "$messages" "$rounds"
