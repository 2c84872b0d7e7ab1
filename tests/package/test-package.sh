#!/usr/bin/env bash
# test-package.sh <build dir> <version> <job_child> <bmp2jpg-make-demo>
set -euo pipefail
build=$1 version=$2 job_child=$3 make_demo=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/bmp2jpg_"$version"_*.deb)
echo "built $(basename "$deb")"

# A Debian administrator's first check: no error, no warning. The one
# informational tag kept: CPack strips without removing the .comment section.
tags=$(lintian --info --suppress-tags binary-has-unneeded-section "$deb" 2>&1 | grep -v '^running with root privileges' || true)
[[ -z $tags ]] || fail "lintian: $tags"

# Its dependencies resolve on this system as apt would install them.
if command -v apt-get >/dev/null; then
  apt-get install -s "$deb" >/dev/null || fail "apt cannot install $deb"
fi

# Installed into a scratch root and purged, it leaves no file, and takes back
# only its own registration of FreeTDS (in a scratch odbcinst.ini).
if [[ $(id -u) == 0 ]]; then
  for registered_before in no yes; do
    inst=$work/installed admin=$work/dpkg
    export ODBCSYSINI=$work/odbc
    rm -rf "$inst" "$admin" "$ODBCSYSINI"
    mkdir -p "$inst" "$admin/updates" "$admin/info" "$ODBCSYSINI"
    touch "$admin/status" "$ODBCSYSINI/odbcinst.ini"
    [[ $registered_before == no ]] || cp /usr/share/tdsodbc/odbcinst.ini "$ODBCSYSINI/"
    dpkg=(dpkg --instdir="$inst" --admindir="$admin" --log="$work/dpkg.log" --force-script-chrootless --force-depends)
    "${dpkg[@]}" -i "$deb" >/dev/null 2>&1 || fail "dpkg -i into a scratch root"
    [[ -x $inst/usr/bin/bmp2jpg-batch ]] || fail "not installed into the scratch root"
    odbcinst -q -d -n FreeTDS >/dev/null || fail "FreeTDS not registered by the installation"
    "${dpkg[@]}" --purge bmp2jpg >/dev/null 2>&1 || fail "dpkg --purge"
    left=$(find "$inst" -mindepth 1)
    [[ -z $left ]] || fail "purge left: $left"
    if [[ $registered_before == yes ]]; then
      odbcinst -q -d -n FreeTDS >/dev/null || fail "purge took back a registration of FreeTDS it had not made"
    else
      ! grep -q FreeTDS "$ODBCSYSINI/odbcinst.ini" || fail "purge left FreeTDS registered"
    fi
    unset ODBCSYSINI
  done
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin

[[ $("$bin/bmp2jpg-batch" --version) == "bmp2jpg-batch $version" ]] || fail "bmp2jpg-batch --version"
[[ $("$bin/bmp2jpg" --version) == "bmp2jpg $version" ]] || fail "bmp2jpg --version"
help=$("$bin/bmp2jpg-batch" --help)
grep -q -- "--restore <DIR>" <<<"$help" || fail "bmp2jpg-batch --help lacks --restore"
man=$root/usr/share/man/man1
zcat "$man/bmp2jpg-batch.1.gz" | grep -qF -- "--backup <DIR>" || fail "the man page of bmp2jpg-batch is not its --help text"
zcat "$man/bmp2jpg-batch.1.gz" | grep -qF "Usage: bmp2jpg-batch" || fail "the man page of bmp2jpg-batch is not English"
zcat "$man/bmp2jpg.1.gz" | grep -q "^bmp2jpg \\\\- " || fail "no man page for bmp2jpg"
# The Chinese page is the Chinese --help, its options as they are spelled.
zh_page=$root/usr/share/man/zh_CN/man1/bmp2jpg-batch.1.gz
zcat "$zh_page" | grep -qF "用法：bmp2jpg-batch --server <name>" || fail "the Chinese man page of bmp2jpg-batch is not Chinese"
zcat "$zh_page" | grep -qF -- "--backup <DIR>" || fail "the Chinese man page of bmp2jpg-batch is not its --help text"
for page in "$man"/*.1.gz "$zh_page"; do
  [[ -z $(zcat "$page" | LC_ALL=C.UTF-8 man --warnings -l - 2>&1 >/dev/null) ]] || fail "man warns on $page"
done
# A Chinese reader's man shows the Chinese page.
[[ $(zcat "$zh_page" | LC_ALL=C.UTF-8 MANWIDTH=80 man -l - 2>/dev/null) == *"把 BAC1 表中的 BMP 图片"* ]] ||
  fail "man does not show the Chinese page's text"
# bash completes the options --help lists, and a folder after --backup.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _bmp2jpg_batch "$1" "${@: -1}" "${@: -2:1}"
           echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/bmp2jpg-batch" "$@"
}
[[ $(complete_words "$bin/bmp2jpg-batch" --ve) == "--verify-certificate --version" ]] || fail "bash completion of options"
(cd "$root/usr/share" && [[ $(complete_words "$bin/bmp2jpg-batch" --backup bash-c) == bash-completion ]]) ||
  fail "bash completion of a folder"
[[ -f $root/usr/share/applications/bmp2jpg.desktop ]] || fail "no desktop entry"
[[ -f $root/usr/share/icons/hicolor/scalable/apps/bmp2jpg.svg ]] || fail "no icon"

# The desktop tool's run (job_child is it without windows) in the installed
# layout, as an ordinary user: scratch folders in that user's cache, none
# beside the executable.
cp "$job_child" "$bin/"
"$make_demo" "$work/server" >/dev/null
home=$work/home
mkdir -p "$home"
run_as=()
if [[ $(id -u) == 0 ]]; then
  chown -R nobody "$work/server" "$home"
  run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
"${run_as[@]}" env -i HOME="$home" PATH=/usr/bin:/bin "$bin/job_child" "$work/server" demo ||
  fail "the installed run failed"
for folder in BAC02/bmp BAC02/jpg BAC04/bmp BAC04/jpg; do
  [[ -d $home/.cache/bmp2jpg/$folder ]] || fail "no scratch folder $folder in the user's cache"
  [[ -z $(ls -A "$home/.cache/bmp2jpg/$folder") ]] || fail "scratch folder $folder not left empty"
done
[[ ! -e $bin/BAC02 && ! -e $bin/BAC04 ]] || fail "scratch folders beside the installed executable"
summary=$(BMP2JPG_PASSWORD= "$bin/bmp2jpg-batch" --server "$work/server" --user sa --database demo --dry-run 2>/dev/null)
grep -q "^Would convert 0 values" <<<"$summary" || fail "the installed run left bitmaps: $summary"
echo "package test passed"
