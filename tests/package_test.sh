#!/usr/bin/env bash
# `cpack -G DEB` from the build tree: the package's fields and file list, and, unpacked with
# dpkg -x, a save against a fresh store with its programs and its man pages rendered.
#   package_test.sh BUILDDIR VERSION MANIFEST
set -euo pipefail
export LC_ALL=C
build=$1 version=$2 manifest=$3
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out") >"$work/log" 2>&1 ||
  fail "cpack failed:"$'\n'"$(cat "$work/log")"
arch=$(dpkg --print-architecture)
deb=$work/out/loomreg_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/out")"

# The fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = loomreg ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[ -n "$(field Section)" ] || fail "no Section"
# The programs carry the C++ runtime: the C library is all they need.
[[ $(field Depends) =~ ^libc6\ \(\>=\ 2\.[0-9]+\)$ ]] || fail "Depends: $(field Depends)"
description=$(field Description)
[ "$(echo "$description" | wc -l)" -ge 3 ] || fail "no long description: $description"
[ -n "$(echo "$description" | head -n1)" ] || fail "no summary line"
! echo "$description" | awk 'length > 80 { found = 1 } END { exit !found }' ||
  fail "description lines longer than 80 columns"

# The files: those of an install, below /usr, owned by root, the programs alone executable.
dpkg-deb -c "$deb" >"$work/contents"
got=$(awk '$1 !~ /^d/ { print $6 }' "$work/contents" | sed 's|^\./usr/||' | sort)
[ "$got" = "$(sort "$manifest")" ] ||
  fail "package files differ:"$'\n'"$(diff <(sort "$manifest") <(echo "$got"))"
! awk '$2 != "root/root"' "$work/contents" | grep -q . || fail "files not owned by root"
bindir=$(grep -m1 '/loomreg$' "$manifest" | sed 's|/loomreg$||')
while read -r mode _ _ _ _ path; do
  case $mode:$path in
    d*) ;;
    -rwxr-xr-x:./usr/$bindir/*) ;;
    -rw-r--r--:*) [[ $path != ./usr/$bindir/* ]] || fail "$path is not executable" ;;
    *) fail "$path has mode $mode" ;;
  esac
done <"$work/contents"

# Unpacked: the stand-ins run a save with the package's loomreg against a fresh store.
dpkg -x "$deb" "$work/root"
usr=$work/root/usr
for program in loomreg loomreg-check; do
  [ "$("$usr/$bindir/$program" --version)" = "$program $version" ] || fail "$program --version"
  file -b "$usr/$bindir/$program" | grep -q ', stripped' || fail "$program is not stripped"
done
mkdir -p "$work/site/kvr"
printf 'twill' >"$work/twill.set"
PATH=/usr/bin:/bin "$usr/$bindir/loomreg-mkstore" "$work/site/kvr" >/dev/null ||
  fail "loomreg-mkstore from the package"
out=$(PATH=/usr/bin:/bin "$usr/$bindir/loomreg-save" -C "$work/site/kvr" "$work/twill.set" \
  TW-0001 Twill BEAM-7 'first trial' Loom01 TOP-3) || fail "loomreg-save from the package: $out"
[ "$out" = "stored $work/twill.set as ../kvrdata/SetValueFile/Twill/TW-0001" ] ||
  fail "loomreg-save said: $out"
[ "$(tr -d '\r\n' <"$work/site/kvr/TimeExec.dat")" = 0 ] || fail "run status not 0"
[ "$(cat "$work/site/kvrdata/SetValueFile/Twill/TW-0001")" = twill ] || fail "upload not stored"

# The man pages render.
pages=$(grep '/man1/' "$manifest")
[ -n "$pages" ] || fail "no man pages in the manifest"
for page in $pages; do
  man -l "$usr/$page" >"$work/page" 2>"$work/err" || fail "man -l $page: $(cat "$work/err")"
  [ ! -s "$work/err" ] || fail "man -l $page warns: $(cat "$work/err")"
  grep -q '^NAME' "$work/page" || fail "$page renders no NAME section"
done
echo "package: ok"
