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

. "$(dirname "$0")/mariadb-lib.sh"
mdb_tools || { echo "with-mariadb: cannot run a server" >&2; exit 1; }

TMP=$(mktemp -d "${TMPDIR:-/tmp}/migrator-mariadb.XXXXXX")
PORT=$(mdb_free_port)
SOCK="$TMP/mysqld.sock"

cleanup() {
  local rc=$?
  mdb_stop
  rm -rf "$TMP"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mdb_install "$TMP/data" || exit 1
mdb_start "$TMP/data" "$PORT" "$SOCK" "$TMP/error.log" || { echo "with-mariadb: no server" >&2; exit 1; }

TEST_USER=migrator_test
TEST_PASSWORD='Mig;rat}or pw'
mdb_root "$SOCK" <<SQL
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
