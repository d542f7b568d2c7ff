#!/usr/bin/env bash
# The program's main job. Until the manager simulator exists this builds the
# agent and says where it is.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
exe=$(find "$PWD/build/windows/app" -maxdepth 1 -name 'QuorvaneAnalytics.exe' | head -n1)
if [ -n "$exe" ]; then
  echo "built: $exe"
else
  echo "built the libraries; the agent's executable is not part of the tree yet" >&2
fi
