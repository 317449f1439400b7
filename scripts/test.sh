#!/usr/bin/env bash
# The test command: installs what is missing, builds, starts a private MariaDB
# server and runs every test. Three builds:
#   build-asan  AddressSanitizer + UndefinedBehaviorSanitizer, the core tests
#   build-tsan  ThreadSanitizer, the tests labelled "threads"
#   build       the program as shipped (window included), every test; then
#               its Debian package, installed and used (scripts/package.sh,
#               scripts/package-check.sh; the latter only as root)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

JOBS=$(nproc 2>/dev/null || echo 2)
GEN=(-G Ninja)
command -v ninja >/dev/null 2>&1 || GEN=()

configure() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" "${GEN[@]}" "$@" >"$ROOT/.$dir.configure.log" 2>&1 \
    || { cat "$ROOT/.$dir.configure.log"; exit 1; }
}

echo "== build-asan (AddressSanitizer, UndefinedBehaviorSanitizer)"
configure build-asan -DCMAKE_BUILD_TYPE=Debug -DMIGRATOR_BUILD_GUI=OFF \
  -DMIGRATOR_BUILD_BENCH=OFF -DMIGRATOR_SANITIZE=address,undefined
cmake --build build-asan -j"$JOBS"

echo "== build-tsan (ThreadSanitizer)"
configure build-tsan -DCMAKE_BUILD_TYPE=Debug -DMIGRATOR_BUILD_GUI=OFF \
  -DMIGRATOR_BUILD_BENCH=OFF -DMIGRATOR_SANITIZE=thread
# Only the suites that exercise the two threads are built here.
cmake --build build-tsan -j"$JOBS" --target threads_tests

echo "== build (the program)"
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$JOBS"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen

# Tests that drive LibreOffice or run for minutes are left to the shipped build.
exec scripts/with-mariadb.sh bash -c '
  set -e
  echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  (cd build-asan && ctest --output-on-failure -j2 -LE "gui|slow")
  echo "== tests under ThreadSanitizer"
  (cd build-tsan && ctest --output-on-failure -L threads)
  echo "== every test of the shipped build"
  (cd build && ctest --output-on-failure -j2)
  echo "== the Debian package of the shipped build, installed and used"
  bash scripts/package.sh build/deb
  bash scripts/package-check.sh build/deb/migrator_*.deb
'
