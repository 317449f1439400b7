#!/usr/bin/env bash
# The screenshot command: installs what is missing, builds the window in
# `build` if needed, starts a private MariaDB server holding the sample
# database "shop", and runs `migrator --screenshots OUTDIR`: the real window,
# drawn off screen, connected to that server and a new workbook, photographed
# at each step of a short tour. Lists the pictures and fails when one is
# missing or empty.
#
#   bash scripts/screenshots.sh OUTDIR
#   bash scripts/screenshots.sh --manual    refreshes docs/manual/img
#
# MIGRATOR_BUILD_DIR=DIR uses the programs of an existing build instead of
# installing and building (the tests use it).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

# The pictures every tour writes; the window may add more.
PICTURES=(main-window.png after-migration.png source-context-menu.png
  target-context-menu.png drag-and-drop.png charset-dialog.png config-dialog.png
  driver-check.png condition-dialog.png failed-task.png scaled-2x.png
  closing-while-running.png connection-lost.png xlsx-target.png)
MIN_BYTES=2000  # a blank picture compresses to less

# Inside the private server's environment (the script calls itself there).
if [ "${1:-}" = --inside-server ]; then
  BIN=$2 OUT=$3
  . "$ROOT/scripts/mariadb-lib.sh"
  mdb_tools
  "$MDB_PYTHON" "$ROOT/scripts/sample_shop.py" --database shop \
    | mdb_root "$MIGRATOR_TEST_MYSQL_SOCKET"
  # The tour connects as the server's ordinary user.
  exec timeout 600 "$BIN/migrator" --screenshots "$OUT"
fi

case ${1:-} in
  -h|--help|"") sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; [ -n "${1:-}" ]; exit ;;
  --manual) OUT=$ROOT/docs/manual/img ;;
  *) OUT=$1 ;;
esac
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

if [ -n "${MIGRATOR_BUILD_DIR:-}" ]; then
  BIN=$(cd "$MIGRATOR_BUILD_DIR" && pwd)
else
  bash scripts/install-deps.sh
  GEN=(-G Ninja)
  command -v ninja >/dev/null 2>&1 || GEN=()
  LAUNCHER=()
  command -v ccache >/dev/null 2>&1 \
    && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  if [ ! -f build/CMakeCache.txt ]; then
    echo "Configuring the build in build..."
    cmake -S "$ROOT" -B "$ROOT/build" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      "${LAUNCHER[@]}" >/dev/null
  fi
  cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target migrator >/dev/null
  BIN=$ROOT/build
fi
[ -x "$BIN/migrator" ] || { echo "screenshots.sh: $BIN/migrator is missing" >&2; exit 1; }

# Pictures of an earlier run must not pass for this run's.
for p in "${PICTURES[@]}"; do rm -f "$OUT/$p"; done

rc=0
QT_QPA_PLATFORM=offscreen scripts/with-mariadb.sh bash "$0" --inside-server "$BIN" "$OUT" || rc=$?

echo
echo "Pictures in $OUT:"
(cd "$OUT" && ls -l -- *.png 2>/dev/null | awk '{printf "  %-28s %8d bytes\n", $NF, $5}') || true
missing=()
for p in "${PICTURES[@]}"; do
  f=$OUT/$p
  if [ ! -f "$f" ] || [ "$(stat -c %s "$f")" -lt $MIN_BYTES ] \
    || [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "screenshots.sh: missing or empty: ${missing[*]}" >&2
  exit 1
fi
[ "$rc" -eq 0 ] || { echo "screenshots.sh: the tour ended with status $rc" >&2; exit "$rc"; }
echo "All ${#PICTURES[@]} pictures written."
