#!/usr/bin/env bash
# loomreg-check's progress line, in real runs under a terminal (script(1) gives one): shown once
# the run has taken more than a second (here: waiting for a save's lock), never when standard
# error is not a terminal, never with --json.
#   progress_line_test.sh BINDIR
set -euo pipefail
export LC_ALL=C
bin=$(cd -- "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v script >/dev/null || fail "script(1) (util-linux) is needed"

mkdir -p "$work/site/kvr"
printf 'twill' >"$work/twill.set"
"$bin/loomreg-mkstore" "$work/site/kvr" >/dev/null 2>&1
"$bin/loomreg-save" -C "$work/site/kvr" "$work/twill.set" TW-0001 Twill BEAM-7 trial Loom01 \
  TOP-3 >/dev/null 2>&1

# check_under_terminal NAME COMMAND: runs COMMAND in the store's application directory on a
# terminal while a save's lock is held for 1.5 s; what the terminal showed goes to NAME.
check_under_terminal() {
  local name=$1 command=$2
  rm -f "$work/held"
  (cd "$work/site/kvr" && "$bin/loomreg-check" --hold sh -c ": >'$work/held'; sleep 1.5") &
  local holder=$!
  for _ in $(seq 100); do [ -e "$work/held" ] && break; sleep 0.05; done
  [ -e "$work/held" ] || fail "loomreg-check --hold did not take the lock"
  (cd "$work/site/kvr" && script -qec "$command" /dev/null) </dev/null >"$work/$name" 2>&1 ||
    fail "$command on a terminal failed: $(cat -v "$work/$name")"
  wait "$holder" || fail "loomreg-check --hold failed"
}

check_under_terminal shown "'$bin/loomreg-check'"
grep -q 'loomreg-check: reading [^ ]*: [0-9.]* of [0-9.]* [a-zA-Z]* ([0-9]*%)' "$work/shown" ||
  fail "no progress line on a terminal: $(cat -v "$work/shown")"
# Erased before the report.
grep -q $'\r\033\\[K0 problems, 0 notes' "$work/shown" ||
  fail "the report does not follow the erased line: $(cat -v "$work/shown")"

check_under_terminal redirected "'$bin/loomreg-check' 2>'$work/stderr'"
[ ! -s "$work/stderr" ] || fail "standard error, not a terminal, got: $(cat -v "$work/stderr")"
! grep -q 'reading' "$work/redirected" || fail "progress shown on standard output"
grep -q '^0 problems, 0 notes' "$work/redirected" || fail "no report: $(cat -v "$work/redirected")"

check_under_terminal json "'$bin/loomreg-check' --json"
! grep -q $'reading\\|\033' "$work/json" || fail "progress shown with --json: $(cat -v "$work/json")"
grep -q '"exit_status"' "$work/json" || fail "no JSON report: $(cat -v "$work/json")"
echo "progress line: ok"
