#!/usr/bin/env bash
# The Windows build saves exactly as the Linux build does. Two identical fresh stores get the
# same requests, one from the Linux build's loomreg and one from loomreg.exe under Wine, started
# through win_launch.exe the way the web application's CGI program starts it on Windows
# (CreateProcess with the program as the application name and a command line whose first token
# is the file-name word). After each request every file below the two data roots, each
# application directory's TimeExec.dat, the exit status and standard output must be the same
# bytes, and so must the messages, but for those that carry the system's error texts and
# absolute paths, which differ (there only as many lines). Fails, never skips, when Wine cannot
# start or a Windows program is missing.
#   windows_saves_test.sh LINUX-BUILDDIR WINDOWS-BUILDDIR
#
# The values stay ASCII: Wine converts arguments with bytes from 0x80 lossily between the Linux
# locale and the ANSI code page (docs/windows.md, "What is tested where").
set -euo pipefail
export LC_ALL=C
# A zone east of Greenwich, in the POSIX form that glibc and the Windows C runtime both read: a
# time stamp written in UTC instead of local time shows as a stamp outside its save's time.
export TZ=JST-9

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ $# -eq 2 ] || fail "usage: windows_saves_test.sh LINUX-BUILDDIR WINDOWS-BUILDDIR"
linux_build=$(realpath -- "$1") windows_build=$(realpath -- "$2")
source=$(realpath -- "$(dirname -- "${BASH_SOURCE[0]}")/..")
wine_run=$source/scripts/wine-run
prefix=$windows_build/wineprefix
launcher=$windows_build/tests/support/win_launch.exe
exe=$windows_build/loomreg.exe

for file in "$linux_build/loomreg" "$linux_build/loomreg-check" "$linux_build/loomreg-mkstore"; do
  [ -x "$file" ] || fail "no $file: build the Linux programs first (cmake --preset ci && cmake --build --preset ci)"
done
[ -f "$launcher" ] || fail "no $launcher: build the windows preset first"
[ -f "$exe" ] || fail "no $exe: the windows build has not built loomreg.exe"

# Wine starts, and the launcher runs in it: called wrongly, it says so and exits 2. (A run that
# Wine ended at once, without output, is tried again, as for the saves below.)
for attempt in 1 2 3; do
  set +e
  usage=$("$wine_run" "$prefix" "$launcher" 2>&1)
  status=$?
  set -e
  [ -z "$usage" ] || break
done
[ $status -eq 2 ] && [[ $usage == *"usage: win_launch"* ]] ||
  fail "Wine cannot run the launcher (exit $status): $usage"
# The program's path as Windows sees it: the prefix's drive Z: is the Linux root.
[ "$(readlink -- "$prefix/dosdevices/z:")" = / ] || fail "the Wine prefix has no drive Z: for /"
exe_windows=Z:${exe//\//\\}

work=$(realpath -- "$(mktemp -d)")
# The processes started in the background, stopped when the test ends early.
background=()
cleanup() {
  if [ ${#background[@]} -gt 0 ]; then kill -- "${background[@]}" 2>/dev/null || true; fi
  wait
  rm -rf -- "$work"
}
trap cleanup EXIT
sides=(linux windows)

# --- The Windows command line -------------------------------------------------------------
# The C runtime splits the command line into argv (docs/windows.md, "The command line"). The
# first token (argv[0]) ends at the first space or tab outside double quotes; a quote toggles
# quoting and is dropped, a backslash is an ordinary character. So the file-name word is quoted
# whole when it holds a space or tab, and cannot hold a quote. Every later argument is quoted
# whole when it is empty or holds a space, tab or quote; inside, a quote is written \" and the
# backslashes just before a quote, or before the closing quote, are doubled. Backslashes
# elsewhere stand for themselves.
quote_first() {
  case $1 in
    *\"*) fail "the first token cannot hold a double quote: $1" ;;
    *[[:blank:]]*) REPLY=\"$1\" ;;
    *) REPLY=$1 ;;
  esac
}
backslashes() {
  printf -v REPLY '%*s' "$1" ''
  REPLY=${REPLY// /\\}
}
quote_arg() {
  local arg=$1 out=\" pending=0 i c
  if [ -n "$arg" ] && [[ $arg != *[[:blank:]\"]* ]]; then
    REPLY=$arg
    return
  fi
  for ((i = 0; i < ${#arg}; i++)); do
    c=${arg:i:1}
    if [ "$c" = '\' ]; then
      pending=$((pending + 1))
      continue
    fi
    if [ "$c" = '"' ]; then
      backslashes $((2 * pending + 1))
    else
      backslashes $pending
    fi
    out+=$REPLY$c
    pending=0
  done
  backslashes $((2 * pending))
  REPLY=$out$REPLY\"
}
command_line() {
  local line arg
  quote_first "$1"
  line=$REPLY
  shift
  for arg in "$@"; do
    quote_arg "$arg"
    line+=" $REPLY"
  done
  REPLY=$line
}

# --- Two identical stores ------------------------------------------------------------------
# Two application directories on one store, as two web servers; a third whose KVR_PATH.inf
# names a data directory that does not exist; and a fourth on the store whose TimeExec.dat
# cannot be written, as a directory stands in its place.
apps=(kvr kvr2 nostore badrun)
mkdir -p "$work/linux/site/kvr" "$work/linux/site/kvr2" "$work/linux/site/nostore" \
  "$work/linux/site/badrun/TimeExec.dat"
printf 'KVR=/kvr/\r\nKVRDATA=/kvrdata/\r\n' >"$work/linux/site/kvr/KVR_PATH.inf"
printf 'KVR=/kvr2/\r\nKVRDATA=/kvrdata/\r\n' >"$work/linux/site/kvr2/KVR_PATH.inf"
printf 'KVR=/badrun/\r\nKVRDATA=/kvrdata/\r\n' >"$work/linux/site/badrun/KVR_PATH.inf"
printf 'KVR=/nostore/\r\nKVRDATA=/gone/\r\n' >"$work/linux/site/nostore/KVR_PATH.inf"
"$linux_build/loomreg-mkstore" "$work/linux/site/kvr" >/dev/null
cp -a -- "$work/linux" "$work/windows"

# Runs one save on one side: run SIDE LABEL APP WORD..., the words as the Linux program's argv
# (the file-name word first, as argv[0]). The Windows side gets them as a command line quoted by
# the rules above; RAW_FIRST, when set, replaces the command line's first token with its text,
# which the C runtime must make into the first word. Exit status and output go to $work/result/.
#
# Now and then, on a loaded machine, Wine ends a program at once without running it. A save that
# ran has written TimeExec.dat (its first step, even for a refused request) or says why it could
# not ("open error"); one that left TimeExec.dat as it was and printed nothing did not run at all
# and changed nothing, and is started again, up to three times in all.
run() {
  local side=$1 label=$2 app=$3 status attempt before after
  shift 3
  local out=$work/result/$side/$label dir=$work/$side/site/$app
  mkdir -p -- "$(dirname -- "$out")"
  set +e
  if [ "$side" = linux ]; then
    (cd -- "$dir" && exec -a "$1" "$linux_build/loomreg" "${@:2}") >"$out.stdout" 2>"$out.stderr"
    status=$?
  else
    command_line "$@"
    if [ -n "${RAW_FIRST:-}" ]; then REPLY=$RAW_FIRST${REPLY#"${REPLY%% *}"}; fi
    printf '%s\n' "$REPLY" >"$out.command-line"
    for attempt in 1 2 3; do
      before=$(stat -c '%y %s' -- "$dir/TimeExec.dat" 2>/dev/null)
      (cd -- "$dir" && exec "$wine_run" "$prefix" "$launcher" "$exe_windows" "$REPLY") \
        >"$out.stdout" 2>"$out.stderr"
      status=$?
      after=$(stat -c '%y %s' -- "$dir/TimeExec.dat" 2>/dev/null)
      [ "$before" = "$after" ] && [ ! -s "$out.stdout" ] && [ ! -s "$out.stderr" ] || break
      echo "note: $label: Wine ended the program without running it (exit $status), attempt $attempt" >&2
    done
  fi
  set -e
  case $status in
    125 | 126) fail "$label: the $side program did not start (exit $status): $(cat "$out.stderr")" ;;
  esac
  echo "$status" >"$out.exit"
}

# A machine's time stamp: its name, a comma, "Www Mmm dd hh:mm:ss yyyy", a line end and an
# empty line.
stamp_pattern=$'^([^,]+),([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4})\r\n\r\n$'

# Copies what the side's request left into $work/seen/SIDE for the comparison: the data root, each
# application directory's TimeExec.dat and the request's results. A machine's time stamp must be
# well formed; one that changed must give a time within the request's run (START and END, in
# seconds), in local time; its time is then left out, which differs between the runs. With
# UNORDERED set, every file's lines are sorted: saves that run at once may come in either order.
# A data root is a copy, so the one from the last request is kept to tell changed stamps.
snapshot() {
  local side=$1 label=$2 start=$3 end=$4 seen=$work/seen/$1 stamp name when line app file
  rm -rf -- "$seen"
  mkdir -p -- "$seen/apps"
  cp -a -- "$work/$side/site/kvrdata" "$seen/kvrdata"
  for app in "${apps[@]}"; do
    if [ -f "$work/$side/site/$app/TimeExec.dat" ]; then
      cp -- "$work/$side/site/$app/TimeExec.dat" "$seen/apps/$app.TimeExec.dat"
    fi
  done
  for stamp in "$seen"/kvrdata/Machine/*; do
    [ -f "$stamp" ] || continue
    name=${stamp##*/}
    line=$(cat -- "$stamp"; echo x)
    line=${line%x}
    [[ $line =~ $stamp_pattern ]] && [ "${BASH_REMATCH[1]}" = "$name" ] ||
      fail "$label: $side wrote the stamp of $name as: $(printf '%q' "$line")"
    if ! cmp -s -- "$stamp" "$work/before/$side/Machine/$name" 2>/dev/null; then
      when=$(date -d "${BASH_REMATCH[2]}" +%s)
      ((when >= start - 1 && when <= end + 1)) ||
        fail "$label: $side stamped $name with ${BASH_REMATCH[2]}, outside its run ($(date -d "@$start"))"
    fi
    printf '%s,<time>\r\n\r\n' "$name" >"$stamp"
  done
  cp -- "$work/result/$side/$label.exit" "$work/result/$side/$label.stdout" "$seen/"
  rm -rf -- "$work/before/$side"
  mkdir -p -- "$work/before"
  cp -a -- "$work/$side/site/kvrdata" "$work/before/$side"
  if [ -n "${UNORDERED:-}" ]; then
    find "$seen" -type f -print0 | while IFS= read -r -d '' file; do
      sort -o "$file" -- "$file"
    done
  fi
}

# Compares the two sides after a request: MESSAGES is "same" (the messages are the same bytes)
# or "count" (as many lines: they carry the system's error texts, which differ).
compare() {
  local label=$1 messages=$2 lines side
  if ! diff -r "$work/seen/linux" "$work/seen/windows" >"$work/diff" 2>&1; then
    echo "FAIL: $label: the Windows run left other bytes than the Linux run (< Linux, > Windows)" >&2
    diff -ru "$work/seen/linux" "$work/seen/windows" >&2 || true
    echo "Windows command line: $(cat "$work/result/windows/$label.command-line" 2>/dev/null)" >&2
    for side in "${sides[@]}"; do
      echo "$side standard error:" >&2
      cat -- "$work/result/$side/$label.stderr" >&2
    done
    exit 1
  fi
  if [ "$messages" = same ]; then
    cmp -s -- "$work/result/linux/$label.stderr" "$work/result/windows/$label.stderr" ||
      fail "$label: other messages:"$'\n'"$(diff "$work/result/linux/$label.stderr" "$work/result/windows/$label.stderr")"
  else
    lines=$(wc -l <"$work/result/linux/$label.stderr")
    [ "$(wc -l <"$work/result/windows/$label.stderr")" = "$lines" ] ||
      fail "$label: $lines message lines from Linux, others from Windows:"$'\n'"$(cat "$work/result/linux/$label.stderr")"$'\n'"---"$'\n'"$(cat "$work/result/windows/$label.stderr")"
  fi
  echo "same bytes: $label"
}

# One request on both sides: request LABEL MESSAGES APP UPLOAD FIRST-TOKEN WORD...; UPLOAD names
# the file of SetValueFile/ that is written before the run (FileData, an upload_arg= name) or is
# "-" for none. Its content holds CR LF and bytes from 0x80, which the move keeps.
request() {
  local label=$1 messages=$2 app=$3 upload=$4 side start end
  shift 4
  for side in "${sides[@]}"; do
    if [ "$upload" != - ]; then
      printf 'warp density=42\r\nlabel=%s\r\n\x80\xff\x00end' "$label" \
        >"$work/$side/site/kvrdata/SetValueFile/$upload"
    fi
    start=$(date +%s)
    run "$side" "$label" "$app" "$@"
    end=$(date +%s)
    snapshot "$side" "$label" "$start" "$end"
  done
  compare "$label" "$messages"
}

# What a request must have done, so that the comparison compares what it claims to: expect LABEL
# APP EXIT STATUS, STATUS the first line of APP's TimeExec.dat ("" for none). Once both sides are
# the same, checked on one.
expect() {
  local label=$1 app=$2 exit=$3 status=$4 got=
  [ "$(cat "$work/result/linux/$label.exit")" = "$exit" ] ||
    fail "$label: exit status $(cat "$work/result/linux/$label.exit"), not $exit"
  if [ -f "$work/linux/site/$app/TimeExec.dat" ]; then got=$(head -n 1 "$work/linux/site/$app/TimeExec.dat"); fi
  [ "$got" = "$status" ] || fail "$label: TimeExec.dat says $(printf '%q' "$got"), not $(printf '%q' "$status")"
}

# --- The requests --------------------------------------------------------------------------
request six-words same kvr FileData \
  filename_arg=TW-0001 style_arg=Twill beam_arg=BEAM-7 'koment_arg=first trial' \
  machine_arg=Loom01 top_beam_arg=TOP-3
expect six-words kvr 1 $'0\r'
request upload-word same kvr upload-2 \
  filename_arg=TW-0002 style_arg=Twill beam_arg=BEAM-7 koment_arg=second machine_arg=Loom02 \
  top_beam_arg=TOP-3 upload_arg=upload-2
expect upload-word kvr 1 $'0\r'
# A stored name: a warning, the upload stays where it is, and the save counts as done.
request repeated-name same kvr upload-3 \
  filename_arg=TW-0001 style_arg=Twill beam_arg=BEAM-8 koment_arg=again machine_arg=Loom01 \
  top_beam_arg=TOP-3 upload_arg=upload-3
expect repeated-name kvr 1 $'0\r'
[ -f "$work/linux/site/kvrdata/SetValueFile/upload-3" ] || fail "repeated-name: the upload was not kept"
# A file name with a space: the first token quoted whole, and the request refused.
request refused-name same kvr upload-4 \
  'filename_arg=TW 0004' style_arg=Plain beam_arg=B koment_arg=c machine_arg=Loom01 \
  top_beam_arg=T upload_arg=upload-4
expect refused-name kvr 1 $'-1\r'
# Quotes, backslashes, spaces and an empty value through the command line's quoting; the first
# token written with a quoted part, which the C runtime joins and drops.
RAW_FIRST='filename_arg="PL"-0005' request quoting same kvr upload-5 \
  filename_arg=PL-0005 style_arg=Plain 'beam_arg=B "7" \\srv\share\' \
  'koment_arg=say "hi", 2\" wide \"x\\" \ ' machine_arg=Loom03 'top_beam_arg=' \
  upload_arg=upload-5
expect quoting kvr 1 $'0\r'
grep -qF 'PL-0005,Plain,B "7" \\srv\share\,say "hi", 2\" wide \"x\\" \ ,Loom03' \
  "$work/linux/site/kvrdata/SetValueFileList/SetValueList" || fail "quoting: the history line"
request missing-store count nostore - \
  filename_arg=TW-0006 style_arg=Twill beam_arg=B koment_arg=c machine_arg=Loom01 \
  top_beam_arg=T
expect missing-store nostore 1 $'-1\r'

# The run status cannot be written: "open error" on standard output, exit status 255, and the
# store untouched.
request unwritable-status count badrun upload-9 \
  filename_arg=TW-0009 style_arg=Twill beam_arg=B koment_arg=c machine_arg=Loom01 \
  top_beam_arg=T upload_arg=upload-9
expect unwritable-status badrun 255 ""
[ "$(cat "$work/result/linux/unwritable-status.stdout")" = "open error" ] ||
  fail "unwritable-status: standard output"

# Two saves at once, from the two application directories: both wait on the store lock that a
# Linux loomreg-check holds for a moment (the Windows saves' LockFileEx and its fcntl lock exclude
# each other), so that they start together and then race for it. While it is held, nothing in
# the store changes; afterwards both are done and the lists hold both, in either order.
for side in "${sides[@]}"; do
  data=$work/$side/site/kvrdata
  printf 'first of two' >"$data/SetValueFile/upload-7"
  printf 'second of two' >"$data/SetValueFile/upload-8"
  rm -f -- "$work/held"
  (cd -- "$work/$side/site/kvr" &&
    exec "$linux_build/loomreg-check" --hold -- bash -c ': >"$1" && sleep 4' hold "$work/held") &
  holder=$!
  background=("$holder")
  for ((i = 0; i < 100; i++)); do
    [ ! -e "$work/held" ] || break
    sleep 0.1
  done
  [ -e "$work/held" ] || fail "loomreg-check --hold did not take the lock"
  cp -a -- "$data" "$work/held-store"
  start=$(date +%s)
  run "$side" at-once-1 kvr filename_arg=TW-0007 style_arg=Satin beam_arg=B1 koment_arg=one \
    machine_arg=Loom04 top_beam_arg=T upload_arg=upload-7 &
  first=$!
  background+=("$first")
  run "$side" at-once-2 kvr2 filename_arg=TW-0008 style_arg=Twill beam_arg=B2 koment_arg=two \
    machine_arg=Loom05 top_beam_arg=T upload_arg=upload-8 &
  second=$!
  background+=("$second")
  sleep 3
  diff -r "$work/held-store" "$data" >&2 ||
    fail "the $side saves changed the store while the lock was held"
  rm -rf -- "$work/held-store"
  wait $first || fail "the first save at once did not run on $side"
  wait $second || fail "the second save at once did not run on $side"
  end=$(date +%s)
  wait $holder || fail "loomreg-check --hold failed on $side"
  background=()
  for app in kvr kvr2; do
    [ "$(cat "$work/$side/site/$app/TimeExec.dat")" = $'0\r' ] ||
      fail "a save at once did not succeed on $side: $app's TimeExec.dat says $(cat -A "$work/$side/site/$app/TimeExec.dat")"
  done
  cat -- "$work/result/$side/at-once-2.exit" >>"$work/result/$side/at-once-1.exit"
  cat -- "$work/result/$side/at-once-2.stdout" >>"$work/result/$side/at-once-1.stdout"
  cat -- "$work/result/$side/at-once-2.stderr" >>"$work/result/$side/at-once-1.stderr"
  UNORDERED=1 snapshot "$side" at-once-1 "$start" "$end"
done
compare at-once-1 same
echo "windows saves: ok"
