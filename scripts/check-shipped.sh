#!/usr/bin/env bash
# Checks the program as it ships: no debug information inside, under 5 MB,
# a crash-log place inside it still resolves to a function and a source
# line through the debug file kept beside it, its relay is the built-in one,
# and its version record names the application version.
#   scripts/check-shipped.sh <Vorlix.exe>
set -euo pipefail
exe=$1
size=$(stat -c %s "$exe")
echo "Vorlix.exe: $size bytes"
[ "$size" -lt 5000000 ] || { echo "the program is 5 MB or more" >&2; exit 1; }
if x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug_'; then
  echo "the program carries debug sections" >&2
  exit 1
fi
debug="$(dirname "$exe")/Vorlix.debug"
base=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/^ImageBase/ { print $2 }')
address=$(x86_64-w64-mingw32-nm "$debug" | awk '$3 == "WinMain" { print $1 }')
[ -n "$address" ] || { echo "WinMain not found in Vorlix.debug" >&2; exit 1; }
place=$(printf 'Vorlix.exe+0x%x' $(( 0x$address - 0x$base + 16 )))
resolved=$("$(dirname "$0")/resolve-crash.sh" "$exe" "$place")
echo "$resolved"
[[ "$resolved" == *"WinMain at "*"main.cpp:"* ]] || { echo "the place did not resolve" >&2; exit 1; }
# The relays are fixed in the program: it names the built-in relay, never the
# tests' loopback relay of the test build.
grep -qa 'relay.vorlix.net' "$exe" || { echo "the program does not name its relay" >&2; exit 1; }
if grep -qa '127.0.0.1:29720' "$exe"; then echo "the program names the tests' relay" >&2; exit 1; fi
# An update's program is installed only when the FileVersion of its version
# record names the offered version: the build must write the application
# version there (UTF-16 text, the key's NUL and padding to four bytes, the value).
version=$(sed -n 's/.*kAppVersion = "\([0-9.]*\)".*/\1/p' "$(dirname "$0")/../src/app/app_version.h")
utf16() {
  local s=$1 out='' c i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    [ "$c" = . ] && c='\.'
    out+="$c\\x00"
  done
  printf '%s' "$out"
}
echo "application version: $version"
LC_ALL=C grep -qaP "$(utf16 FileVersion)(\\x00\\x00){1,2}$(utf16 "$version")\\x00\\x00" "$exe" ||
  { echo "the program's version record does not name $version" >&2; exit 1; }
