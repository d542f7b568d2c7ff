#!/usr/bin/env bash
# Builds a libFuzzer target with clang (ASan + UBSan) in build/fuzz and runs it
# for the given number of seconds (default 300) from a seed corpus: the message
# channel (default), the log's line handling or the dump reader's parsing.
# Findings land in fuzz-out/. Not part of CI.
#   scripts/fuzz.sh [seconds] [message_channel | log_line | minidump]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
target=${2:-message_channel}
case "$target" in
  message_channel) seeds=qv_fuzz_seeds ;;
  log_line) seeds=qv_fuzz_log_seeds ;;
  minidump) seeds=qv_fuzz_dump_seeds max_len=16384 ;; # a dump of one thread is over 2 KB
  *) echo "fuzz: unknown target $target" >&2; exit 2 ;;
esac

./scripts/setup.sh >/dev/null
# clang and its sanitizer/fuzzer runtimes are needed only here.
for p in clang libclang-rt-14-dev; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    as_root=""; [ "$(id -u)" = 0 ] || as_root=sudo
    $as_root apt-get update -qq
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
    break
  fi
done
build=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DQV_BUILD_TESTS=OFF -DQV_FUZZ=ON >/dev/null
cmake --build "$build" --target "qv_fuzz_$target" "$seeds"

corpus=$build/corpus-$target
mkdir -p "$corpus" fuzz-out
"$build/tools/fuzz/$seeds" "$corpus"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Findings of this run are the files that appear in fuzz-out/ meanwhile.
before=$(mktemp)
trap 'rm -f "$before"' EXIT
ls fuzz-out >"$before"
status=0
"$build/tools/fuzz/qv_fuzz_$target" -max_total_time="$seconds" -max_len="${max_len:-4096}" \
  -artifact_prefix=fuzz-out/ -print_final_stats=1 "$corpus" || status=$?
found=$(ls fuzz-out | comm -13 "$before" - | sed 's|^|fuzz-out/|' | tr '\n' ' ')
if [ -n "$found" ]; then
  echo "fuzz: $target: FOUND ${found% } (replay: $build/tools/fuzz/qv_fuzz_$target <file>)"
elif [ "$status" != 0 ]; then
  echo "fuzz: $target: the fuzzer failed (status $status) without leaving an input; see its output above"
else
  echo "fuzz: $target: nothing found in $seconds s ($(ls "$corpus" | wc -l) inputs in $corpus)"
fi
exit "$status"
