#!/usr/bin/env bash
# Two web servers sharing one data store on GlusterFS: a one-brick volume on this machine,
# mounted twice, stands for two hosts. Two workers on each host save at the same time, each
# save with an upload of its own, while loomreg-check --repair runs on the second host; then
# every catalogue must hold exactly what the saves wrote, every stored file its own upload, and
# the store must check clean. Needs root, glusterd and FUSE; fails, never skips, without them.
#   two_hosts_test.sh BINDIR [SAVES_PER_WORKER]
set -euo pipefail
export LC_ALL=C
bindir=$(cd -- "$1" && pwd)
saves=${2:-50}
hosts=(A B)
workers=2
machines=(Loom0 Loom1 Loom2 Loom3)
styles=(Twill Plain Satin)
volume=loomreg-two-hosts-$$

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root, to start glusterd and mount the volume"
command -v glusterd >/dev/null && command -v mount.glusterfs >/dev/null ||
  fail "glusterd or mount.glusterfs missing: install glusterfs-server and glusterfs-client"
[ -c /dev/fuse ] || fail "/dev/fuse is missing: FUSE cannot be mounted here"

work=$(mktemp -d /var/tmp/loomreg-two-hosts.XXXXXX)
# shellcheck source=support/gluster_volume.sh
. "$(dirname -- "${BASH_SOURCE[0]}")/support/gluster_volume.sh"
cleanup() {
  set +e
  # Workers and the repairer first: nothing may still use the mounts.
  : >"$work/saves-done"
  local job
  for job in $(jobs -p); do kill "$job" 2>/dev/null; done
  wait 2>/dev/null
  gluster_down "${hosts[@]}"
  rm -rf -- "$work"
}
trap cleanup EXIT
gluster_up "${hosts[@]}"

# Every worker has an application directory of its own on its host's local disk (TimeExec.dat
# is one per directory); the data directory beside it leads to the store on its host's mount.
mkdir "$work/mntA/kvrdata"
appdir() { echo "$work/host$1-$2/kvr"; }
for host in "${hosts[@]}"; do
  for ((w = 0; w < workers; w++)); do
    mkdir -p "$(appdir "$host" "$w")"
    ln -s "$work/mnt$host/kvrdata" "$work/host$host-$w/kvrdata"
  done
done
"$bindir/loomreg-mkstore" "$(appdir A 0)" >/dev/null || fail "loomreg-mkstore failed"

file_name() { echo "F-$1-$2-$3"; }
settings_text() { printf 'settings of %s\r\nline two\n' "$1"; }
worker() {
  local host=$1 w=$2 n file
  for ((n = 0; n < saves; n++)); do
    file=$(file_name "$host" "$w" "$n")
    settings_text "$file" >"$work/settings-$file"
    "$bindir/loomreg-save" -C "$(appdir "$host" "$w")" "$work/settings-$file" "$file" \
      "${styles[$((n % 3))]}" "B$n" "worker $host$w" "${machines[$(((n + w) % 4))]}" T \
      >/dev/null 2>"$work/err-$file" || {
      echo "save $file failed: $(cat "$work/err-$file")" >&2
      return 1
    }
  done
}
repairer() {
  local status
  mkdir -p "$work/hostB-check/kvr"
  ln -s "$work/mntB/kvrdata" "$work/hostB-check/kvrdata"
  while [ ! -e "$work/saves-done" ]; do
    status=0
    (cd "$work/hostB-check/kvr" && "$bindir/loomreg-check" --repair) >"$work/repair.out" 2>&1 ||
      status=$?
    [ "$status" -le 1 ] || {
      echo "loomreg-check --repair exited $status: $(cat "$work/repair.out")" >&2
      return 1
    }
  done
}

repairer &
repair_pid=$!
pids=()
for host in "${hosts[@]}"; do
  for ((w = 0; w < workers; w++)); do
    worker "$host" "$w" &
    pids+=($!)
  done
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
: >"$work/saves-done"
wait "$repair_pid" || failed=1
[ "$failed" -eq 0 ] || fail "a save or a repair failed"

# What must be there, as sorted lines, against what is, read through the other mount.
store=$work/mntB/kvrdata
expected=$work/expected
mkdir "$expected"
for host in "${hosts[@]}"; do
  for ((w = 0; w < workers; w++)); do
    for ((n = 0; n < saves; n++)); do
      file=$(file_name "$host" "$w" "$n")
      style=${styles[$((n % 3))]} machine=${machines[$(((n + w) % 4))]}
      echo "$file,$style,B$n,worker $host$w,$machine" >>"$expected/history"
      echo "$file" >>"$expected/FileList"
      echo "$file" >>"$expected/machine-$machine"
      echo "$file" >>"$expected/style-$style"
    done
  done
done
printf '%s\n' "${machines[@]}" >"$expected/MachineList"
printf '%s\n' "${styles[@]}" >"$expected/KindList"
same() {  # same LIST EXPECTED: the list's CR LF lines, as a sorted multiset
  ! grep -qv $'\r$' "$1" || fail "$1 has a line without CR LF: $(grep -nv $'\r$' "$1" | head -3)"
  tr -d '\r' <"$1" | sort >"$work/got"
  sort "$2" >"$work/want"
  cmp -s "$work/got" "$work/want" ||
    fail "$1 differs from what was saved: $(diff "$work/want" "$work/got" | head -5)"
}
same "$store/SetValueFileList/SetValueList" "$expected/history"
same "$store/SetValueFile/FileList" "$expected/FileList"
same "$store/MachineList/MachineList" "$expected/MachineList"
same "$store/StyleList/KindList" "$expected/KindList"
for machine in "${machines[@]}"; do
  same "$store/MachineF/$machine" "$expected/machine-$machine"
done
for style in "${styles[@]}"; do
  same "$store/StyleFile/$style" "$expected/style-$style"
done
while IFS=, read -r file style _; do
  cmp -s "$store/SetValueFile/$style/$file" <(settings_text "$file") ||
    fail "$style/$file does not hold its own upload"
done <"$expected/history"
leftovers=$(cd "$store/SetValueFile" && ls -A | grep -vxE 'FileList|Twill|Plain|Satin' || true)
[ -z "$leftovers" ] || fail "uploads left behind: $leftovers"

report=$(cd "$(appdir B 1)" && "$bindir/loomreg-check") || fail "loomreg-check: $report"
[ "$report" = "0 problems, 0 notes" ] || fail "loomreg-check reports: $report"
total=$((${#hosts[@]} * workers * saves))
echo "two hosts: ok ($total saves, every catalogue exact)"
