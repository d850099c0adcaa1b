#!/usr/bin/env bash
# The web front tested the way a user meets it: loomreg installed from BUILDDIR into a
# temporary prefix, the CGI of web/ built against that installation, lighttpd serving it on
# 127.0.0.1 as an unprivileged user, and headless Chromium driven by selenium saving through the
# form (tests/web_front_test.py). Starts and stops every process it needs; fails, never skips,
# when lighttpd, Chromium or selenium is missing or cannot start. The CGI's processes run with
# the fault shim of BUILDDIR preloaded, set to kill a loomreg that creates the style directory
# "Killed": the save the test makes under that style ends without a result. With
# SCREENSHOT_DIR, the browser also saves pictures of the form and of the outcome pages there.
#   web_front_test.sh BUILDDIR [SCREENSHOT_DIR]
set -euo pipefail
build=$(cd -- "$1" && pwd)
screenshots=${2:-}
[ -z "$screenshots" ] || screenshots=$(cd -- "$screenshots" && pwd)
source_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=../web/site.sh
source "$source_dir/web/site.sh"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
command -v lighttpd >/dev/null || fail "lighttpd is missing: scripts/install-deps lighttpd"
[ -x /usr/bin/chromium ] && [ -x /usr/bin/chromedriver ] ||
  fail "chromium or chromedriver is missing: scripts/install-deps chromium chromium-driver"
/usr/bin/python3 -c 'import selenium' 2>/dev/null ||
  fail "selenium is missing: scripts/install-deps python3-selenium"
shim=$build/tests/libloomreg_fault_shim.so
[ -f "$shim" ] || fail "$shim is missing: build the target loomreg_fault_shim"

work=$(mktemp -d /var/tmp/loomreg-web-front.XXXXXX)
chmod 755 "$work"  # the server's user runs the installed loomreg from here
server_pid= browser_pid=
cleanup() {
  set +e
  # The driver script runs in a process group of its own: its browsers end with it.
  if [ -n "$browser_pid" ]; then kill -- "-$browser_pid" 2>/dev/null; wait "$browser_pid"; fi
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid"; fi
  rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install failed"
web_build "$source_dir" "$work/prefix" "$work/web" || fail "the CGI did not build"
"$work/web/cgi_input_test" || fail "the CGI's input checks"
cp -- "$shim" "$work/fault_shim.so"

user=$(web_server_user)
web_make_site "$work/site" "$work/web/store_front" "$work/prefix" "$user"
mkdir "$work/run"
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
web_lighttpd_conf "$work/site" "$port" "$work/run" "$user" "LD_PRELOAD=$work/fault_shim.so" \
  "LOOMREG_FAULTS=mkdir:SetValueFile/Killed:0:SIGKILL"
lighttpd -D -f "$work/run/lighttpd.conf" &
server_pid=$!
web_wait_for "$port" "$server_pid" /kvr/store.cgi ||
  fail "lighttpd did not start on port $port: $(cat "$work/run/error.log" 2>/dev/null)"

start=$SECONDS
setsid /usr/bin/python3 "$source_dir/tests/web_front_test.py" \
  "http://127.0.0.1:$port/kvr/store.cgi" "$work/site" --user "$user" \
  --check "$work/prefix/bin/loomreg-check" ${screenshots:+--screenshots "$screenshots"} &
browser_pid=$!
status=0
wait "$browser_pid" || status=$?
browser_pid=
[ "$status" -eq 0 ] || fail "the browser test failed (exit status $status)"

# Everything the saves wrote belongs to the server's user: the CGI and loomreg ran as that user.
others=$(find "$work/site" ! -user "$user" -print -quit)
[ -z "$others" ] || fail "$others is not owned by the server's user $user"
echo "web front: ok (browser $((SECONDS - start)) s, server user $user)"
