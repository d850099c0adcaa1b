#!/usr/bin/env bash
# Every message the programs can print has its text in the Troubleshooting page,
# docs/troubleshooting.md, so that the page cannot fall behind the programs. The texts are
# read from the sources by troubleshooting_messages.pl; each one missing is named with the
# place that prints it.
#   troubleshooting_test.sh SOURCEDIR
set -euo pipefail
export LC_ALL=C
cd -- "$1"

fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f docs/troubleshooting.md ] || fail "docs/troubleshooting.md is missing"
section=$(cat docs/troubleshooting.md)

mapfile -t sources < <(find src -name '*.cpp' ! -name '*_test.cpp' | sort)
messages=$(perl tests/troubleshooting_messages.pl "${sources[@]}" scripts/loomreg-mkstore \
  scripts/loomreg-save)
# The reading of the sources itself must work: the programs print far more than this.
count=$(printf '%s\n' "$messages" | wc -l)
[ "$count" -ge 50 ] || fail "only $count message texts read from the sources; is the reader broken?"

missing=0
while IFS=$'\t' read -r where text; do
  if [[ $section != *"$text"* ]]; then
    echo "docs/troubleshooting.md lacks the message text \"$text\" (printed by $where)" >&2
    missing=$((missing + 1))
  fi
done <<<"$messages"
[ "$missing" -eq 0 ] || fail "$missing message texts are missing from docs/troubleshooting.md"
echo "troubleshooting: all $count message texts are in docs/troubleshooting.md"
