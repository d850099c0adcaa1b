#!/usr/bin/env bash
# The stand-in scripts end to end: create a store for a configured application directory,
# save twice through the web application's stand-in, and check what landed where.
set -euo pipefail
bindir=$1
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/site/apps/kvr"
printf 'KVR=/apps/kvr/\r\nKVRDATA=/store/\r\n' >"$work/site/apps/kvr/KVR_PATH.inf"
"$bindir/loomreg-mkstore" "$work/site/apps/kvr" >/dev/null
for dir in StyleFile SetValueFileList MachineF MachineList SetValueFile StyleList Dobby \
  DobbyList DobbyFile Machine; do
  [ -d "$work/site/store/$dir" ] || fail "mkstore did not create $dir"
done
[ -f "$work/site/store/SetValueFile/FileList" ] && [ ! -s "$work/site/store/SetValueFile/FileList" ] ||
  fail "mkstore did not create an empty FileList"

printf 'v1' >"$work/settings"
out=$("$bindir/loomreg-save" -C "$work/site/apps/kvr" "$work/settings" F1 S1 B1 'C 1' M1 T1) ||
  fail "first save: $out"
[ "$out" = "loomreg exit status 1, run status 0" ] || fail "unexpected report: $out"
[ "$(cat "$work/site/store/SetValueFile/S1/F1")" = v1 ] || fail "upload not stored"
[ "$(cat "$work/site/store/SetValueFileList/SetValueList")" = $'F1,S1,B1,C 1,M1\r' ] ||
  fail "history line"

# A refused request: the script reports it and fails.
if "$bindir/loomreg-save" -C "$work/site/apps/kvr" "$work/settings" 'a/b' S1 B1 C1 M1 T1 \
  >/dev/null 2>&1; then
  fail "a file name with '/' was accepted"
fi
# Running mkstore again keeps what is there.
"$bindir/loomreg-mkstore" "$work/site/apps/kvr" >/dev/null
[ "$(tr -d '\r' <"$work/site/store/SetValueFile/FileList")" = F1 ] || fail "FileList changed"
echo "stand-in scripts: ok"
