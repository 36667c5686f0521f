#!/usr/bin/env bash
# Starts Vorlix.exe under Wine on an empty data folder, leaves it idle and
# prints, for each of its threads, how often it woke during the measured
# seconds (system calls less than 50 ms apart count as one wake, so a burst
# of Wine server calls is one wake), then the program's resident memory.
#   scripts/idle-wakes.sh [seconds]        (default 20)
# Needs strace. Like every run of the program here it stays on this machine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-20}
data=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; kill "$runner" 2>/dev/null; wait 2>/dev/null; rm -rf "$data"' EXIT
"$root/scripts/run-host.sh" --data-dir "$data" --hidden >"$data/run.log" 2>&1 &
runner=$!
for _ in $(seq 1 600); do  # building it first may take minutes
  pid=$(pgrep -f "^$root/build/windows/Vorlix.exe" | head -1 || true)
  [ -n "$pid" ] && break
  sleep 0.5
done
[ -n "$pid" ] || { echo "Vorlix.exe did not start" >&2; exit 1; }
sleep 10  # let start-up settle
declare -A names
for task in /proc/"$pid"/task/*; do names[$(basename "$task")]=$(cat "$task/comm"); done
timeout "$seconds" strace -f -tt -p "$pid" -o "$data/trace" 2>/dev/null || true
awk -v secs="$seconds" '
  { split($2, t, ":"); s = t[1] * 3600 + t[2] * 60 + t[3]
    # The first line of a thread is the call it was waiting in when traced.
    if (($1 in last) && s - last[$1] > 0.05) wakes[$1]++
    last[$1] = s }
  END { for (tid in last) printf "%s %d %.2f\n", tid, wakes[tid] + 0, (wakes[tid] + 0) / secs }' "$data/trace" >"$data/wakes"
printf "%-8s %-20s %7s %8s\n" thread name wakes per-s
for tid in "${!names[@]}"; do
  line=$(grep "^$tid " "$data/wakes" || echo "$tid 0 0.00")
  set -- $line
  printf "%-8s %-20s %7s %8s\n" "$tid" "${names[$tid]}" "$2" "$3"
done | sort -k3 -n -r
grep VmRSS /proc/"$pid"/status
