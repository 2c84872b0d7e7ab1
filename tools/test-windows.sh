#!/usr/bin/env bash
# The Windows build, tested under Wine: cross-compiles everything for 64-bit
# Windows with the toolchain in ../shared/windows, runs every test executable
# on the offscreen platform, makes the zip, the setup program and installs,
# runs the zipped bmp2jpg-batch.exe on an embedded server in a Chinese-named
# folder and checks that it writes the same values, report and backup as the
# Linux build, runs the installed desktop run to see its scratch folders in
# the user's cache, installs, runs and uninstalls the setup program silently
# (tools/test-windows-setup.sh), and takes the window screenshots with Qt's windows platform plugin under Xvfb.
# Without the toolchain it says so and does nothing.
#
# BMP2JPG_LINUX_BUILD: the Linux build to compare with (default build/, as
# tools/build.sh makes it); BMP2JPG_WIN64_PARENT: where the toolchain is
# unpacked (default /opt, as files in it expect).
set -euo pipefail

# All in one function, read whole before it runs: editing the script during a
# run cannot change what that run does.
main() {
root=$(cd "$(dirname "$0")/.." && pwd)
tarball=$root/../shared/windows/win64-sysroot.tar.xz
if [[ ! -f $tarball ]]; then
  echo "test-windows: skipped, no Windows toolchain at $tarball"
  exit 0
fi
started=$SECONDS
parent=${BMP2JPG_WIN64_PARENT:-/opt}
sysroot=$parent/win64
build=$root/build-windows
linux_build=${BMP2JPG_LINUX_BUILD:-$root/build}

step() { echo "test-windows: $* ($((SECONDS - started)) s)"; }
# Both builds in English, whatever this machine's locale, so that their
# summaries compare; UTF-8 for the Chinese paths Wine hands on.
export LC_ALL=C.UTF-8

"$root/tools/install-deps.sh" --windows

# Unpacked again only when the tarball changed.
stamp=$sysroot/.unpacked-from
wanted=$(stat -c '%s %Y' "$tarball")
if [[ ! -f $stamp || $(cat "$stamp") != "$wanted" ]]; then
  step "unpacking the toolchain into $sysroot"
  rm -rf "$sysroot"
  mkdir -p "$parent"
  tar -xJf "$tarball" -C "$parent"
  echo "$wanted" >"$stamp"
fi

step "building for Windows in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$sysroot/toolchain.cmake" \
  -DCJPEG_EXECUTABLE="Z:$sysroot/bin/cjpeg.exe" >/dev/null
for target in all windows-zip windows-installer; do
  if ! cmake --build "$build" -j2 --target "$target" >"$build/build.log" 2>&1; then
    cat "$build/build.log"
    exit 1
  fi
done
grep -F 'DLLs beside' "$build/build.log"
# The install rules give the installed programs the same DLLs and plugins.
rm -rf "$build/installed"
cmake --install "$build" --prefix "$build/installed" >"$build/install.log" || { cat "$build/install.log"; exit 1; }
for file in bin/bmp2jpg.exe bin/bmp2jpg-batch.exe bin/Qt6Widgets.dll bin/platforms/qwindows.dll bin/sqldrivers/qsqlodbc.dll \
            share/bmp2jpg/bmp2jpg.svg; do
  [[ -f $build/installed/$file ]] || { echo "test-windows: cmake --install left out $file"; exit 1; }
done

# A Wine prefix of the build's own; its processes end with the script.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[[ -d $WINEPREFIX/drive_c ]] || wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
# Under Wine the host's ODBC drivers see Windows paths such as C:/users/...:
# in each test's working folder, "C:" leads to the prefix's drive.
find "$build" -path "$WINEPREFIX" -prune -o -name '*.exe' -printf '%h\n' | sort -u |
  while read -r folder; do ln -sfn "$WINEPREFIX/drive_c" "$folder/C:"; done

step "running the tests under Wine"
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2)
echo "test-windows: skipped on Windows, with their reasons:"
grep -h '^SKIP' "$build/Testing/Temporary/LastTest.log" | sed 's/^SKIP *: /  /'

step "bmp2jpg-batch.exe from the zip against the Linux build"
if [[ ! -x $linux_build/batch/bmp2jpg-batch || ! -x $linux_build/testdata/bmp2jpg-make-demo ||
      ! -x $linux_build/testdata/bmp2jpg-make-seeds ]]; then
  cmake -S "$root" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$linux_build" -j2 --target bmp2jpg-batch bmp2jpg-make-demo bmp2jpg-make-seeds >/dev/null
fi
work=$build/end-to-end
rm -rf "$work"
mkdir -p "$work/linux" "$work/图片 库"
(cd "$work" && cmake -E tar xf "$build/bmp2jpg-win64.zip")
# The demo table, and a table of every kind of bitmap the reader knows (the
# fuzzing seeds: palettes, bit fields, RLE, OS/2, top-down, cut short...).
"$linux_build/testdata/bmp2jpg-make-demo" "$work/original" >/dev/null
"$linux_build/testdata/bmp2jpg-make-seeds" "$work/seeds" >/dev/null
sqlite3 "$work/original/variants.db" "$(sqlite3 "$work/original/demo.db" '.schema BAC1')"
for seed in "$work/seeds"/*; do
  sqlite3 "$work/original/variants.db" \
    "insert into BAC1 values ('$(basename "$seed")', readfile('$seed'), readfile('$work/seeds/bgr24.bmp'))"
done
cp -r "$work/original" "$work/linux/server"
cp -r "$work/original" "$work/图片 库/server"
# A drive letter, backslashes, a space and Chinese in the paths; the DLLs and
# plugins only from the zip (no WINEPATH).
windows_path() { echo "Z:$(tr / '\\' <<<"$1")"; }
windows_batch() {
  BMP2JPG_PASSWORD='' wine "$work/bmp2jpg-win64/bmp2jpg-batch.exe" "$@" </dev/null 2>"$work/windows.err" ||
    { cat "$work/windows.err"; exit 1; }
}
values() {
  sqlite3 "$1" "select rowid, quote(BCE01), coalesce(hex(sha3(BAC02)), 'NULL'), coalesce(hex(sha3(BAC04)), 'NULL') from BAC1 order by rowid"
}
summary() { grep -v '^Time:' "$1"; }
# The report's lines in any order: a converted value's line follows its
# commit, the others come at once, so the order differs between any two runs.
same_report() {
  diff <(sort "$2") <(sort "$3") >"$work/report.diff" ||
    { echo "test-windows: the report of $1 differs between the Linux and the Windows run:"; cat "$work/report.diff"; exit 1; }
}
rows=0
for database in demo variants; do
  BMP2JPG_PASSWORD='' "$linux_build/batch/bmp2jpg-batch" --server "$work/linux/server" --user sa --database $database \
    --backup "$work/linux/backup-$database" --report "$work/linux/$database.csv" >"$work/linux/$database.out" 2>/dev/null
  windows_batch --server "$(windows_path "$work/图片 库/server")" --user sa --database $database \
    --backup "$(windows_path "$work/图片 库/backup-$database")" --report "$(windows_path "$work/图片 库/$database.csv")" \
    >"$work/图片 库/$database.out"
  if ! diff <(values "$work/linux/server/$database.db") <(values "$work/图片 库/server/$database.db") >"$work/values.diff"; then
    echo "test-windows: the Windows build wrote other bytes than the Linux build in $database (rowid, BCE01, SHA3 of BAC02, BAC04):"
    cat "$work/values.diff"
    exit 1
  fi
  # The same summary, in Windows' line ends; only the time taken may differ.
  if ! diff <(summary "$work/linux/$database.out") <(summary "$work/图片 库/$database.out" | tr -d '\r') ||
    [[ $(grep -c $'\r$' "$work/图片 库/$database.out") != $(wc -l <"$work/图片 库/$database.out") ]]; then
    echo "test-windows: the Windows summary of $database differs from the Linux one or has other line ends"
    exit 1
  fi
  # Report lines, backup manifest and kept originals: the same bytes and names.
  same_report $database "$work/linux/$database.csv" "$work/图片 库/$database.csv"
  diff -r "$work/linux/backup-$database" "$work/图片 库/backup-$database" ||
    { echo "test-windows: the backups of $database differ"; exit 1; }
  rows=$((rows + $(sqlite3 "$work/original/$database.db" "select count(*) from BAC1")))
done
# The originals put back by the Windows build are the table as it was.
windows_batch --server "$(windows_path "$work/图片 库/server")" --user sa --database variants \
  --restore "$(windows_path "$work/图片 库/backup-variants")" >/dev/null
diff <(values "$work/original/variants.db") <(values "$work/图片 库/server/variants.db") ||
  { echo "test-windows: --restore on Windows did not give back the table as it was"; exit 1; }
# The installed copy runs from its own folder, and knows its version.
installed=$build/installed/bin
installed_version=$(wine "$installed/bmp2jpg-batch.exe" --version </dev/null | tr -d '\r')
[[ $installed_version == "$("$linux_build/batch/bmp2jpg-batch" --version)" ]] ||
  { echo "test-windows: the installed bmp2jpg-batch.exe says \"$installed_version\" to --version"; exit 1; }
# The desktop tool's run (job_child is it without windows), installed: its
# scratch folders in the user's cache, none beside the executable.
cp "$build/tests/job/job_child.exe" "$installed/"
cp -r "$work/original" "$work/installed-server"
cache=$(wine cmd /c echo %LOCALAPPDATA% </dev/null | tr -d '\r')
cache=$(winepath -u "$cache")/cache/bmp2jpg
rm -rf "$cache"
wine "$installed/job_child.exe" "$(windows_path "$work/installed-server")" demo </dev/null ||
  { echo "test-windows: the installed desktop run failed"; exit 1; }
for folder in BAC02/bmp BAC02/jpg BAC04/bmp BAC04/jpg; do
  [[ -d $cache/$folder && -z $(ls -A "$cache/$folder") ]] ||
    { echo "test-windows: no empty scratch folder $folder in $cache"; exit 1; }
done
[[ ! -e $installed/BAC02 && ! -e $installed/BAC04 ]] ||
  { echo "test-windows: scratch folders beside the installed bmp2jpg"; exit 1; }
# The desktop tool asks Windows for the invoking user's rights and the version 6 common controls.
grep -aq 'requestedExecutionLevel level="asInvoker"' "$work/bmp2jpg-win64/bmp2jpg.exe" ||
  { echo "test-windows: bmp2jpg.exe carries no manifest"; exit 1; }
echo "test-windows: bmp2jpg-batch.exe wrote the same values, report and backup as the Linux build in all $rows rows" \
  "of the demo and variants tables, and its --restore gave the table back"

step "the setup program under Wine"
"$root/tools/test-windows-setup.sh" "$(echo "$build"/bmp2jpg-*-win64-setup.exe)" "$build/installer/stage" \
  "$work/original" "$work/linux/server/demo.db" "$installed_version"

step "screenshots with Qt's windows platform plugin under Xvfb"
# Wine's desktop process started by the offscreen runs has no display: a new
# one is started inside Xvfb, or every window fails to be created.
wineserver -k 2>/dev/null || true
wineserver -w
screenshots=$build/screenshots
rm -rf "$screenshots"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -e
  build=$0 sysroot=$1
  for test in "login/tst_login layoutMatchesTheForm" "main/tst_main listsEveryDatabaseWithNothingPicked" \
              "app/tst_startup loginOpensTheMainWindowWithTheDatabaseList"; do
    set -- $test
    (cd "$build/tests/${1%/*}" && QT_QPA_PLATFORM=windows "$sysroot/wine-run.sh" "./${1#*/}.exe" "$2")
  done
  wineserver -k' "$build" "$sysroot" >"$build/screenshots.log" 2>&1 || {
  cat "$build/screenshots.log"
  exit 1
}
mkdir -p "$linux_build/screenshots"
for picture in "$screenshots"/*.png; do
  cp "$picture" "$linux_build/screenshots/windows-$(basename "$picture")"
done
step "done; screenshots in $linux_build/screenshots/windows-*.png"
}

main "$@"
