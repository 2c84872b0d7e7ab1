#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need;
# with --windows, also the cross compiler and Wine for tools/test-windows.sh.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-odbc
  unixodbc-dev tdsodbc libsqliteodbc libssl-dev
  libjpeg62-turbo-dev libjpeg-turbo-progs imagemagick
  fonts-wqy-microhei xvfb xauth sqlite3 dpkg-dev lintian qt6-l10n-tools
)

# The translation of bmp2jpg-batch is compiled by the build machine's
# lrelease (qt6-l10n-tools) in either build.
# Wine comes with what it recommends: the X libraries and fonts its windows
# are drawn with, and the ODBC library its odbc32 hands calls to.
windows_packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools nasm wine64 wine qt6-base-dev-tools qt6-l10n-tools nsis)

# install [apt-get option...] -- package...: those of the packages not installed yet.
install() {
  local options=() missing=() package
  while [[ $1 != -- ]]; do options+=("$1"); shift; done
  shift
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${options[@]}" "${missing[@]}"
  fi
}

install --no-install-recommends -- "${packages[@]}"
if [[ ${1:-} == --windows ]]; then
  install -- "${windows_packages[@]}"
fi

# The tests reach FreeTDS and the SQLite ODBC driver by their registered names.
odbcinst -q -d -n FreeTDS >/dev/null 2>&1 || odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini >/dev/null
odbcinst -q -d -n SQLite3 >/dev/null 2>&1 || odbcinst -i -d -f /usr/share/sqliteodbc/unixodbc.ini >/dev/null
