#!/usr/bin/env bash
# The Windows setup program under Wine, as tools/test-windows.sh calls it
# (WINEPREFIX set): installs silently per machine, checks the files, the
# Start-menu entry and the uninstall entry, runs the installed
# bmp2jpg-batch.exe --version and a conversion of the demo table, moves the
# installation into a folder that holds a file of the user's, uninstalls
# silently, then does the same per user; each uninstall must leave no file of
# ours and every file of the user's.
#
# test-windows-setup.sh SETUP STAGE DEMO CONVERTED VERSION: SETUP the setup
# program, STAGE the tree it was made from (the files it must install), DEMO
# a folder holding the demo database as made, CONVERTED that database as the
# Linux build converts it, VERSION what --version must say.
set -euo pipefail

main() {
setup=$1 stage=$2 demo=$3 converted=$4 version=$5
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\bmp2jpg'
drive_c=$WINEPREFIX/drive_c
fail() { echo "test-windows-setup: $*"; exit 1; }
unix_path() { winepath -u "$1" 2>/dev/null; }
# A value of the uninstall entry in HIVE; exported, since reg query prints
# Chinese as question marks.
registered() {
  wine reg export "$1\\$key" 'C:\entry.reg' /y </dev/null >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$drive_c/entry.reg" | tr -d '\r' | sed -n "s/^\"$2\"=\"\(.*\)\"$/\1/p" | sed 's/\\\\/\\/g; s/\\"/"/g'
  rm -f "$drive_c/entry.reg"
}
# The uninstaller copies itself elsewhere and returns at once: the run ends
# when Wine's last process does.
uninstall() { wine "$1\\uninstall.exe" /S </dev/null; wineserver -w; }
files_in() { (cd "$1" && find . -type f | sort); }

# A clean prefix: what an earlier failed run may have left.
for hive in HKLM HKCU; do wine reg delete "$hive\\$key" /f </dev/null >/dev/null 2>&1 || true; done
machine_folder=$(unix_path 'C:\Program Files')/bmp2jpg
user_programs=$(unix_path "$(wine cmd /c echo %LOCALAPPDATA% </dev/null | tr -d '\r')")/Programs
moved_to='C:\图片 工具'
rm -rf "$machine_folder" "$user_programs/bmp2jpg" "$(unix_path "$moved_to")"
expected=$( (files_in "$stage"; echo ./uninstall.exe) | sort)

# Per machine, the default for an administrator (Wine's user is one).
wine "$setup" /S </dev/null || fail "the silent install failed"
[[ $(files_in "$machine_folder") == "$expected" ]] ||
  fail "the install in Program Files does not hold exactly the installed tree: $(diff <(files_in "$machine_folder") <(echo "$expected"))"
[[ $(registered HKLM InstallLocation) == 'C:\Program Files\bmp2jpg' ]] || fail "no per-machine uninstall entry"
[[ $(registered HKLM UninstallString) == '"C:\Program Files\bmp2jpg\uninstall.exe"' ]] || fail "the uninstall entry names no uninstaller"
[[ -z $(registered HKCU InstallLocation) ]] || fail "a per-machine install wrote a per-user entry"
[[ -f "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/bmp2jpg.lnk" ]] || fail "no Start-menu entry for all users"

batch='C:\Program Files\bmp2jpg\bin\bmp2jpg-batch.exe'
said=$(wine "$batch" --version </dev/null | tr -d '\r')
[[ $said == "$version" ]] || fail "the installed bmp2jpg-batch.exe says \"$said\" to --version"
server=$drive_c/setup-test-server
rm -rf "$server"
cp -r "$demo" "$server"
BMP2JPG_PASSWORD='' wine "$batch" --server 'C:\setup-test-server' --user sa --database demo </dev/null >/dev/null 2>"$server.err" ||
  fail "the installed bmp2jpg-batch.exe could not convert the demo table: $(cat "$server.err")"
same_values="select rowid, quote(BCE01), coalesce(hex(sha3(BAC02)), 'NULL'), coalesce(hex(sha3(BAC04)), 'NULL') from BAC1 order by rowid"
diff -q <(sqlite3 "$server/demo.db" "$same_values") <(sqlite3 "$converted" "$same_values") >/dev/null ||
  fail "the installed bmp2jpg-batch.exe wrote other values than the Linux build"
rm -rf "$server" "$server.err"

# Installing again elsewhere moves the installation: into a folder, chosen
# with /D, that already holds a file of the user's, with a space and Chinese
# in its name (given unquoted, as Windows' command line passes it).
mkdir -p "$(unix_path "$moved_to")/bin"
echo "the user's" >"$(unix_path "$moved_to")/bin/notes.txt"
cp "$setup" "$drive_c/bmp2jpg-setup.exe"
wine cmd /c "C:\\bmp2jpg-setup.exe /S /D=$moved_to" </dev/null || fail "the silent install with /D failed"
rm "$drive_c/bmp2jpg-setup.exe"
[[ ! -e $machine_folder ]] || fail "installing elsewhere left the earlier installation: $(files_in "$machine_folder")"
[[ $(registered HKLM InstallLocation) == "$moved_to" ]] || fail "the uninstall entry does not name the new folder"
uninstall "$moved_to"
[[ $(files_in "$(unix_path "$moved_to")") == "./bin/notes.txt" ]] ||
  fail "uninstalling from the user's folder left or took: $(files_in "$(unix_path "$moved_to")")"
[[ -z $(registered HKLM InstallLocation) ]] || fail "the per-machine uninstall entry stayed"
[[ ! -e "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/bmp2jpg.lnk" ]] || fail "the Start-menu entry stayed"
rm -rf "$(unix_path "$moved_to")"

# Per user, as for a user who is no administrator; removed as Windows' "Apps
# & features" does, by the entry's own uninstaller.
wine "$setup" /S /CurrentUser </dev/null || fail "the silent per-user install failed"
[[ $(files_in "$user_programs/bmp2jpg") == "$expected" ]] || fail "the per-user install does not hold exactly the installed tree"
[[ -z $(registered HKLM InstallLocation) ]] || fail "a per-user install wrote a per-machine entry"
start_menu=$(unix_path "$(wine cmd /c echo %APPDATA% </dev/null | tr -d '\r')")/Microsoft/Windows/Start\ Menu/Programs
[[ -f "$start_menu/bmp2jpg.lnk" ]] || fail "no Start-menu entry for the user"
uninstaller=$(registered HKCU UninstallString)
uninstall "$(sed 's/^"\(.*\)\\uninstall.exe"$/\1/' <<<"$uninstaller")"
[[ ! -e $user_programs/bmp2jpg ]] || fail "the per-user uninstall left: $(files_in "$user_programs/bmp2jpg")"
[[ -z $(registered HKCU InstallLocation) && ! -e "$start_menu/bmp2jpg.lnk" ]] || fail "the per-user entries stayed"
echo "test-windows-setup: installed per machine, ran, moved, uninstalled and installed per user and uninstalled" \
  "$(echo "$expected" | wc -l) files, nothing of ours left and the user's file kept"
}

main "$@"
