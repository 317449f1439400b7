#!/usr/bin/env bash
# The package check: installs a Debian package of Migrator on this machine,
# uses it as a person would, and removes it again.
#
#   bash scripts/package-check.sh FILE.deb
#
#   1. apt-get installs FILE.deb (dependencies from the package lists).
#   2. A throwaway user with a fresh home directory runs the installed
#      programs: migrator-cli --version; the window off screen for a few
#      seconds, then its screenshot tour; migrator-cli migrate of the sample
#      database from a private MariaDB server into a workbook.
#   3. Nothing was written below /usr meanwhile, and the programs' files are
#      in ~/.local/share/migrator, readable by the user only.
#   4. dpkg --purge leaves none of the package's files behind.
#
# Needs root (apt-get, useradd); without it, and when a package named
# migrator is installed already (the check would replace and remove it), it
# says why and does nothing. Runs under scripts/with-mariadb.sh (it starts
# one when no private server is given).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

case ${1:-} in
  -h|--help|"") sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; [ -n "${1:-}" ]; exit ;;
esac
DEB=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -f "$DEB" ] || { echo "package-check: $1 is not a file" >&2; exit 2; }

if [ "$(id -u)" -ne 0 ]; then
  echo "package-check: skipped: installing the package needs root (CI runs it as root)"
  exit 0
fi
if dpkg-query -W -f='${Status}' migrator 2>/dev/null | grep -q 'installed\|config-files'; then
  echo "package-check: skipped: a package named migrator is installed on this machine;" \
    "the check would replace and purge it"
  exit 0
fi
if [ -z "${MIGRATOR_TEST_MYSQL_PORT:-}" ]; then
  exec scripts/with-mariadb.sh bash "$0" "$DEB"
fi

STARTED=$SECONDS
CHECK_USER=migrator-pkgcheck
MARK="Migrator package check"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/migrator-package-check.XXXXXX")
chmod 755 "$WORK"
HOME_DIR=$WORK/home
INSTALLED=""
failures=0
fail() { echo "package-check: FAILED: $*" >&2; failures=$((failures + 1)); }
# Seconds since the last call, for the lines below.
LAP=$SECONDS
lap() { LAPSED="$((SECONDS - LAP)) s"; LAP=$SECONDS; }

cleanup() {
  local rc=$?
  if [ -n "$INSTALLED" ]; then dpkg --purge migrator >/dev/null 2>&1 || true; fi
  if getent passwd "$CHECK_USER" | grep -q "$MARK"; then userdel -r "$CHECK_USER" >/dev/null 2>&1 || true; fi
  rm -rf "$WORK"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A user of an earlier, interrupted check goes; any other user of that name
# is not ours to touch.
if getent passwd "$CHECK_USER" >/dev/null; then
  getent passwd "$CHECK_USER" | grep -q "$MARK" \
    || { echo "package-check: a user $CHECK_USER exists that this check did not make" >&2; exit 1; }
  userdel -r "$CHECK_USER" >/dev/null 2>&1 || true
fi

# The sample database, loaded as the server's root before anything is timed.
. "$ROOT/scripts/mariadb-lib.sh"
mdb_tools
DB=package_check_shop
"$MDB_PYTHON" "$ROOT/scripts/sample_shop.py" --database "$DB" | mdb_root "$MIGRATOR_TEST_MYSQL_SOCKET"
lap
echo "package-check: sample database $DB loaded ($LAPSED)"

echo "package-check: installing $(basename "$DEB")"
# apt reads the file as its own unprivileged user: a copy it can reach.
cp "$DEB" "$WORK/"
chmod 644 "$WORK/$(basename "$DEB")"
export DEBIAN_FRONTEND=noninteractive
INSTALLED=1  # from here on the exit purges, even after a half-done install
apt-get install -y -qq --no-install-recommends "$WORK/$(basename "$DEB")" >"$WORK/apt.log" 2>&1 \
  || { cat "$WORK/apt.log"; echo "package-check: apt-get install failed" >&2; exit 1; }
lap
echo "  installed ($LAPSED)"
mapfile -t OWNED < <(dpkg -L migrator)
VERSION=$(dpkg-query -W -f='${Version}' migrator)

useradd --create-home --home-dir "$HOME_DIR" --shell /bin/bash --comment "$MARK" "$CHECK_USER"
# From here on nothing below /usr may change.
STAMP=$WORK/stamp
touch "$STAMP"
sleep 1

as_user() {
  runuser -u "$CHECK_USER" -- env -i HOME="$HOME_DIR" USER="$CHECK_USER" PATH=/usr/bin:/bin \
    LANG=C.UTF-8 TMPDIR="$HOME_DIR" QT_QPA_PLATFORM=offscreen "$@"
}

out=$(as_user /usr/bin/migrator-cli --version) || fail "migrator-cli --version exited $?"
echo "  migrator-cli --version: $out"
[ "$out" = "Migrator $VERSION" ] || fail "migrator-cli --version printed '$out', not 'Migrator $VERSION'"

# The window, started as from the menu: still up after a few seconds.
rc=0
as_user timeout 4 /usr/bin/migrator --no-driver-check >"$WORK/window.log" 2>&1 || rc=$?
lap
echo "  migrator (the window, 4 s off screen): $([ "$rc" -eq 124 ] && echo running || echo "exited $rc")" \
  "($LAPSED)"
[ "$rc" -eq 124 ] || { cat "$WORK/window.log"; fail "the window did not stay up (status $rc)"; }

# The screenshot tour: the whole window drawn, connected, a migration run.
SHOTS=$HOME_DIR/screenshots
rc=0
as_user env MIGRATOR_TEST_MYSQL_HOST="$MIGRATOR_TEST_MYSQL_HOST" \
  MIGRATOR_TEST_MYSQL_PORT="$MIGRATOR_TEST_MYSQL_PORT" \
  MIGRATOR_TEST_MYSQL_USER="$MIGRATOR_TEST_MYSQL_USER" \
  MIGRATOR_TEST_MYSQL_PASSWORD="$MIGRATOR_TEST_MYSQL_PASSWORD" \
  MIGRATOR_SCREENSHOT_DATABASE="$DB" \
  timeout 300 /usr/bin/migrator --screenshots "$SHOTS" >"$WORK/tour.log" 2>&1 || rc=$?
pictures=$(find "$SHOTS" -name '*.png' -size +2k 2>/dev/null | wc -l)
lap
echo "  migrator --screenshots: status $rc, $pictures pictures ($LAPSED)"
if [ "$rc" -ne 0 ] || [ "$pictures" -lt 9 ]; then
  tail -20 "$WORK/tour.log"
  fail "the screenshot tour"
fi

# The sample database into a workbook in the user's home directory.
BOOK=$HOME_DIR/shop.xls
rc=0
as_user env MIGRATOR_SOURCE_PASSWORD="$MIGRATOR_TEST_MYSQL_PASSWORD" /usr/bin/migrator-cli \
  migrate --yes --quiet \
  --source "mysql://$MIGRATOR_TEST_MYSQL_USER@127.0.0.1:$MIGRATOR_TEST_MYSQL_PORT/$DB" \
  --target "$BOOK" >"$WORK/migrate.log" 2>&1 || rc=$?
sheets=$(as_user /usr/bin/migrator-cli workbook info "$BOOK" 2>/dev/null |
  grep -c '(worksheet, visible) used A1:' || true)
lap
echo "  migrator-cli migrate: status $rc, $sheets sheets with rows in $BOOK ($LAPSED)"
if [ "$rc" -ne 0 ] || [ "$sheets" -ne 5 ]; then
  cat "$WORK/migrate.log"
  fail "the migration"
fi

# The programs' files are the user's: private, and nothing below /usr.
DATA=$HOME_DIR/.local/share/migrator
mode=$(stat -c %a "$DATA" 2>/dev/null || echo missing)
echo "  program directory $DATA: mode $mode, holds: $(ls -A "$DATA" 2>/dev/null | tr '\n' ' ')"
[ "$mode" = 700 ] || fail "$DATA has mode $mode, not 700"
[ "$(stat -c %U "$DATA" 2>/dev/null)" = "$CHECK_USER" ] || fail "$DATA does not belong to $CHECK_USER"
changed=$(find /usr -xdev \( -newer "$STAMP" -o -cnewer "$STAMP" \) -print 2>/dev/null | head -20)
if [ -n "$changed" ]; then
  fail "written below /usr while the programs ran:"$'\n'"$changed"
else
  lap
  echo "  below /usr: nothing written ($LAPSED)"
fi

# Purge: none of the package's files stay; a directory that stays belongs to
# other packages too.
dpkg --purge migrator >/dev/null
INSTALLED=""
left=()
for path in "${OWNED[@]}"; do
  [ "$path" != /. ] || continue
  [ -e "$path" ] || [ -L "$path" ] || continue
  if [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
  left+=("$path")
done
if dpkg-query -W -f='${Status}' migrator 2>/dev/null | grep -q 'installed\|config-files'; then
  fail "dpkg still knows the package after the purge"
fi
if [ ${#left[@]} -gt 0 ]; then
  fail "left behind by the purge: ${left[*]}"
else
  lap
  echo "  purge: none of the ${#OWNED[@]} paths of the package is left ($LAPSED)"
fi

echo "package-check: $((SECONDS - STARTED)) s"
if [ "$failures" -gt 0 ]; then
  echo "package-check: $failures check(s) failed" >&2
  exit 1
fi
echo "package-check: passed"
