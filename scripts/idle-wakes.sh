#!/usr/bin/env bash
# How often the idle host's threads wake, and how much memory it holds.
# Vorlix.exe runs under Wine through scripts/run-host.sh (no DNS-SD, no
# relays, Wake-on-LAN to loopback, any free port, a data folder of its own)
# with no device; after it settles, every thread's voluntary context switches
# are sampled every 50 ms for the given time. A sample in which a thread
# switched counts as one wake, so a burst of Wine server calls inside one
# wake counts once (twice when it straddles two samples).
#   scripts/idle-wakes.sh <Vorlix.exe> <vorlix_bare_window.exe> [seconds, default 20]
# Wine names each Linux thread after its thread description, so the host's
# threads show as "vorlix-..." and the window thread as "Vorlix.exe".
# Fails when a thread wakes more often than its rule allows (twice its rate
# plus one wake in five seconds, for straddled samples and stray events), or
# when the host holds more than 25 MB above the bare window program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
host_exe=$(realpath "$1")
bare_exe=$(realpath "$2")
seconds=${3:-20}
work=$(mktemp -d)
host_runner= bare_pid=

finish() {
  local pid
  pid=$([ -n "$host_runner" ] && pgrep -P "$host_runner" -x Vorlix.exe || true)
  [ -n "$pid" ] && { kill "$pid" 2>/dev/null || true; }
  [ -n "$bare_pid" ] && { kill "$bare_pid" 2>/dev/null || true; }
  [ -n "$host_runner" ] && { wait "$host_runner" 2>/dev/null || true; }
  rm -rf "$work"
  return 0
}
trap 'status=$?; finish; exit $status' EXIT

if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=scripts/wine-env.sh
  . "$root/scripts/wine-env.sh"
  wine_env_start
  trap 'status=$?; finish; wine_env_stop; exit $status' EXIT
fi

VORLIX_HOST_EXE="$host_exe" bash "$root/scripts/run-host.sh" --data-dir "$work/data" --port 0 --no-advertise >"$work/host.log" 2>&1 &
host_runner=$!
/usr/lib/wine/wine64 "$bare_exe" >/dev/null 2>&1 &
bare_pid=$!

host=
for _ in $(seq 1 150); do
  host=$(pgrep -P "$host_runner" -x Vorlix.exe || true)
  [ -n "$host" ] && grep -qs "listening on port" "$work/data/vorlix.log" && break
  sleep 0.2
done
[ -n "$host" ] && grep -qs "listening on port" "$work/data/vorlix.log" || { echo "the host did not start" >&2; cat "$work/host.log" >&2; exit 1; }
sleep 3  # start-up's own work settles

python3 - "$host" "$bare_pid" "$seconds" <<'EOF'
import os, sys, time

host, bare, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
# Wakes per second each thread's rule allows while no device is connected.
ALLOWED = {
    "Vorlix.exe": 1.0,      # the window's once-a-second refresh timer
    "vorlix-listen": 0.0,   # waits in accept
    "vorlix-input": 0.0,    # waits for a command (reports the pointer only in a session)
    "vorlix-watch": 0.0,    # message loop; its timer runs only after a clipboard change
    "vorlix-menus": 0.0,    # driven by its queue only
    "vorlix-levels": 0.0,   # watches the levels only in a session
    "vorlix-awake": 0.0,    # waits on its queue
    "vorlix-camera": 0.0,   # waits for a picture
    "vorlix-update": 0.0,   # sleeps a day between checks
    "vorlix-update-a": 0.2, # "vorlix-update-auto" (Linux keeps 15 characters): a 5 s tick
}

def switches(pid):
    counts = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        counts[tid] = (name, int(line.split()[1]))
        except OSError:
            pass
    return counts

def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS"))

first = last = switches(host)
wakes = {tid: 0 for tid in first}
end = time.monotonic() + seconds
while time.monotonic() < end:
    time.sleep(0.05)
    now = switches(host)
    for tid, (name, count) in now.items():
        if tid in last and count != last[tid][1]:
            wakes[tid] = wakes.get(tid, 0) + 1
    last = now

failed = False
print(f"{'thread':<24} {'wakes/s':>8} {'switches/s':>11} {'allowed/s':>10}")
for tid, (name, count) in sorted(last.items(), key=lambda item: int(item[0])):
    rate = wakes.get(tid, 0) / seconds
    raw = (count - first.get(tid, (name, count))[1]) / seconds
    # Any other thread of ours has no reason to wake while nothing happens;
    # threads without our names are Wine's own.
    allowed = ALLOWED.get(name, 0.0 if name.startswith("vorlix-") else None)
    verdict = "not ours" if allowed is None else "ok"
    if allowed is not None and rate > 2 * allowed + 0.2:
        verdict, failed = "TOO OFTEN", True
    shown = "-" if allowed is None else f"{allowed:g}"
    print(f"{name:<24} {rate:>8.2f} {raw:>11.2f} {shown:>10}  {verdict}")

host_mb, bare_mb = rss_kb(host) / 1024, rss_kb(bare) / 1024
print(f"resident: host {host_mb:.1f} MB, bare window program {bare_mb:.1f} MB, difference {host_mb - bare_mb:.1f} MB")
if host_mb - bare_mb > 25:
    print("the host holds more than 25 MB above the bare window program", file=sys.stderr)
    failed = True
sys.exit(1 if failed else 0)
EOF
