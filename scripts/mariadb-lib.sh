# Shell functions for a private MariaDB server, sourced by with-mariadb.sh
# (a throwaway server for the tests) and run.sh (the user's demo server).
# The server listens on loopback only, runs as the calling user (root
# included) and reads no system option files.
#
#   mdb_tools                    sets MARIADBD, INSTALL_DB and CLIENT, or fails
#   mdb_free_port                prints a free loopback port
#   mdb_port_free PORT           succeeds when PORT can be bound on loopback
#   mdb_install DATADIR          creates a data directory (root without a
#                                password, reachable through the socket)
#   mdb_start DATADIR PORT SOCK ERRLOG
#                                starts the server in the background (MDB_PID)
#                                and waits until it answers on SOCK
#   mdb_stop                     stops the server started by mdb_start
#   mdb_root SOCK [ARGS...]      the client as root over SOCK

MDB_PID=""
# The system's Python starts fastest (a version manager's shim can take a second).
MDB_PYTHON=python3
[ -x /usr/bin/python3 ] && MDB_PYTHON=/usr/bin/python3

mdb_find_bin() {
  local n
  for n in "$@"; do
    command -v "$n" 2>/dev/null && return 0
    [ -x "/usr/sbin/$n" ] && { echo "/usr/sbin/$n"; return 0; }
  done
  return 1
}

mdb_tools() {
  MARIADBD=$(mdb_find_bin mariadbd mysqld) || { echo "no mariadbd found" >&2; return 1; }
  INSTALL_DB=$(mdb_find_bin mariadb-install-db mysql_install_db) \
    || { echo "no mariadb-install-db found" >&2; return 1; }
  CLIENT=$(mdb_find_bin mariadb mysql) || { echo "no mariadb client found" >&2; return 1; }
}

mdb_free_port() {
  "$MDB_PYTHON" - <<'PY'
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()
PY
}

mdb_port_free() {
  "$MDB_PYTHON" - "$1" <<'PY'
import socket, sys
s = socket.socket()
# As the server binds: a port that only has connections closing is free.
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("127.0.0.1", int(sys.argv[1])))
except OSError:
    sys.exit(1)
finally:
    s.close()
PY
}

mdb_install() {
  local datadir=$1
  "$INSTALL_DB" --no-defaults --datadir="$datadir" --user="$(id -un)" \
    --auth-root-authentication-method=normal --skip-test-db >"$datadir.install.log" 2>&1 \
    || { cat "$datadir.install.log" >&2; return 1; }
  rm -f "$datadir.install.log"
}

mdb_start() {
  local datadir=$1 port=$2 sock=$3 errlog=$4
  "$MARIADBD" --no-defaults --datadir="$datadir" --user="$(id -un)" \
    --bind-address=127.0.0.1 --port="$port" --socket="$sock" --pid-file="$sock.pid" \
    --skip-name-resolve --character-set-server=utf8mb4 \
    --collation-server=utf8mb4_general_ci --innodb-buffer-pool-size=128M \
    --log-error="$errlog" >/dev/null 2>&1 &
  MDB_PID=$!
  local _
  for _ in $(seq 1 600); do
    if "$CLIENT" --no-defaults -uroot --socket="$sock" -e "select 1" >/dev/null 2>&1; then
      return 0
    fi
    if ! kill -0 "$MDB_PID" 2>/dev/null; then
      MDB_PID=""
      echo "the MariaDB server did not start:" >&2
      tail -n 20 "$errlog" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "the MariaDB server did not answer within a minute:" >&2
  tail -n 20 "$errlog" >&2
  return 1
}

mdb_stop() {
  if [ -n "$MDB_PID" ] && kill -0 "$MDB_PID" 2>/dev/null; then
    kill "$MDB_PID" 2>/dev/null || true
    local _
    for _ in $(seq 1 300); do kill -0 "$MDB_PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$MDB_PID" 2>/dev/null || true
  fi
  MDB_PID=""
}

mdb_root() {
  local sock=$1; shift
  "$CLIENT" --no-defaults -uroot --socket="$sock" "$@"
}
