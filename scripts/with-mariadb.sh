#!/usr/bin/env bash
# with-mariadb.sh COMMAND [ARGS...]
# Starts a private MariaDB server on a free loopback port with its data in a
# temporary directory, runs COMMAND with the server's address in the
# environment, and stops the server and removes its files when COMMAND ends,
# whatever its result. Works as root and as an ordinary user.
#
# Exported to COMMAND:
#   MIGRATOR_TEST_MYSQL_HOST      127.0.0.1
#   MIGRATOR_TEST_MYSQL_PORT      the port
#   MIGRATOR_TEST_MYSQL_SOCKET    the Unix socket
#   MIGRATOR_TEST_MYSQL_USER      a user other than root, with a password
#   MIGRATOR_TEST_MYSQL_PASSWORD  its password
#   MIGRATOR_TEST_MYSQL_ROOT_USER root (no password, socket or loopback)
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }

find_bin() { for n in "$@"; do command -v "$n" 2>/dev/null && return 0; [ -x "/usr/sbin/$n" ] && { echo "/usr/sbin/$n"; return 0; }; done; return 1; }
MARIADBD=$(find_bin mariadbd mysqld) || { echo "with-mariadb: no mariadbd found" >&2; exit 1; }
INSTALL_DB=$(find_bin mariadb-install-db mysql_install_db) || { echo "with-mariadb: no mariadb-install-db" >&2; exit 1; }
CLIENT=$(find_bin mariadb mysql) || { echo "with-mariadb: no mariadb client" >&2; exit 1; }

free_port() {
  python3 - <<'PY'
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()
PY
}

TMP=$(mktemp -d "${TMPDIR:-/tmp}/migrator-mariadb.XXXXXX")
USER_NAME=$(id -un)
PORT=$(free_port)
SOCK="$TMP/mysqld.sock"
PID=""

cleanup() {
  local rc=$?
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then
    kill "$PID" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$PID" 2>/dev/null || true
  fi
  rm -rf "$TMP"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$INSTALL_DB" --no-defaults --datadir="$TMP/data" --user="$USER_NAME" \
  --auth-root-authentication-method=normal --skip-test-db >"$TMP/install.log" 2>&1 \
  || { cat "$TMP/install.log" >&2; exit 1; }

"$MARIADBD" --no-defaults --datadir="$TMP/data" --user="$USER_NAME" \
  --bind-address=127.0.0.1 --port="$PORT" --socket="$SOCK" --pid-file="$TMP/mysqld.pid" \
  --skip-grant-tables=0 --skip-name-resolve --character-set-server=utf8mb4 \
  --collation-server=utf8mb4_general_ci --innodb-buffer-pool-size=128M \
  --log-error="$TMP/error.log" >/dev/null 2>&1 &
PID=$!

for _ in $(seq 1 300); do
  if "$CLIENT" --no-defaults -uroot --socket="$SOCK" -e "select 1" >/dev/null 2>&1; then break; fi
  kill -0 "$PID" 2>/dev/null || { echo "with-mariadb: server did not start" >&2; cat "$TMP/error.log" >&2; exit 1; }
  sleep 0.1
done

TEST_USER=migrator_test
TEST_PASSWORD='Mig;rat}or pw'
"$CLIENT" --no-defaults -uroot --socket="$SOCK" <<SQL
CREATE USER IF NOT EXISTS 'root'@'127.0.0.1';
GRANT ALL ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
CREATE USER '$TEST_USER'@'127.0.0.1' IDENTIFIED BY '$TEST_PASSWORD';
CREATE USER '$TEST_USER'@'localhost' IDENTIFIED BY '$TEST_PASSWORD';
GRANT ALL ON *.* TO '$TEST_USER'@'127.0.0.1';
GRANT ALL ON *.* TO '$TEST_USER'@'localhost';
FLUSH PRIVILEGES;
SQL

export MIGRATOR_TEST_MYSQL_HOST=127.0.0.1
export MIGRATOR_TEST_MYSQL_PORT=$PORT
export MIGRATOR_TEST_MYSQL_SOCKET=$SOCK
export MIGRATOR_TEST_MYSQL_USER=$TEST_USER
export MIGRATOR_TEST_MYSQL_PASSWORD=$TEST_PASSWORD
export MIGRATOR_TEST_MYSQL_ROOT_USER=root
echo "with-mariadb: private server on 127.0.0.1:$PORT (data in $TMP)"
set +e
"$@"
rc=$?
set -e
exit $rc
