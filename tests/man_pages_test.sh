#!/usr/bin/env bash
# The man pages as built: each renders without a warning, is headed with the program's name and
# version, and the command forms of its SYNOPSIS are the usage lines that the program's --help
# prints.
#   man_pages_test.sh DOCDIR BINDIR
set -euo pipefail
export LC_ALL=C
docdir=$1
bindir=$(cd -- "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# The command forms of a rendered page's SYNOPSIS, one per line, without a trailing
# "(...)" remark; the page is rendered wide enough that no form is broken across lines.
synopsis() {
  MANWIDTH=250 man -l "$1" 2>/dev/null | sed -e '1,/^SYNOPSIS$/d' -e '/^[A-Z]/,$d' |
    sed -e 's/^ *//' -e 's/ *(.*)$//' -e '/^$/d'
}

# The command forms of a --help text: its usage lines, without "usage:" and indentation.
usage_forms() {
  sed -n -e 's/^usage: *//p' -e 's/^  *\(loomreg[^ ]*\( \|$\)\)/\1/p' |
    grep -E "^$1( |\$)"
}

programs=(loomreg loomreg-check loomreg-mkstore loomreg-save)
pages=$(cd "$docdir" && printf '%s\n' *.1 | sort)
[ "$pages" = "$(printf '%s.1\n' "${programs[@]}" | sort)" ] ||
  fail "the pages are not one for each of ${programs[*]}: $pages"

version=$("$bindir/loomreg" --version | sed 's/^loomreg //')
for program in "${programs[@]}"; do
  page=$docdir/$program.1
  warnings=$(groff -mandoc -ww -z -Tutf8 "$page" 2>&1) || fail "groff failed on $page"
  [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
  man -l "$page" >"$work/page" 2>"$work/err" || fail "man -l $page failed: $(cat "$work/err")"
  [ ! -s "$work/err" ] || fail "man -l $page warns: $(cat "$work/err")"
  man --warnings -l "$page" 2>&1 >/dev/null | { ! grep .; } || fail "man --warnings -l $page warns"
  head -n1 "$work/page" | grep -qF " loomreg $version General Commands Manual " ||
    fail "$page is headed $(head -n1 "$work/page")"
  tail -n1 "$work/page" | grep -qE "^loomreg $version +" ||
    fail "$page has the footer $(tail -n1 "$work/page")"
  grep -qE "^     $program (--|—) " "$work/page" || fail "$page does not name $program in NAME"

  (cd "$work" && "$bindir/$program" --help) >"$work/help" || fail "$program --help failed"
  want=$(synopsis "$page")
  got=$(usage_forms "$program" <"$work/help")
  [ -n "$want" ] || fail "no SYNOPSIS found in $page"
  [ "$got" = "$want" ] ||
    fail "$program --help and its man page differ:"$'\n'"--help:"$'\n'"$got"$'\n'"SYNOPSIS:"$'\n'"$want"
done
echo "man pages: ok"
