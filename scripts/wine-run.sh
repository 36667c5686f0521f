#!/usr/bin/env bash
# Runs a Windows executable under Wine, headless, with the project's private
# prefix. CTest uses this as the cross-compiling emulator; scripts/test.sh
# prepares the prefix, the display and a long-lived wineserver beforehand.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wine-prefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec /usr/lib/wine/wine64 "$@"
