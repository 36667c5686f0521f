#!/usr/bin/env bash
# Turns the places of a crash log ("Vorlix.exe+0x1a2b") into functions and
# source lines, with the debug information kept beside the program:
#   scripts/resolve-crash.sh <Vorlix.exe or Vorlix.debug> 'Vorlix.exe+0x1a2b' ...
# The shipped program carries none; the build writes it to Vorlix.debug next
# to Vorlix.exe, and addr2line finds it from either file.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 <Vorlix.exe|Vorlix.debug> 'Vorlix.exe+0x...' ..." >&2; exit 2; }
file=$1
shift
base=$(x86_64-w64-mingw32-objdump -p "$file" | awk '/^ImageBase/ { print $2 }')
[ -n "$base" ] || { echo "no image base in $file" >&2; exit 1; }
for place in "$@"; do
  offset=${place##*+}
  printf '%s: ' "$place"
  x86_64-w64-mingw32-addr2line -f -C -p -e "$file" "$(printf '0x%x' $(( 0x$base + offset )))"
done
