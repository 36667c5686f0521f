#!/usr/bin/env bash
# Runs the host under Wine the way it runs on Windows: builds Vorlix.exe
# when it is missing or older than its sources, starts Xvfb when there is no
# display, and passes every argument on to the program, e.g.
#   scripts/run-host.sh --data-dir /tmp/vorlix --open-pairing --code-file /tmp/vorlix/code.txt
# Paths given to the program are Windows paths; Wine maps the Linux root to
# drive Z:, so /tmp/vorlix is Z:\tmp\vorlix (both forms work).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# VORLIX_HOST_EXE runs that program as it is, without building.
exe=${VORLIX_HOST_EXE:-$root/build/windows/Vorlix.exe}

stale() {
  [ ! -f "$exe" ] && return 0
  [ -n "$(find "$root/src" "$root/res" "$root/CMakeLists.txt" "$root/cmake" -newer "$exe" -type f -print -quit)" ]
}

if [ -z "${VORLIX_HOST_EXE:-}" ] && stale; then
  echo "building Vorlix.exe ..." >&2
  (cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows --target Vorlix -j "$(nproc)") >&2
fi

# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
wine_env_start
# A display of our own ends with this run, and so does the Wine server that
# uses it; on an existing display the server stays for the next run.
if [ -n "$wine_env_xvfb_pid" ]; then
  trap wine_env_stop EXIT
fi
# Test runs stay on this machine: no DNS-SD announcement, and Wake-on-LAN
# packets go to the discard port on loopback; the relays are not used.
export VORLIX_DNS_SD=${VORLIX_DNS_SD:-off} VORLIX_WAKE_TO=${VORLIX_WAKE_TO:-127.0.0.1:9}
# The update check goes to the discard port on loopback unless asked otherwise.
update_url=()
[[ " $* " == *" --update-url "* ]] || update_url=(--update-url http://127.0.0.1:9/update.json)
set +e
/usr/lib/wine/wine64 "$exe" --no-relay "$@" "${update_url[@]}"
status=$?
set -e
exit $status
