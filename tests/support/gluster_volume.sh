# A one-brick GlusterFS volume on this machine, mounted once for each host it stands for, as
# several web servers sharing one data store have it: the read caches that would break
# close-to-open consistency off, and the mounts with the options the documentation gives for a
# shared store. Sourced by tests/two_hosts_test.sh and bench/shared_store_bench.sh, which set
# `work` (a scratch directory), `volume` (the volume's name) and define fail().
#   gluster_up HOST...    starts glusterd unless one answers, creates and starts the volume,
#                         and mounts it at $work/mntHOST for each HOST
#   gluster_down HOST...  unmounts, stops and deletes the volume, and stops the glusterd that
#                         gluster_up started; for a trap, so it never fails

gluster_started_daemon=

gluster_up() {
  local host option
  # The daemon: ours, unless one already answers.
  if ! gluster --mode=script volume list >/dev/null 2>&1; then
    glusterd --pid-file="$work/glusterd.pid" -l "$work/glusterd.log" ||
      fail "glusterd did not start"
    gluster_started_daemon=1
    for _ in $(seq 100); do
      gluster --mode=script volume list >/dev/null 2>&1 && break
      sleep 0.2
    done
    gluster --mode=script volume list >/dev/null 2>&1 ||
      fail "glusterd does not answer: $(tail -5 "$work/glusterd.log")"
  fi
  mkdir -p "$work/brick"
  gluster --mode=script volume create "$volume" "$(hostname):$work/brick" force >/dev/null ||
    fail "cannot create the volume"
  for option in performance.quick-read performance.io-cache performance.stat-prefetch \
    performance.read-ahead performance.open-behind; do
    gluster --mode=script volume set "$volume" "$option" off >/dev/null ||
      fail "cannot set $option"
  done
  gluster --mode=script volume start "$volume" >/dev/null || fail "cannot start the volume"
  for host in "$@"; do
    mkdir -p "$work/mnt$host"
    mount -t glusterfs -o attribute-timeout=0,entry-timeout=0 "$(hostname):/$volume" \
      "$work/mnt$host" || fail "cannot mount the volume on host $host (FUSE)"
  done
}

gluster_down() {
  local host
  for host in "$@"; do
    mountpoint -q "$work/mnt$host" && umount "$work/mnt$host"
  done
  if gluster --mode=script volume info "$volume" >/dev/null 2>&1; then
    gluster --mode=script volume stop "$volume" force >/dev/null
    gluster --mode=script volume delete "$volume" >/dev/null
  fi
  if [ -n "$gluster_started_daemon" ]; then
    kill "$(cat "$work/glusterd.pid")" 2>/dev/null
    for _ in $(seq 50); do pgrep -x glusterd >/dev/null || break; sleep 0.1; done
  fi
  return 0
}
