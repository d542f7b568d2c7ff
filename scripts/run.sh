#!/usr/bin/env bash
# The program's main job, as far as it exists: builds everything for Windows
# and says where the programs are. The agent itself (pipe client and start-up)
# is not part of the tree yet; its peer, the manager simulator, is.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
echo
for exe in build/windows/app/QuorvaneAnalytics.exe build/windows/tools/manager_simulator/qvm_simulator.exe; do
  if [ -f "$exe" ]; then
    echo "built: $PWD/$exe"
  fi
done
if [ ! -f build/windows/app/QuorvaneAnalytics.exe ]; then
  echo "(the agent's executable, QuorvaneAnalytics.exe, is not part of the tree yet)"
fi
echo "run the manager simulator under Wine: cmake/wine-run.sh build/windows/tools/manager_simulator/qvm_simulator.exe --help"
