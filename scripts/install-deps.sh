#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent: prints nothing and touches nothing when all are present.
set -euo pipefail

PACKAGES=(
  g++ cmake make ninja-build pkg-config clang-format
  qt6-base-dev libgl-dev
  unixodbc unixodbc-dev odbc-mariadb libmariadb-dev
  mariadb-server mariadb-client
  libpcre2-dev libzip-dev libexpat1-dev zlib1g-dev libisal-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-xlrd python3-xlwt python3-openpyxl python3-xlsxwriter python3-mysqldb
  libreoffice-calc-nogui poppler-utils
  xvfb xauth
  dpkg-dev lintian desktop-file-utils appstream
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "install-deps: missing packages (${missing[*]}) and no root rights to install them" >&2
    exit 1
  fi
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The package lists may be stale on a fresh machine; refresh them once, quietly.
$SUDO apt-get update -qq >/dev/null 2>&1 || true
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# A server package must not leave a system-wide server running: tests start their own.
if [ -d /run/systemd/system ]; then :; else
  $SUDO service mariadb stop >/dev/null 2>&1 || true
fi
echo "install-deps: done"
