#!/usr/bin/env bash
# The program's main job: sets up, builds, starts the bundled manager
# simulator with its sample event cache on the manager's pipe, and runs the
# agent against it under Wine, showing the agent's standard output (the
# telemetry document) as a user would see it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows

agent=build/windows/app/QuorvaneAnalytics.exe
simulator=build/windows/tools/manager_simulator/qvm_simulator.exe
export QV_WINEPREFIX="$PWD/build/windows/wineprefix" WINEPREFIX="$PWD/build/windows/wineprefix"
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
cmake/wine-run.sh cmd /c exit >/dev/null 2>&1 || true
"$WINESERVER" -p 2>/dev/null || true  # already running is fine

work=$(mktemp -d)
cleanup() {
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null
  "$WINESERVER" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo
echo "== manager simulator: sample cache on \\\\.\\pipe\\qvm_message_server"
cmake/wine-run.sh "$simulator" --wait 30000 >"$work/simulator.log" 2>&1 &
sim_pid=$!
sleep 2
echo "== QuorvaneAnalytics.exe (standard output):"
status=0
cmake/wine-run.sh "$agent" >"$work/agent.out" 2>"$work/agent.err" || status=$?
cat "$work/agent.out"
echo "== exit status: $status"
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=

echo
echo "ship: $PWD/$agent"
echo "keep: $PWD/$agent.debug (never shipped: it turns a crash dump of this build into a stack)"
echo "built: $PWD/$simulator (and its .debug)"
echo "On Windows, copy QuorvaneAnalytics.exe anywhere and run it from a console while the manager"
echo "service runs; it needs no DLL beyond Windows' own. Under Wine: cmake/wine-run.sh $agent"
exit $status
