#!/usr/bin/env bash
# The end-to-end test of the host: Vorlix.exe runs under Wine and the native
# test program (tests/native, HostEndToEnd.*) drives it as a device over
# loopback. CTest runs it from the Windows build:
#   scripts/host-e2e.sh <Vorlix.exe> <vorlix_post_quit.exe> [<vorlix_ink_probe.exe>] [<vorlix_window_probe.exe>]
#                       [<the update-test build of Vorlix.exe>]
# The native test program is built here (release preset) when needed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
host_exe=$(realpath "$1")
post_quit_exe=$(realpath "$2")
ink_probe_exe=$([ -n "${3:-}" ] && realpath "$3" || true)
window_probe_exe=$([ -n "${4:-}" ] && realpath "$4" || true)
update_test_exe=$([ -n "${5:-}" ] && realpath "$5" || true)

(
  cd "$root"
  [ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
  cmake --build --preset native --target test_native -j "$(nproc)" >/dev/null
)

# Under scripts/test.sh the display and the Wine server are already up.
if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=scripts/wine-env.sh
  . "$root/scripts/wine-env.sh"
  wine_env_start
  trap wine_env_stop EXIT
fi
export WINEPREFIX=${WINEPREFIX:-$root/build/wine-prefix}
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Nothing the host sends may leave the machine (see scripts/run-host.sh).
export VORLIX_DNS_SD=off VORLIX_WAKE_TO=127.0.0.1:9
VORLIX_HOST_EXE="$host_exe" VORLIX_POST_QUIT_EXE="$post_quit_exe" VORLIX_INK_PROBE_EXE="$ink_probe_exe" VORLIX_WINDOW_PROBE_EXE="$window_probe_exe" VORLIX_UPDATE_TEST_EXE="$update_test_exe" VORLIX_WINE=/usr/lib/wine/wine64 \
  "$root/build/native/test_native" --gtest_filter='HostEndToEnd.*'
