# Sourced by the scripts that run Windows programs: starts Xvfb when there is
# no display, makes the Wine prefix once and keeps one wineserver alive.
# Call wine_env_stop when done.

wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$wine_env_root/build/wine-prefix}
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
wine_env_xvfb_pid=

wine_env_start() {
  if [ -z "${DISPLAY:-}" ]; then
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    wine_env_xvfb_pid=$!
    local display
    read -r display <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$display"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 winecfg -v win10 </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
  fi
  # One persistent server: Wine's system processes inherit the first
  # client's standard streams, so start them with all three on /dev/null.
  /usr/lib/wine/wineserver -p || true  # already running for this prefix
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
}

wine_env_stop() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  if [ -n "$wine_env_xvfb_pid" ]; then
    kill "$wine_env_xvfb_pid" 2>/dev/null || true
    wait "$wine_env_xvfb_pid" 2>/dev/null || true
  fi
}
