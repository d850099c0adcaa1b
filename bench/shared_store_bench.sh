#!/usr/bin/env bash
# A save into a data store on GlusterFS beside the same save into a store on local disk. Sets up
# what tests/two_hosts_test.sh sets up (a one-brick volume on this machine with the read caches
# off, mounted twice with attribute-timeout=0,entry-timeout=0, two application directories per
# mount reaching the store through a link) and an identical store on local disk reached the same
# way; fills both with the same lists; then times single saves, interleaved, and the load of
# every worker saving at once, the shared store's rounds alternating with the local store's.
# Last, one save on each side under strace -f -c, and the brick's own count of the requests
# that one save makes (gluster volume profile). Cleans up everything it made.
# Needs root and FUSE; installs glusterfs-server and glusterfs-client when missing.
#   bench/shared_store_bench.sh [--loomreg BIN] [--names N] [--saves N] [--load-saves N]
#       [--load-rounds N] [--baseline BIN] [--traces DIR]
# --baseline also times the local saves of another build of loomreg beside this one's.
# --traces keeps the counted saves' strace output and the brick's profile in DIR.
# Without --loomreg it builds the bench preset's loomreg and times that.
set -euo pipefail
export LC_ALL=C
cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.."
src=$(pwd)

loomreg= baseline=() traces= names=3000 saves=101 load_saves=50 load_rounds=3
while [ $# -gt 0 ]; do
  case $1 in
    --loomreg) loomreg=$(realpath -- "$2"); shift 2 ;;
    --names) names=$2; shift 2 ;;
    --baseline) baseline=(--baseline "$(realpath -- "$2")"); shift 2 ;;
    --traces) traces=$(realpath -m -- "$2"); mkdir -p "$traces"; shift 2 ;;
    --saves) saves=$2; shift 2 ;;
    --load-saves) load_saves=$2; shift 2 ;;
    --load-rounds) load_rounds=$2; shift 2 ;;
    *)
      echo "usage: bench/shared_store_bench.sh [--loomreg BIN] [--names N] [--saves N]" \
        "[--load-saves N] [--load-rounds N] [--baseline BIN] [--traces DIR]" >&2
      exit 2
      ;;
  esac
done

fail() {
  echo "shared_store_bench: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root, to start glusterd and mount the volume"
[ -c /dev/fuse ] || fail "/dev/fuse is missing: FUSE cannot be mounted here"
scripts/install-deps build libbenchmark-dev glusterfs-server glusterfs-client strace

cmake --preset bench >/dev/null
cmake --build --preset bench --target loomreg loomreg_shared_store_bench >/dev/null
bench=$src/build/bench/bench/loomreg_shared_store_bench
[ -n "$loomreg" ] || loomreg=$src/build/bench/loomreg

volume=loomreg-bench-$$
work=$(mktemp -d /var/tmp/loomreg-shared-bench.XXXXXX)
# shellcheck source=../tests/support/gluster_volume.sh
. "$src/tests/support/gluster_volume.sh"
cleanup() {
  set +e
  gluster_down A B
  rm -rf -- "$work"
}
trap cleanup EXIT
gluster_up A B

# Two application directories per host on local disk, each with a link to its host's mount;
# four beside them linking to the store on local disk.
mkdir "$work/mntA/kvrdata" "$work/local" "$work/local/kvrdata"
shared=() local=()
for host in A B; do
  for w in 0 1; do
    mkdir -p "$work/host$host-$w/kvr"
    ln -s "$work/mnt$host/kvrdata" "$work/host$host-$w/kvrdata"
    shared+=("$work/host$host-$w/kvr")
  done
done
for w in 0 1 2 3; do
  mkdir -p "$work/local-$w/kvr"
  ln -s "$work/local/kvrdata" "$work/local-$w/kvrdata"
  local+=("$work/local-$w/kvr")
done
LOOMREG=$loomreg scripts/loomreg-mkstore "${shared[0]}" >/dev/null
LOOMREG=$loomreg scripts/loomreg-mkstore "${local[0]}" >/dev/null

echo "loomreg $loomreg"
echo "$(grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: //'), $(nproc) cores, $(uname -sr)"
echo "GlusterFS $(glusterfs --version | head -1 | awk '{print $2}'), one brick on $(df --output=fstype "$work" | tail -1), mounted twice; local store on the same file system"
echo
IFS=,
"$bench" --loomreg "$loomreg" --shared "${shared[*]}" --local "${local[*]}" --names "$names" \
  --saves "$saves" --load-saves "$load_saves" --load-rounds "$load_rounds" "${baseline[@]}"
unset IFS

# One save on each side: its system calls, and on the mount the requests the brick served.
# The upload is placed first, outside what is counted.
place_upload() { printf 'warp density=42\r\n' >"$1/../kvrdata/SetValueFile/upload.$2"; }
one_save() {  # APPDIR FILE [strace options...]
  local app=$1 file=$2
  shift 2
  (cd "$app" && "$@" "$loomreg" "filename_arg=$file" style_arg=STYLE-LISTED beam_arg=B1 \
    koment_arg=count machine_arg=LOOM-LISTED top_beam_arg=T1 "upload_arg=upload.$file") \
    >/dev/null || true  # the run status is in TimeExec.dat; the filed upload tells success
  [ ! -e "$app/../kvrdata/SetValueFile/upload.$file" ] || fail "the save of $file did not file it"
}
echo
gluster --mode=script volume profile "$volume" start >/dev/null
for side in shared local; do
  app=${shared[0]}
  [ "$side" = shared ] || app=${local[0]}
  place_upload "$app" "count-$side-c"
  one_save "$app" "count-$side-c" strace -f -qq -c -o "$work/strace-$side"
  place_upload "$app" "count-$side"
  if [ "$side" = shared ]; then
    gluster --mode=script volume profile "$volume" info clear >/dev/null
  fi
  # The calls from the first that names the store to the last before the run status: what
  # the save does, not what the loader or the start-up does.
  one_save "$app" "count-$side" strace -f -qq -o "$work/trace-$side"
  if [ "$side" = shared ]; then
    gluster --mode=script volume profile "$volume" info cumulative >"$work/profile"
  fi
  echo "one save, $side: $(awk '$NF == "total" {print $4}' "$work/strace-$side") system calls" \
    "(strace -f -c), $(sed -n '/kvrdata/,$p' "$work/trace-$side" | tac |
      sed -n '/TimeExec.dat/,$p' | tail -n +2 | wc -l) of them from the first access to the" \
    "store to the run status 0"
  [ -z "$traces" ] || cp "$work/trace-$side" "$traces/trace-$side"
done
[ -z "$traces" ] || cp "$work/profile" "$traces/profile"
# The brick's table: one line per request type, its count next to last.
fops=$(awk '/Cumulative Stats/ { on = 1 }
  on && $NF ~ /^[A-Z]+$/ && $(NF-1) ~ /^[0-9]+$/ { print $NF, $(NF-1) }' "$work/profile" | sort)
echo "one save, shared: $(echo "$fops" | awk '{ n += $2 } END { print n }') requests served by" \
  "the brick (gluster volume profile):" $fops
gluster --mode=script volume profile "$volume" stop >/dev/null
