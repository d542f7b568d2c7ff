#!/usr/bin/env bash
# Installs what is needed, builds both configurations and runs every test:
# the Windows binaries under Wine, the platform-independent modules natively
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the lock-free FIFO
# core under ThreadSanitizer.
set -uo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh || exit 1

status=0
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_ctest() {
  ctest --preset "$1" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
  if [ -n "$line" ]; then
    local total fail
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fail=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fail))
    failed=$((failed + fail))
  fi
  [ "$rc" = 0 ] || status=1
}

for preset in windows native-sanitize; do
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "test: the $preset build failed" >&2
    exit 1
  fi
done

# One Wine prefix for the whole run, made before anything uses it, and one
# persistent wineserver so that each test binary starts in a few milliseconds.
export QV_WINEPREFIX="$PWD/build/windows/wineprefix"
export WINEPREFIX="$QV_WINEPREFIX"
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
cmake/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
"$WINESERVER" -p
run_ctest windows
"$WINESERVER" -k 2>/dev/null || true

run_ctest native-sanitize

# The lock-free FIFO core natively under ThreadSanitizer (one binary, counted as one).
if ./scripts/tsan.sh >"$log" 2>&1; then
  echo "tsan: the portable concurrency tests passed"
  passed=$((passed + 1))
else
  cat "$log"
  failed=$((failed + 1))
  status=1
fi

echo
echo "tests: $passed passed, $failed failed"
exit $status
