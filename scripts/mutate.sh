#!/usr/bin/env bash
# A mutation campaign on the portable modules, not part of CI: each fault of
# the list (scripts/mutations.txt unless given) is put alone into a scratch
# copy of the tracked files, built incrementally with the native-sanitize
# preset and tested with a time-out; then the file is put back. Prints a
# table of the faults the tests caught and those that survived.
#
#   scripts/mutate.sh [list]
#   QV_MUTATE_DIR=<dir> keeps the scratch copy there (and reuses its build);
#   QV_MUTATE_TIMEOUT=<seconds> bounds each test run (default 900).
set -uo pipefail
cd "$(dirname "$0")/.."
list=$(realpath "${1:-scripts/mutations.txt}")
limit=${QV_MUTATE_TIMEOUT:-900}
if [ -n "${QV_MUTATE_DIR:-}" ]; then
  scratch=$QV_MUTATE_DIR
  mkdir -p "$scratch"
else
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
fi
src=$scratch/src
log=$scratch/log
mkdir -p "$src"

# The working tree's tracked files as they stand, committed or not; dated
# now, so that a reused build sees every one of them afresh.
git ls-files -z | tar --null -T - -cf - 2>/dev/null | tar -xmf - -C "$src" || exit 1

build() { (cd "$src" && cmake --build build/native) >"$log" 2>&1; }
tests() { (cd "$src" && timeout "$limit" ctest --test-dir build/native --timeout 300 -j2 --stop-on-failure) >"$log" 2>&1; }

(cd "$src" && cmake --preset native-sanitize) >"$log" 2>&1 && build && tests || {
  cat "$log"
  echo "mutate: the unmutated copy does not build or pass its tests" >&2
  exit 1
}

# Puts one fault into the file: the text must occur exactly once.
apply() {
  python3 - "$@" <<'EOF'
import sys
path, find, replace = sys.argv[1:4]
unescape = lambda t: t.replace("\\n", "\n").replace("\\t", "\t")
text = open(path, encoding="utf-8").read()
if text.count(unescape(find)) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(unescape(find), unescape(replace)))
EOF
}

caught=0
survived=0
invalid=0
table=()
n=0
while IFS=$'\t' read -r file find replace; do
  case "$file" in '' | '#'*) continue ;; esac
  n=$((n + 1))
  cp -p "$src/$file" "$scratch/original"
  if ! apply "$src/$file" "$find" "$replace"; then
    result="not found"
    invalid=$((invalid + 1))
  elif ! build; then
    result="no build"
    invalid=$((invalid + 1))
  elif tests; then
    result="SURVIVED"
    survived=$((survived + 1))
  else
    result="caught"
    caught=$((caught + 1))
  fi
  cp -p "$scratch/original" "$src/$file"
  touch "$src/$file" # newer than the mutant's objects
  table+=("$(printf '%3d  %-9s %s: %s -> %s' "$n" "$result" "$file" "$find" "$replace")")
  echo "${table[-1]}" >&2
done <"$list"

echo
printf '%s\n' "${table[@]}"
echo
echo "mutate: $caught caught, $survived survived, $invalid not applied or not built, of $n;" \
  "score $((caught * 100 / (caught + survived > 0 ? caught + survived : 1)))%"
[ "$survived" = 0 ]
