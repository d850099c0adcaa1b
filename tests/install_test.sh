#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: exactly the expected files, relocatable, the
# programs runnable from there, the package config usable by another CMake project that links
# the libraries from C and from C++, and the pkg-config files by a C program built without CMake.
#   install_test.sh BUILDDIR SOURCEDIR VERSION MANIFEST CMAKE GENERATOR CC CXX
set -euo pipefail
export LC_ALL=C
build=$1 source=$2 version=$3 manifest=$4 cmake=$5 generator=$6 cc=$7 cxx=$8
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# Every file and symbolic link below a directory, relative to it, sorted.
files_below() { (cd -- "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort); }

expected=$(sort "$manifest")

# Into a prefix: the expected files and no others.
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install failed"
got=$(files_below "$work/prefix")
[ "$got" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$got"))"

bindir=$(grep -m1 '/loomreg$' "$manifest" | sed 's|/loomreg$||')
for program in loomreg loomreg-check loomreg-mkstore loomreg-save; do
  [ -x "$work/prefix/$bindir/$program" ] || fail "$program is not executable"
done
while read -r file; do
  case $file in "$bindir"/*) ;; *) [ ! -x "$work/prefix/$file" ] || fail "$file is executable" ;; esac
done <"$manifest"
for header in formdata/formdata.h siteconfig/siteconfig.h store/loomreg_store.h; do
  cmp -s "$source/src/$header" "$work/prefix/$(grep -m1 "/${header#*/}\$" "$manifest")" ||
    fail "installed ${header#*/} differs from the source"
done
grep -qxF "#define LOOMREG_VERSION \"$version\"" \
  "$work/prefix/$(grep -m1 '/loomreg_version.h$' "$manifest")" ||
  fail "the installed loomreg_version.h does not give version $version"
! grep -rqF -e "$build" -e "$source" "$work/prefix" --include='*.cmake' --include='*.pc' ||
  fail "the package config or a pkg-config file names the build or source tree"

# The pkg-config files name the prefix they were installed to, and only they are searched.
export PKG_CONFIG_LIBDIR=$work/prefix/$(dirname "$(grep -m1 '/loomreg-formdata.pc$' "$manifest")")
for library in formdata siteconfig store; do
  [ "$(pkg-config --modversion "loomreg-$library")" = "$version" ] ||
    fail "pkg-config gives loomreg-$library the version $(pkg-config --modversion "loomreg-$library")"
  [ "$(pkg-config --variable=prefix "loomreg-$library")" = "$work/prefix" ] ||
    fail "loomreg-$library.pc names the prefix $(pkg-config --variable=prefix "loomreg-$library")"
done

# With DESTDIR, below it and the prefix: the same files.
DESTDIR=$work/stage "$cmake" --install "$build" --prefix /opt/loomreg >/dev/null ||
  fail "cmake --install with DESTDIR failed"
[ "$(files_below "$work/stage/opt/loomreg")" = "$expected" ] || fail "DESTDIR install differs"
[ "$(cd "$work/stage" && ls)" = opt ] || fail "DESTDIR install wrote outside the prefix"

# Moved elsewhere, the tree still works: nothing in it depends on where it was installed but
# the pkg-config files' prefix, which pkg-config's --define-variable sets anew.
mv "$work/prefix" "$work/moved"
prefix=$work/moved
PKG_CONFIG_LIBDIR=$prefix/${PKG_CONFIG_LIBDIR#"$work/prefix/"}
[ "$("$prefix/$bindir/loomreg" --version)" = "loomreg $version" ] || fail "loomreg --version"
[ "$("$prefix/$bindir/loomreg-check" --version)" = "loomreg-check $version" ] ||
  fail "loomreg-check --version"

# The stand-ins find the installed loomreg beside them, with nothing of it on PATH.
mkdir -p "$work/site/kvr"
printf 'twill' >"$work/twill.set"
PATH=/usr/bin:/bin "$prefix/$bindir/loomreg-mkstore" "$work/site/kvr" >/dev/null ||
  fail "installed loomreg-mkstore"
out=$(cd "$work" && PATH=/usr/bin:/bin "$prefix/$bindir/loomreg-save" -C site/kvr twill.set \
  TW-0001 Twill BEAM-7 'first trial' Loom01 TOP-3) || fail "installed loomreg-save: $out"
[ "$out" = "stored $work/twill.set as ../kvrdata/SetValueFile/Twill/TW-0001" ] ||
  fail "installed loomreg-save said: $out"
[ "$(cat "$work/site/kvrdata/SetValueFile/Twill/TW-0001")" = twill ] || fail "upload not stored"
(cd "$work/site/kvr" && "$prefix/$bindir/loomreg-check" >/dev/null) || fail "loomreg-check"
# A link planted among the stored files, for the store's reader to refuse.
ln -s ../../../twill.set "$work/site/kvrdata/SetValueFile/Twill/link"
store_consumer_output="data root: ../kvrdata/
machines: Loom01
styles: Twill
files of Loom01: TW-0001
files of Twill: TW-0001
history: TW-0001,Twill,BEAM-7,first trial,Loom01
stamped: yes
stored: twill
a link: 1"

# A project of its own finds the package and links the libraries, from C and C++ together and
# from C alone; and the C program builds without CMake, with the flags pkg-config gives.
mkdir -p "$work/app"
printf 'KVR=/apps/kvr/\r\nKVRDATA=/store/\r\nMENUDIR=/menu/\r\n' >"$work/app/KVR_PATH.inf"
printf '/vell/x/\n' >"$work/app/vellinfo.txt"
consumer_c_output="style: Twill, plain
query: ?machine=Loom%2001&style=Twill%2c%20plain&beam=BEAM%207
data root: ../../store/
machine list: ../../store/MachineList/MachineList"
flags=$(pkg-config --define-variable=prefix="$prefix" --cflags --libs loomreg-formdata loomreg-siteconfig) ||
  fail "pkg-config --cflags --libs failed"
# shellcheck disable=SC2086 # the flags are words
"$cc" -std=c99 -Wall -Wextra -Wstrict-prototypes -pedantic -Werror -o "$work/consumer_pc" \
  "$source/tests/install_consumer/consumer.c" $flags >"$work/log" 2>&1 ||
  fail "cc consumer.c $flags:"$'\n'"$(cat "$work/log")"
out=$(cd "$work/app" && "$work/consumer_pc") || fail "the consumer built with pkg-config failed"
[ "$out" = "$consumer_c_output" ] || fail "the consumer built with pkg-config printed: $out"
flags=$(pkg-config --define-variable=prefix="$prefix" --cflags --libs loomreg-store) ||
  fail "pkg-config --cflags --libs loomreg-store failed"
# shellcheck disable=SC2086 # the flags are words
"$cc" -std=c99 -D_POSIX_C_SOURCE=200809L -Wall -Wextra -Wstrict-prototypes -pedantic -Werror \
  -o "$work/store_consumer_pc" "$source/tests/install_consumer/store_consumer.c" $flags \
  >"$work/log" 2>&1 || fail "cc store_consumer.c $flags:"$'\n'"$(cat "$work/log")"
out=$(cd "$work/site/kvr" && "$work/store_consumer_pc") || fail "store_consumer built with pkg-config failed"
[ "$out" = "$store_consumer_output" ] || fail "store_consumer built with pkg-config printed: $out"
for languages in cxx c; do
  consumer=$work/consumer-$languages
  with_cxx=ON
  [ "$languages" = cxx ] || with_cxx=OFF
  "$cmake" -S "$source/tests/install_consumer" -B "$consumer" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
    -DLOOMREG_EXPECTED_VERSION="$version" -DCONSUMER_CXX=$with_cxx >"$work/log" 2>&1 ||
    fail "configuring the consumer ($languages):"$'\n'"$(cat "$work/log")"
  "$cmake" --build "$consumer" >"$work/log" 2>&1 ||
    fail "building the consumer ($languages):"$'\n'"$(cat "$work/log")"
  out=$(cd "$work/app" && "$consumer/consumer_c") || fail "consumer_c ($languages) failed"
  [ "$out" = "$consumer_c_output" ] || fail "consumer_c ($languages) printed: $out"
  out=$(cd "$work/site/kvr" && "$consumer/store_consumer") || fail "store_consumer ($languages) failed"
  [ "$out" = "$store_consumer_output" ] || fail "store_consumer ($languages) printed: $out"
done
[ ! -e "$work/consumer-c/consumer_cxx" ] || fail "the C-only consumer built C++"
out=$(cd "$work/app" && "$work/consumer-cxx/consumer_cxx") || fail "consumer_cxx failed"
[ "$out" = "encoded: Twill%2c%20plain
menu page: /menu/StyleManger.htm
vell path: /vell/x/
valid name: 1" ] || fail "consumer_cxx printed: $out"

# A version the package does not have is refused.
if "$cmake" -S "$source/tests/install_consumer" -B "$work/consumer-old" -G "$generator" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DLOOMREG_EXPECTED_VERSION=0.1 >/dev/null 2>&1; then
  fail "find_package accepted version 0.1"
fi
echo "install: ok"
