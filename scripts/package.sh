#!/usr/bin/env bash
# The package command: builds the Debian package migrator_<version>_<arch>.deb
# into OUTDIR and checks it with lintian.
#
#   bash scripts/package.sh OUTDIR
#
# It uses the release build in `build` (configured here when it is not yet,
# as scripts/test.sh configures it), builds the targets the package holds
# and runs cpack there; the tests and the package come from the same build.
# Then lintian must report no errors.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

case ${1:-} in
  -h|--help|"") sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; [ -n "${1:-}" ]; exit ;;
esac
mkdir -p "$1"
OUT=$(cd "$1" && pwd)

bash scripts/install-deps.sh

if [ ! -f build/CMakeCache.txt ]; then
  GEN=(-G Ninja)
  command -v ninja >/dev/null 2>&1 || GEN=()
  echo "package: configuring the release build in build"
  cmake -S "$ROOT" -B "$ROOT/build" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >"$ROOT/.build.configure.log" 2>&1 || { cat "$ROOT/.build.configure.log"; exit 1; }
fi
# The package ships the window and must not ship a sanitizer build.
cache() { sed -n "s/^$1:[A-Z]*=//p" build/CMakeCache.txt; }
if [ "$(cache MIGRATOR_BUILD_GUI)" = OFF ] || [ -n "$(cache MIGRATOR_SANITIZE)" ]; then
  echo "package: build is configured without the window or with sanitizers" \
    "(MIGRATOR_BUILD_GUI=$(cache MIGRATOR_BUILD_GUI)," \
    "MIGRATOR_SANITIZE=$(cache MIGRATOR_SANITIZE)); configure it as scripts/test.sh does" >&2
  exit 1
fi
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" \
  --target migrator migrator-cli install_files manual

STAGE=$ROOT/build/package
rm -rf "$STAGE"
(cd build && cpack -G DEB -B "$STAGE" >"$STAGE.log" 2>&1) || { cat "$STAGE.log"; exit 1; }
debs=("$STAGE"/migrator_*.deb)
[ -f "${debs[0]}" ] || { cat "$STAGE.log"; echo "package: cpack made no .deb" >&2; exit 1; }
DEB=$OUT/$(basename "${debs[0]}")
mv -f "${debs[0]}" "$DEB"
rm -rf "$STAGE" "$STAGE.log"

# lintian: errors fail the package. What it reports at the informational
# level is accepted:
#   hardening-no-bindnow, hardening-no-fortify-functions: the release build
#     uses the compiler's defaults (PIE, relro, stack protector) without
#     Debian's build flags;
#   spelling-error-in-binary: message texts the program shows verbatim.
# No warning is accepted at present.
if command -v lintian >/dev/null 2>&1; then
  echo "package: lintian $(basename "$DEB")"
  rc=0
  report=$(lintian --fail-on error "$DEB" 2>&1) || rc=$?
  # As root lintian says it had rather not; the package is only read.
  report=$(grep -v '^running with root privileges' <<<"$report" || true)
  [ -z "$report" ] || printf '%s\n' "$report"
  [ "$rc" -eq 0 ] || { echo "package: lintian reports errors in $DEB" >&2; exit 1; }
else
  echo "package: lintian is not installed: the package is not checked"
fi
echo "package: $DEB"
