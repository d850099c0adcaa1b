#!/usr/bin/env bash
# The zip for Windows servers, as `cpack -G ZIP` makes it from a windows build: one folder
# loomreg-VERSION-win64/ holding exactly the files of the expected list, programs that need no DLL
# beyond the system's, pkg-config and CMake files that name neither the build nor the source tree,
# man pages as plain text with CR LF line ends, and libraries that a MinGW-w64 program links
# through the package configuration and through pkg-config, from C alone. When loomreg.exe is
# built, the unpacked one saves into a store, which that program then reads, under Wine.
#   windows_zip_test.sh WINDOWS-BUILDDIR VERSION EXPECTED-LIST CPACK OBJDUMP CMAKE TOOLCHAIN CC
set -euo pipefail
export LC_ALL=C
build=$(realpath -- "$1") version=$2 manifest=$3 cpack=$4 objdump=$5 cmake=$6 toolchain=$7 cc=$8
source=$(realpath -- "$(dirname -- "${BASH_SOURCE[0]}")/..")
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

top=loomreg-$version-win64
(cd -- "$build" && "$cpack" -G ZIP -B "$work/out" >"$work/cpack.log" 2>&1) ||
  fail "cpack -G ZIP failed:"$'\n'"$(cat "$work/cpack.log")"
zip=$work/out/$top.zip
[ -f "$zip" ] || fail "cpack made no $top.zip: $(ls "$work/out")"

# The listing: every entry below the one folder, and its files exactly the expected ones.
listing=$(cmake -E tar tf "$zip") || fail "cannot list $zip"
outside=$(grep -v "^$top/" <<<"$listing" || true)
[ -z "$outside" ] || fail "entries outside $top/:"$'\n'"$outside"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
root=$work/unpacked/$top
got=$(cd -- "$root" && find . -type f | sed 's|^\./||' | sort)
expected=$(sort -- "$manifest")
[ "$got" = "$expected" ] ||
  fail "the zip's files differ from $manifest (< expected, > in the zip):"$'\n'"$(diff <(echo "$expected") <(echo "$got"))"

# The programs carry their C and C++ runtimes: they import only DLLs every Windows has.
system_dlls='^(kernel32|msvcrt|advapi32|user32|ws2_32|shell32|ntdll|bcrypt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
for exe in "$root"/bin/*.exe; do
  [ -e "$exe" ] || continue
  imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$imports" ] || fail "no imports read from ${exe#"$root/"}"
  foreign=$(grep -vE "$system_dlls" <<<"$imports" || true)
  [ -z "$foreign" ] || fail "${exe#"$root/"} needs DLLs the zip does not carry: $foreign"
done

# Relocatable: nothing names where it was built.
! grep -rlF -e "$build" -e "$source" "$root" --include='*.cmake' --include='*.pc' ||
  fail "a CMake or pkg-config file names the build or source tree"
for pc in "$root"/lib/pkgconfig/*.pc; do
  grep -qxF 'prefix=${pcfiledir}/../..' "$pc" || fail "${pc#"$root/"} does not name its prefix by its own place"
done
# The headers are the sources'.
for header in formdata/formdata.h siteconfig/siteconfig.h store/loomreg_store.h; do
  installed=$root/include/loomreg/${header#*/}
  [ ! -e "$installed" ] || cmp -s "$source/src/$header" "$installed" ||
    fail "the zip's ${header#*/} differs from the source"
done

# The man pages as text: every line ends in CR LF, no overstriking or escapes, the page's name
# in its header and its version in its footer.
for page in "$root"/share/doc/loomreg/*.txt; do
  [ -e "$page" ] || continue
  name=$(basename -- "$page" .txt)
  [ "$(grep -c $'\r$' "$page")" = "$(wc -l <"$page")" ] || fail "$name.txt has lines without CR LF"
  ! grep -q $'[\b\033]' "$page" || fail "$name.txt holds backspaces or escape sequences"
  head -n 1 "$page" | grep -q "^${name^^}(1)" || fail "$name.txt does not begin with its page header"
  grep -q "^loomreg $version" "$page" || fail "$name.txt does not name version $version"
  grep -q '^NAME' "$page" || fail "$name.txt has no NAME section"
done

# Everything from here runs from a folder whose path holds a space, as under C:\Program Files.
mv -- "$work/unpacked" "$work/un packed"
root="$work/un packed/$top"
wine_run() {
  "$source/scripts/wine-run" "$build/wineprefix" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# A program of the web application's own, in C alone, finds the package and links the libraries
# with the C++ runtime that the package configuration adds; and builds without CMake, with the
# flags of the zip's pkg-config files.
consumer=$work/consumer
"$cmake" -S "$source/tests/install_consumer" -B "$consumer" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -Dloomreg_DIR="$root/lib/cmake/loomreg" \
  -DLOOMREG_EXPECTED_VERSION="$version" -DCONSUMER_CXX=OFF >"$work/log" 2>&1 ||
  fail "configuring a consumer of the zip:"$'\n'"$(cat "$work/log")"
"$cmake" --build "$consumer" --target consumer_c >"$work/log" 2>&1 ||
  fail "building consumer_c against the zip:"$'\n'"$(cat "$work/log")"
flags=$(PKG_CONFIG_LIBDIR=$root/lib/pkgconfig pkg-config --cflags --libs loomreg-formdata \
  loomreg-siteconfig) || fail "pkg-config on the zip's files failed"
# The flags are words; pkg-config writes the space in the prefix as "\ ", which eval reads back.
eval "set -- $flags"
"$cc" -std=c99 -Wall -Wextra -Wstrict-prototypes -pedantic -Werror -static \
  -o "$work/consumer_pc.exe" "$source/tests/install_consumer/consumer.c" "$@" >"$work/log" 2>&1 ||
  fail "cc consumer.c with the zip's pkg-config flags:"$'\n'"$(cat "$work/log")"
mkdir -p "$work/site/apps/kvr"
printf 'KVR=/apps/kvr/\r\nKVRDATA=/store/\r\nMENUDIR=/menu/\r\n' >"$work/site/apps/kvr/KVR_PATH.inf"
for program in "$consumer/consumer_c.exe" "$work/consumer_pc.exe"; do
  out=$(cd "$work/site/apps/kvr" && wine_run "$program") || fail "${program##*/} failed: $out"
  [ "$out" = "style: Twill, plain
query: ?machine=Loom%2001&style=Twill%2c%20plain&beam=BEAM%207
data root: ../../store/
machine list: ../../store/MachineList/MachineList" ] || fail "${program##*/} printed: $out"
done

if [ -e "$root/bin/loomreg.exe" ]; then
  out=$(wine_run "$root/bin/loomreg.exe" --version) ||
    fail "loomreg.exe --version from the unpacked zip failed: $out"
  [ "$out" = "loomreg $version" ] || fail "loomreg.exe --version says: $out"
  # It saves into a store (its directories those that --paths lists), which the store's read
  # interface, linked from the zip, then reads.
  paths=$(cd "$work/site/apps/kvr" && wine_run "$root/bin/loomreg.exe" --paths) ||
    fail "loomreg.exe --paths: $paths"
  while IFS='=' read -r name path; do
    case $name in
      HtmlFileListFile) ;;
      MachineListFile) mkdir -p -- "$work/site/apps/kvr/$(dirname -- "$path")" ;;
      *) mkdir -p -- "$work/site/apps/kvr/$path" ;;
    esac
  done <<<"$paths"
  store=$work/site/store
  [ -d "$store/SetValueFile" ] || fail "loomreg.exe --paths gave no store below $work/site: $paths"
  : >"$store/SetValueFile/FileList"
  printf 'twill' >"$store/SetValueFile/FileData"
  (cd "$work/site/apps/kvr" && wine_run "$root/bin/loomreg.exe" filename_arg=TW-0001 \
    style_arg=Twill beam_arg=BEAM-7 koment_arg=first machine_arg=Loom01 top_beam_arg=TOP-3) ||
    [ $? -eq 1 ] || fail "the save with the unpacked loomreg.exe did not run"
  [ "$(cat "$work/site/apps/kvr/TimeExec.dat")" = $'0\r' ] ||
    fail "the save with the unpacked loomreg.exe failed: $(cat -A "$work/site/apps/kvr/TimeExec.dat")"
  "$cmake" --build "$consumer" --target store_consumer >"$work/log" 2>&1 ||
    fail "building store_consumer against the zip:"$'\n'"$(cat "$work/log")"
  out=$(cd "$work/site/apps/kvr" && wine_run "$consumer/store_consumer.exe") ||
    fail "store_consumer failed: $out"
  [ "$out" = "data root: ../../store/
machines: Loom01
styles: Twill
files of Loom01: TW-0001
files of Twill: TW-0001
history: TW-0001,Twill,BEAM-7,first,Loom01
stamped: yes
stored: twill
a link: 0" ] || fail "store_consumer printed: $out"
fi
echo "windows zip: ok ($(wc -l <<<"$expected") files)"
