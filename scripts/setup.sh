#!/usr/bin/env bash
# Installs what the build needs on a Debian machine and builds the target-side
# libraries (mbed TLS for MinGW) into a cache outside the source tree.
# Idempotent: a second run only checks.
set -euo pipefail

DEPS_DIR=${QV_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvane-deps}
MBEDTLS_VERSION_PREFIX=2.28
HERE=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine64 cmake ninja-build dpkg-dev
  nlohmann-json3-dev libboost-dev libmbedtls-dev googletest libgtest-dev
  python3-yaml
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  updated=1
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The MinGW toolchain must use the posix threads variant.
for t in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix; do
  command -v "$t" >/dev/null || { echo "setup: $t not found" >&2; exit 1; }
done

prefix="$DEPS_DIR/mingw64"
stamp="$prefix/.mbedtls-built"
if [ ! -f "$stamp" ]; then
  src_list=/etc/apt/sources.list.d/quorvane-deb-src.sources
  if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
    echo "setup: adding a deb-src entry for Debian's source packages"
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    as_root tee "$src_list" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    updated=0
  fi
  [ $updated = 1 ] || as_root apt-get update -qq
  work="$DEPS_DIR/src"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source -qq mbedtls >/dev/null 2>&1 || apt-get source mbedtls)
  srcdir=$(find "$work" -maxdepth 1 -type d -name "mbedtls-$MBEDTLS_VERSION_PREFIX*" | head -n1)
  [ -n "$srcdir" ] || { echo "setup: no mbedtls $MBEDTLS_VERSION_PREFIX source found" >&2; exit 1; }
  echo "setup: building $(basename "$srcdir") for x86_64-w64-mingw32"
  cmake -S "$srcdir" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$HERE/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DMBEDTLS_FATAL_WARNINGS=OFF \
    -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DUSE_SHARED_MBEDTLS_LIBRARY=OFF >/dev/null
  cmake --build "$work/build" >/dev/null
  cmake --install "$work/build" >/dev/null
  rm -rf "$work"
  touch "$stamp"
fi
echo "setup: ready (target libraries in $prefix)"
