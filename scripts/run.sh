#!/usr/bin/env bash
# The run command: installs what is missing, builds if needed and starts the
# window. Without a display it says how to run Migrator headless and exits 0.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

GEN=(-G Ninja)
command -v ninja >/dev/null 2>&1 || GEN=()
if [ ! -f build-run/CMakeCache.txt ]; then
  cmake -S "$ROOT" -B "$ROOT/build-run" "${GEN[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DMIGRATOR_BUILD_TESTS=OFF -DMIGRATOR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build build-run -j"$(nproc 2>/dev/null || echo 2)" --target migrator migrator-cli >/dev/null

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat <<MSG
Migrator is built, but this machine has no display to show its window on.
  - On a desktop, run:            $ROOT/build-run/migrator
  - Headless, with the window
    drawn off screen:             QT_QPA_PLATFORM=offscreen $ROOT/build-run/migrator
  - Without a window at all:      $ROOT/build-run/migrator-cli --help
    e.g. $ROOT/build-run/migrator-cli drivers
MSG
  exit 0
fi
exec "$ROOT/build-run/migrator" "$@"
