#!/usr/bin/env bash
# The reader on dumps that a Windows program on the error library left under
# Wine: the faulting function with its line first and main further down; the
# caller of dumpHere; corrupt dumps and wrong debug files refused.
#   end_to_end.sh <qv_dump_reader> <Windows build directory> <source directory>
set -uo pipefail
reader=$1 windows=$2 source=$3
child=$windows/tests/tools/dump_reader/qv_dump_child.exe
if [ ! -f "$child" ]; then
  echo "skipped: no Windows build of qv_dump_child at $child (build the windows preset first)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$child" "$work/"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
line_of() { grep -n "$1" "$source/tests/tools/dump_reader/dump_child.cpp" | cut -d: -f1; }

# Leaves <scenario>.dmp: the library writes the dump beside the executable
# when no debug location is set.
leave_dump() {
  (cd "$work" && rm -f qv_dump_child.dmp &&
    QV_WINEPREFIX="$windows/wineprefix" WINEPREFIX="$windows/wineprefix" "$source/cmake/wine-run.sh" ./qv_dump_child.exe "$1" >"$1.out" 2>&1)
  if [ -f "$work/qv_dump_child.dmp" ]; then mv "$work/qv_dump_child.dmp" "$work/$1.dmp"; else fail "$1 left no dump"; cat "$work/$1.out"; fi
}
# read <name> <expected status> <arguments...>: the reader's output in <name>.txt, errors in <name>.err.
read_dump() {
  local name=$1 expected=$2; shift 2
  "$reader" "$@" >"$work/$name.txt" 2>"$work/$name.err"
  local status=$?
  [ "$status" = "$expected" ] || { fail "$name: exit status $status, expected $expected"; cat "$work/$name.err"; }
}
expect() { grep -Eq -- "$2" "$work/$1.txt" || { fail "$1: no line matching '$2'"; cat "$work/$1.txt"; }; }
expect_error() {
  [ "$(wc -l <"$work/$1.err")" = 1 ] && grep -Eq -- "^qv_dump_reader: .*$2" "$work/$1.err" ||
    { fail "$1: not one error line matching '$2'"; cat "$work/$1.err"; }
}

leave_dump fault
leave_dump dump-here
exe=$work/qv_dump_child.exe
file=tests/tools/dump_reader/dump_child.cpp

read_dump fault 0 "$work/fault.dmp" "$exe"
expect fault '^Exception: C0000005 Access Violation$'
expect fault '^Access: +write to 0x0$'
expect fault "^  #0  qv_dump_child.exe\+0x[0-9a-f]+  writeThroughNull  $file:$(line_of '// the fault')$"
expect fault "^  #[1-9][0-9]*  qv_dump_child.exe\+0x[0-9a-f]+  main  $file:[0-9]+"
sed -n '/^Other threads:/,$p' "$work/fault.txt" >"$work/fault.threads.txt"
expect fault.threads "^  #[0-9]+  qv_dump_child.exe\+0x[0-9a-f]+  waitForever  $file:[0-9]+"

read_dump dump-here 0 "$work/dump-here.dmp" "$exe"
expect dump-here '^Exception: 00000001 '
# The frames above dumpHere are Wine's (no unwind data given): the first two
# frames in the child are found by scanning its stack, and unwinding.
grep -A1 -m1 '  qv_dump_child.exe+' "$work/dump-here.txt" >"$work/dump-here.top.txt"
expect dump-here.top "^  #[1-9]  qv_dump_child.exe\+0x[0-9a-f]+  qv::sys::dumpHere\(.*\)  sys/errors/structured_exception.cpp:[0-9]+  \[scanned\]$"
expect dump-here.top "^  #[1-9]  qv_dump_child.exe\+0x[0-9a-f]+  leaveDumpHere  $file:$(line_of '// the dump here')$"
expect dump-here "^  #[1-9][0-9]*  qv_dump_child.exe\+0x[0-9a-f]+  main  $file:[0-9]+"

# Cut short, and a stream directory pointing past the end.
head -c 2000 "$work/fault.dmp" >"$work/short.dmp"
read_dump short 3 "$work/short.dmp" "$exe"
expect_error short 'short.dmp: .*runs past the end of the file'
cp "$work/fault.dmp" "$work/directory.dmp"
printf '\xff\xff\xff\x7f' | dd of="$work/directory.dmp" bs=1 seek=12 conv=notrunc 2>/dev/null
read_dump directory 3 "$work/directory.dmp" "$exe"
expect_error directory 'the stream directory .*runs past the end'

# A debug file of another build (its checksum changed), a missing one, a folder.
mkdir "$work/other" && cp "$exe" "$work/other/"
checksum_at=$(($(od -An -tu4 -j60 -N4 "$exe") + 24 + 64))
printf '\x01\x02\x03\x04' | dd of="$work/other/qv_dump_child.exe" bs=1 seek="$checksum_at" conv=notrunc 2>/dev/null
read_dump mismatch 4 "$work/fault.dmp" "$work/other/qv_dump_child.exe"
expect_error mismatch 'other/qv_dump_child.exe does not belong to .*qv_dump_child.exe of the dump'
read_dump missing 4 "$work/fault.dmp" "$work/none.exe.debug"
expect_error missing 'none.exe.debug: cannot open'
read_dump folder 4 "$work/fault.dmp" "$work/other"
expect_error folder 'other: cannot read'

[ $failures = 0 ] && echo "passed" || exit 1
