#!/usr/bin/env bash
# The stand-in scripts end to end: create a store for a configured application directory,
# save twice through the web application's stand-in, and check what landed where.
set -euo pipefail
export LC_ALL=C  # the system's error texts in English
bindir=$1
work=$(realpath -- "$(mktemp -d)")
trap 'rm -rf -- "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/site/apps/kvr"
printf 'KVR=/apps/kvr/\r\nKVRDATA=/store/\r\n' >"$work/site/apps/kvr/KVR_PATH.inf"
"$bindir/loomreg-mkstore" "$work/site/apps/kvr" >/dev/null
for dir in StyleFile SetValueFileList MachineF MachineList SetValueFile StyleList Dobby \
  DobbyList DobbyFile Machine; do
  [ -d "$work/site/store/$dir" ] || fail "mkstore did not create $dir"
done
for list in SetValueFile/FileList MachineList/MachineList StyleList/KindList; do
  [ -f "$work/site/store/$list" ] && [ ! -s "$work/site/store/$list" ] ||
    fail "mkstore did not create an empty $list"
done

printf 'v1' >"$work/settings"
out=$("$bindir/loomreg-save" -C "$work/site/apps/kvr" "$work/settings" F1 S1 B1 'C 1' M1 T1) ||
  fail "first save: $out"
[ "$out" = "stored $work/settings as ../../store/SetValueFile/S1/F1" ] || fail "unexpected report: $out"
[ "$(cat "$work/site/store/SetValueFile/S1/F1")" = v1 ] || fail "upload not stored"
[ "$(cat "$work/site/store/SetValueFileList/SetValueList")" = $'F1,S1,B1,C 1,M1\r' ] ||
  fail "history line"

# A refused request: the script reports it and fails.
if "$bindir/loomreg-save" -C "$work/site/apps/kvr" "$work/settings" 'a/b' S1 B1 C1 M1 T1 \
  >/dev/null 2>&1; then
  fail "a file name with '/' was accepted"
fi
# A name already stored: the upload is kept, and the script says where and fails.
printf 'v2' >"$work/settings2"
if err=$("$bindir/loomreg-save" -C "$work/site/apps/kvr" "$work/settings2" F1 S1 B1 C1 M1 T1 \
  2>&1 >/dev/null); then
  fail "a save of a stored name succeeded"
fi
kept=$(cd "$work/site/store/SetValueFile" && echo upload.*)
[ -f "$work/site/store/SetValueFile/$kept" ] && [ "$(cat "$work/site/store/SetValueFile/$kept")" = v2 ] ||
  fail "the upload of a stored name was not kept: $kept"
[ "${err##*$'\n'}" = "loomreg-save: not stored: F1 is already stored under S1, as ../../store/SetValueFile/S1/F1; the upload stays as ../../store/SetValueFile/$kept" ] ||
  fail "message for a stored name: $err"
[ "$(cat "$work/site/store/SetValueFile/S1/F1")" = v1 ] || fail "the stored file changed"
rm -- "$work/site/store/SetValueFile/$kept"
# Running mkstore again keeps what is there.
"$bindir/loomreg-mkstore" "$work/site/apps/kvr" >/dev/null
[ "$(tr -d '\r' <"$work/site/store/SetValueFile/FileList")" = F1 ] || fail "FileList changed"

# Failures say what could not be done, with the system's error text, in the usual shape.
: >"$work/plain-file"
expect_failure() {
  local want=$1 err
  shift
  if err=$("$@" 2>&1 >/dev/null); then fail "succeeded: $*"; fi
  [ "${err%%$'\n'*}" = "$want" ] || fail "message of $*: $err"
}
expect_failure "loomreg-mkstore: cannot create $work/plain-file/app: Not a directory" \
  "$bindir/loomreg-mkstore" "$work/plain-file/app"
expect_failure "loomreg-save: cannot enter $work/nowhere: No such file or directory" \
  "$bindir/loomreg-save" -C "$work/nowhere" "$work/settings" F2 S1 B1 C1 M1 T1
# A missing settings file and a missing store are told apart; the store's absolute data root
# and where it came from are named.
expect_failure "loomreg-save: no settings file $work/missing" \
  "$bindir/loomreg-save" -C "$work/site/apps/kvr" "$work/missing" F2 S1 B1 C1 M1 T1
mkdir "$work/site/apps/other"
expect_failure "loomreg-save: no data store: cannot find directory ../kvrdata/SetValueFile/; the data root is $work/site/apps/kvrdata/, the default, as $work/site/apps/other has no KVR_PATH.inf: run in the application directory, or create the store with loomreg-mkstore $work/site/apps/other" \
  "$bindir/loomreg-save" -C "$work/site/apps/other" "$work/settings" F2 S1 B1 C1 M1 T1
err=$("$bindir/loomreg-mkstore" "$work/site/apps/other" 2>&1 >/dev/null)
[ "$err" = "loomreg-mkstore: $work/site/apps/other has no KVR_PATH.inf: using the defaults KVR=/kvr/ and KVRDATA=/kvrdata/" ] ||
  fail "mkstore without KVR_PATH.inf: $err"
out=$("$bindir/loomreg-mkstore" "$work/site/apps/kvr")
[ "$out" = "data store ready for $work/site/apps/kvr: the data root is $work/site/store/, from $work/site/apps/kvr/KVR_PATH.inf" ] ||
  fail "mkstore report: $out"
# Each save has an upload of its own, and one that was filed or refused leaves nothing behind.
[ "$(cd "$work/site/store/SetValueFile" && ls -A)" = $'FileList\nS1' ] ||
  fail "uploads left behind: $(ls -A "$work/site/store/SetValueFile")"
[ -f "$work/site/store/SetValueFileList/.lock" ] || fail "mkstore did not create the lock file"
expect_failure "loomreg-save: expected SETTINGS and six values, got 2 arguments" \
  "$bindir/loomreg-save" "$work/settings" F2
expect_failure "loomreg-mkstore: unknown option -x" "$bindir/loomreg-mkstore" -x

# Without loomreg beside them, the scripts take the one on PATH, as when installed apart.
mkdir "$work/bin"
cp "$bindir/loomreg-mkstore" "$bindir/loomreg-save" "$work/bin/"
expect_failure "loomreg-save: loomreg not found beside loomreg-save or on PATH" \
  env PATH=/usr/bin:/bin "$work/bin/loomreg-save" -C "$work/site/apps/kvr" "$work/settings" \
  F2 S1 B1 C1 M1 T1
rm -rf -- "$work/site/store"
PATH=$bindir:/usr/bin:/bin "$work/bin/loomreg-mkstore" "$work/site/apps/kvr" >/dev/null ||
  fail "mkstore with loomreg on PATH"
out=$(PATH=$bindir:/usr/bin:/bin "$work/bin/loomreg-save" -C "$work/site/apps/kvr" \
  "$work/settings" F2 S2 B2 C2 M2 T2) || fail "save with loomreg on PATH: $out"
[ "$(cat "$work/site/store/SetValueFile/S2/F2")" = v1 ] || fail "upload not stored via PATH"
echo "stand-in scripts: ok"
