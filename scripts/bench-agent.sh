#!/usr/bin/env bash
# The pipe client and the agent against their floors, under Wine, in an
# optimised build of their own:
#  - messages/s of IpcPipeClient against a plain blocking ReadFile loop;
#  - agent wall time with no manager against a trivial program;
#  - records written under a simulator flood against a plain reader;
#  - teardown with a connected idle manager: in the agent's own process from
#    the end of its one-second wait, and as total - 1 s - trivial program;
#  - peak working set under the flood against a run with no manager.
#   scripts/bench-agent.sh [pipe bench ms per phase] [rounds] [flood messages]
set -Eeuo pipefail
cd "$(dirname "$0")/.."

# Every failure says what failed, and shows the end of what the programs wrote.
work=
reported=
on_failure() {
  local status=$1 line=$2 command=$3
  reported=1
  echo "bench-agent: failed (status $status) at line $line: $command" >&2
  if [ -n "$work" ]; then
    for f in "$work"/*.txt "$work"/*.log; do
      [ -s "$f" ] || continue
      echo "--- end of ${f##*/}:" >&2
      tail -n 5 "$f" >&2
    done
  fi
}
trap 'on_failure $? $LINENO "$BASH_COMMAND"' ERR
fail() { trap - ERR; reported=1; echo "bench-agent: $*" >&2; exit 1; }
# A signal ends the run through the exit handler, which says so.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
whole_number() { [[ "$2" =~ ^[0-9]+$ ]] && [ "$2" -gt 0 ] || fail "$1 must be a whole number above 0, not '$2'"; }

whole_number "pipe bench ms per phase" "${1:-2000}"
whole_number rounds "${2:-2}"
flood=${3:-12000}
whole_number "flood messages" "$flood"
# The simulator sends the 8 events of the bench's cache flood/8 times.
[ "$flood" -ge 8 ] || fail "the flood must hold at least 8 messages, not $flood"

./scripts/setup.sh >/dev/null
cmake -S . -B build/bench-windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build/bench-windows --target qv_pipe_bench qv_agent_bench QuorvaneAnalytics qvm_simulator >/dev/null

export QV_WINEPREFIX=$PWD/build/bench-windows/wineprefix WINEPREFIX=$PWD/build/bench-windows/wineprefix
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
cmake/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
"$WINESERVER" -p 2>/dev/null || true

work=$(mktemp -d)
sim_pid=
cleanup() {
  local status=$?
  trap - ERR
  if [ "$status" != 0 ] && [ -z "$reported" ]; then
    echo "bench-agent: stopped (status $status) after the last line above" >&2
  fi
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

win() { cmake/wine-run.sh "$@"; }
bench=build/bench-windows/tools/qv_agent_bench.exe
agent=build/bench-windows/app/QuorvaneAnalytics.exe
simulator=build/bench-windows/tools/manager_simulator/qvm_simulator.exe
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" "$2"; }
# A figure a program should have printed; stops the run when it did not.
need() { [ -n "$2" ] || fail "no $1 in $3: $(tail -n 3 "$3" 2>/dev/null | tr '\n' ' ')"; }
# Records of the agent's document: one sequence item each.
records() { grep -cE $'^-\r?$' "$1" || true; }
start_simulator() {
  # Not through win(): $! must be the Wine process itself, not a subshell.
  cmake/wine-run.sh "$simulator" -q "$@" >>"$work/simulator.log" 2>&1 &
  sim_pid=$!
  sleep 2
}
stop_simulator() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

echo "== pipe client"
win build/bench-windows/tools/qv_pipe_bench.exe "${1:-2000}" "${2:-2}" >"$work/pipe.txt" 2>&1
cat "$work/pipe.txt"

echo "== agent"
runs=3
for i in $(seq $runs); do
  win "$bench" run "Z:$work/nothing.out" "$bench" nothing >>"$work/nothing.txt" 2>/dev/null
  win "$bench" run "Z:$work/alone.out" "$agent" >>"$work/alone.txt" 2>/dev/null
done
best() { sort -n | head -1; }
trivial=$(field wall_ms "$work/nothing.txt" | best)
alone=$(field wall_ms "$work/alone.txt" | best)
alone_ws=$(field peak_ws_kib "$work/alone.txt" | best)
need "wall time of the trivial program" "$trivial" "$work/nothing.txt"
need "wall time of the agent" "$alone" "$work/alone.txt"
need "working set of the agent" "$alone_ws" "$work/alone.txt"
printf 'trivial program          %8.1f ms (best of %d)\n' "$trivial" $runs
printf 'agent, no manager        %8.1f ms (best of %d), %.1f ms more; peak working set %s KiB\n' \
  "$alone" $runs "$(echo "$alone - $trivial" | bc)" "$alone_ws"

# A connected manager that sends one event and then stays quiet.
win "$bench" events "Z:$work/events.txt" >"$work/events-made.txt" 2>&1
[ -s "$work/events.txt" ] || fail "qv_agent_bench events wrote no events"
head -1 "$work/events.txt" >"$work/one.txt"
for i in $(seq $runs); do
  start_simulator --file "Z:$work/one.txt" --linger client
  win "$bench" run "Z:$work/idle.out" "$agent" >>"$work/idle.txt" 2>/dev/null
  stop_simulator
done
for i in $(seq $runs); do
  start_simulator --file "Z:$work/one.txt" --linger client
  win "$bench" teardown >>"$work/teardown.txt" 2>/dev/null
  stop_simulator
done
idle=$(field wall_ms "$work/idle.txt" | best)
need "wall time of the agent with an idle manager" "$idle" "$work/idle.txt"
need "teardown time" "$(field teardown_ms "$work/teardown.txt")" "$work/teardown.txt"
printf 'agent, idle manager      %8.1f ms (best of %d); teardown at most %.1f ms (total - 1000 - trivial)\n' \
  "$idle" $runs "$(echo "$idle - 1000 - $trivial" | bc)"
printf 'teardown in process      %8s ms (end of the wait to reader and writer gone; runs: %s)\n' \
  "$(field teardown_ms "$work/teardown.txt" | best)" "$(field teardown_ms "$work/teardown.txt" | tr '\n' ' ')"

# The flood of 200-byte frames. The plain reader gets an endless one for 1 s.
# The agent gets a finite one of $flood messages: it keeps reading for as long
# as messages are queued, past its one-second wait (see the README), so an
# endless flood would keep it from ending; its rate is records / (wall time -
# trivial program).
start_simulator --file "Z:$work/events.txt" --repeat 100000000
win "$bench" read qvm_message_server 1000 >"$work/read.txt" 2>&1
stop_simulator
: >"$work/simulator.log"
start_simulator --file "Z:$work/events.txt" --repeat $(( flood / 8 )) --clients 1
timeout 300 cmake/wine-run.sh "$bench" run "Z:$work/flood.out" "$agent" >"$work/flood.txt" 2>/dev/null
# Serving one client, the simulator ends by itself once the agent has gone.
for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
stop_simulator
echo "simulator (agent's flood): $(grep summary "$work/simulator.log" | tail -1)"
plain=$(field read "$work/read.txt")
plain_ms=$(field ms "$work/read.txt")
written=$(records "$work/flood.out")
flood_ms=$(field wall_ms "$work/flood.txt")
flood_ws=$(field peak_ws_kib "$work/flood.txt")
need "message count of the plain reader" "$plain" "$work/read.txt"
need "time of the plain reader" "$plain_ms" "$work/read.txt"
need "wall time of the agent under the flood" "$flood_ms" "$work/flood.txt"
need "working set of the agent under the flood" "$flood_ws" "$work/flood.txt"
plain_rate=$(echo "$plain * 1000 / $plain_ms" | bc)
agent_rate=$(echo "$written * 1000 / ($flood_ms - $trivial)" | bc)
printf 'plain ReadFile loop      %8d msg/s (%d messages in %s ms)\n' "$plain_rate" "$plain" "$plain_ms"
# The agent reads past its one second only while messages are queued. A flood
# it drains within that second leaves it idle for the rest: records / time is
# then a bound set by the flood, not the agent's rate.
if [ "$(echo "$flood_ms < $alone * 1.2" | bc)" = 1 ]; then
  printf 'agent under the flood    not measured: %d records, wall %s ms against %s ms with no manager:\n' \
    "$written" "$flood_ms" "$alone"
  printf '                         the agent drained the flood of %d within its second; give at least %d\n' \
    "$flood" "$(( (plain_rate * 3 + 999) / 1000 * 1000 ))"
else
  printf 'agent under the flood    %8d records/s (%d records, wall %s ms): %.2f of the plain loop\n' \
    "$agent_rate" "$written" "$flood_ms" "$(echo "scale=4; $agent_rate / $plain_rate" | bc)"
fi
printf 'peak working set         %8s KiB under the flood, %s KiB with no manager: %+d KiB\n' \
  "$flood_ws" "$alone_ws" "$(( ${flood_ws%.*} - ${alone_ws%.*} ))"

# Teardown under an endless flood: the reader looks at its stop request
# between messages, so the run ends at its second like any other. Bounded
# here by a timeout of 20 s in case it does not.
start_simulator --file "Z:$work/events.txt" --repeat 100000000
endless=$(date +%s%N)
if timeout 20 cmake/wine-run.sh "$bench" run "Z:$work/endless.out" "$agent" >"$work/endless.txt" 2>/dev/null; then
  printf 'endless flood            agent ended after %s ms, %d records\n' \
    "$(field wall_ms "$work/endless.txt")" "$(records "$work/endless.out")"
else
  printf 'endless flood            agent still running after %d ms (%d records so far); stopped\n' \
    $(( ($(date +%s%N) - endless) / 1000000 )) "$(records "$work/endless.out")"
fi
stop_simulator
