#!/usr/bin/env bash
# The zip for Windows servers, as `cpack -G ZIP` makes it from a windows build: one folder
# loomreg-VERSION-win64/ holding exactly the files of the expected list, programs that need no DLL
# beyond the system's, pkg-config and CMake files that name neither the build nor the source tree,
# man pages as plain text with CR LF line ends, and, when loomreg.exe is built, a loomreg.exe that
# runs from the unpacked tree under Wine.
#   windows_zip_test.sh WINDOWS-BUILDDIR VERSION EXPECTED-LIST CPACK OBJDUMP
set -euo pipefail
export LC_ALL=C
build=$(realpath -- "$1") version=$2 manifest=$3 cpack=$4 objdump=$5
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

# The unpacked program runs, from a folder whose path holds a space, as under C:\Program Files.
if [ -e "$root/bin/loomreg.exe" ]; then
  mv -- "$work/unpacked" "$work/un packed"
  root="$work/un packed/$top"
  out=$("$source/scripts/wine-run" "$build/wineprefix" "$root/bin/loomreg.exe" --version) ||
    fail "loomreg.exe --version from the unpacked zip failed (exit $?): $out"
  [ "$(tr -d '\r' <<<"$out")" = "loomreg $version" ] || fail "loomreg.exe --version says: $out"
fi
echo "windows zip: ok ($(wc -l <<<"$expected") files)"
