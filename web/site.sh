# Shell functions that set up the web front on this machine, for scripts/web-demo and the
# browser test: build the CGI against an installed loomreg, lay out a site with a store, and
# write a lighttpd configuration that serves it on 127.0.0.1 as an unprivileged user.
# Source it from bash.

# web_build SOURCEDIR PREFIX BUILDDIR: configures web/ against the loomreg installed in PREFIX
# and builds it into BUILDDIR. Quiet unless it fails.
web_build() {
  local source=$1 prefix=$2 build=$3 log
  log=$(cmake -S "$source/web" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" 2>&1 && cmake --build "$build" 2>&1) || {
    echo "$log" >&2
    return 1
  }
}

# web_server_user: the unprivileged user the web server runs as. As root, www-data (Debian's
# web server user) or nobody; otherwise the user running this.
web_server_user() {
  if [ "$(id -u)" -ne 0 ]; then id -un
  elif id www-data >/dev/null 2>&1; then echo www-data
  else echo nobody
  fi
}

# web_make_site SITE CGI PREFIX USER: SITE/kvr is the application directory, holding the CGI
# as store.cgi and a KVR_PATH.inf; SITE/kvrdata the store, created by loomreg-mkstore. The
# server's user owns the site, since saves create files and directories in it.
web_make_site() {
  local site=$1 cgi=$2 prefix=$3 user=$4
  mkdir -p "$site/kvr"
  cp -- "$cgi" "$site/kvr/store.cgi"
  printf 'KVR=/kvr/\r\nKVRDATA=/kvrdata/\r\n' >"$site/kvr/KVR_PATH.inf"
  "$prefix/bin/loomreg-mkstore" "$site/kvr" >/dev/null
  if [ "$(id -u)" -eq 0 ]; then chown -R "$user:$(id -gn "$user")" "$site"; fi
}

# web_lighttpd_conf SITE PORT RUNDIR USER [NAME=VALUE...]: writes RUNDIR/lighttpd.conf,
# serving the CGI SITE/kvr/store.cgi on 127.0.0.1:PORT, logging into RUNDIR. Nothing else of
# SITE is served: the store and KVR_PATH.inf get 403. Each NAME=VALUE is set in the CGI's
# environment. As root lighttpd binds the port and then becomes USER.
web_lighttpd_conf() {
  local site=$1 port=$2 run=$3 user=$4 pair
  shift 4
  {
    echo 'server.modules = ("mod_access", "mod_setenv", "mod_cgi")'
    echo "server.document-root = \"$site\""
    echo 'server.bind = "127.0.0.1"'
    echo "server.port = $port"
    echo "server.errorlog = \"$run/error.log\""
    echo 'index-file.names = ("store.cgi")'
    echo '$HTTP["url"] !~ "^/kvr/(store[.]cgi)?$" { url.access-deny = ("") }'
    echo 'cgi.assign = (".cgi" => "")'
    echo 'mimetype.assign = (".png" => "image/png", "" => "text/plain")'
    if [ $# -gt 0 ]; then
      local entries=()
      for pair; do entries+=("\"${pair%%=*}\" => \"${pair#*=}\""); done
      (IFS=,; echo "setenv.add-environment = (${entries[*]})")
    fi
    if [ "$(id -u)" -eq 0 ]; then
      echo "server.username = \"$user\""
      echo "server.groupname = \"$(id -gn "$user")\""
    fi
  } >"$run/lighttpd.conf"
  if [ "$(id -u)" -eq 0 ]; then chown "$user" "$run"; fi
}

# web_wait_for PORT PID PATH: waits up to 10 s until a GET of PATH from 127.0.0.1:PORT answers
# 200 while PID runs. Fails when the server ended or never answered.
web_wait_for() {
  local port=$1 pid=$2 path=$3 _
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 1
    if (
      exec 3<>"/dev/tcp/127.0.0.1/$port"
      printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$path" >&3
      read -r -t 5 line <&3
      [[ $line == HTTP/1.?" 200 "* ]]
    ) 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}
