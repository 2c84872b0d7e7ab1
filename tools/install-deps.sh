#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-odbc
  unixodbc-dev tdsodbc libsqliteodbc
  libjpeg62-turbo-dev libjpeg-turbo-progs imagemagick
  fonts-wqy-microhei xvfb xauth sqlite3 dpkg-dev
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests reach FreeTDS and the SQLite ODBC driver by their registered names.
odbcinst -q -d -n FreeTDS >/dev/null 2>&1 || odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini >/dev/null
odbcinst -q -d -n SQLite3 >/dev/null 2>&1 || odbcinst -i -d -f /usr/share/sqliteodbc/unixodbc.ini >/dev/null
