#!/usr/bin/env bash
# The portable concurrency tests (the lock-free FIFO core among them) built
# natively under ThreadSanitizer, in a build folder of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_WERROR=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build/tsan --target qv_concurrency_portable_tests
TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" build/tsan/tests/sys/concurrency/qv_concurrency_portable_tests
