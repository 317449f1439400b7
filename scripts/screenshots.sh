#!/usr/bin/env bash
# The screenshot command: installs what is missing, builds the window in
# `build` if needed, starts a private MariaDB server holding the sample
# database "shop", and runs `migrator --screenshots OUTDIR`: the real window,
# drawn off screen, connected to that server and a new workbook, photographed
# at each step of a short tour. Lists the pictures and fails when one is
# missing or empty. typed-workbook.png is LibreOffice's rendering of a table
# migrated by migrator-cli with --typed (numbers right-aligned, dates as dates).
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
  closing-while-running.png connection-lost.png typed-workbook.png xlsx-target.png)
MIN_BYTES=2000  # a blank picture compresses to less

# Inside the private server's environment (the script calls itself there).
if [ "${1:-}" = --inside-server ]; then
  BIN=$2 OUT=$3
  . "$ROOT/scripts/mariadb-lib.sh"
  mdb_tools
  "$MDB_PYTHON" "$ROOT/scripts/sample_shop.py" --database shop \
    | mdb_root "$MIGRATOR_TEST_MYSQL_SOCKET"
  tour=0
  # First (the tour stops the server at its end): a table of every kind of
  # value, migrated with typed cells into a new workbook and drawn by
  # LibreOffice.
  mdb_root "$MIGRATOR_TEST_MYSQL_SOCKET" <<'SQL'
drop database if exists typed_demo; create database typed_demo; use typed_demo;
create table prices (id int primary key, item varchar(20), price decimal(8,2), stock int,
  listed date, updated datetime, opens time, on_sale boolean, note varchar(20));
insert into prices values
  (1, 'Kettle', 24.90, 12, '2026-11-02', '2026-12-01 09:30:00', '08:00:00', 1, 'steel'),
  (2, 'Teapot', 19.50, 3, '2026-10-15', '2026-12-03 14:05:00', '09:30:00', 0, null),
  (3, 'Mug', 4.25, 240, '2025-03-30', '2026-12-07 17:45:10', '10:00:00', 1, 'blue'),
  (4, 'Tea, 1 kg', 31.00, null, '2024-01-09', '2026-12-08 08:00:00', '07:15:00', 0, 'loose');
SQL
  work=$(mktemp -d)
  pw=$("$MDB_PYTHON" -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' \
    "$MIGRATOR_TEST_MYSQL_PASSWORD")
  url="mysql://$MIGRATOR_TEST_MYSQL_USER:$pw@$MIGRATOR_TEST_MYSQL_HOST:$MIGRATOR_TEST_MYSQL_PORT/typed_demo"
  # LibreOffice prints the sheet; the top of the page is the picture.
  if MIGRATOR_HOME=$work "$BIN/migrator-cli" migrate --yes --quiet --typed --source "$url" \
      --target "$work/typed_demo.xls" \
    && timeout 120 soffice -env:UserInstallation="file://$work/lo" --headless \
      --convert-to pdf --outdir "$work" "$work/typed_demo.xls" >/dev/null 2>&1 \
    && pdftoppm -png -r 110 -singlefile -x 40 -y 40 -W 900 -H 200 "$work/typed_demo.pdf" \
      "$work/typed_demo"; then
    cp "$work/typed_demo.png" "$OUT/typed-workbook.png"
  else
    echo "screenshots.sh: the typed workbook was not drawn" >&2
    tour=1
  fi
  rm -rf "$work"
  # The tour connects as the server's ordinary user.
  timeout 600 "$BIN/migrator" --screenshots "$OUT" || tour=$?
  exit $tour
fi

case ${1:-} in
  -h|--help|"") sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; [ -n "${1:-}" ]; exit ;;
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
  cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target migrator migrator-cli >/dev/null
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
