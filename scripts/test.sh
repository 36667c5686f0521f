#!/usr/bin/env bash
# Configures, builds and runs every suite: the native tests under ASan and
# UBSan, the same tests as Windows executables under Wine, the benchmarks
# (built, not run) and a bounded fuzzing run.
#   scripts/test.sh            everything
#   scripts/test.sh native     only the native (sanitizer) suite
#   scripts/test.sh windows    only the Windows suite under Wine
#   scripts/test.sh fuzz       only the fuzz run
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
what=${1:-all}
fuzz_seconds=${VORLIX_FUZZ_SECONDS:-60}

step() { printf '\n=== %s ===\n' "$*"; }

run_native() {
  step "native build with ASan+UBSan"
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j "$jobs"
  step "native tests"
  # A hook or thread left holding a finished function's locals stops here.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j "$jobs"
  step "native release build (benchmarks)"
  cmake --preset native >/dev/null
  cmake --build --preset native -j "$jobs"
}

run_windows() {
  step "Windows cross build"
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$jobs"
  step "Windows tests under Wine"
  # shellcheck source=scripts/wine-env.sh
  . "$root/scripts/wine-env.sh"
  wine_env_start
  trap wine_env_stop EXIT
  ctest --preset windows -j "$jobs"
  wine_env_stop
  trap - EXIT
}

run_fuzz() {
  step "fuzz build"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  shopt -s nullglob
  # Only the programs: the run logs beside them share the prefix.
  local targets=() f
  for f in "$root"/build/fuzz/fuzz_*; do
    [[ -f "$f" && -x "$f" && "$(basename "$f")" != *.* ]] && targets+=("$f")
  done
  if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz targets were built" >&2
    return 1
  fi
  step "fuzzing, ${fuzz_seconds} s in all"
  local each=$(( fuzz_seconds / ${#targets[@]} ))
  [ "$each" -ge 5 ] || each=5
  local pids=() t
  for t in "${targets[@]}"; do
    local name corpus
    name=$(basename "$t")
    corpus="$root/build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds="$root/fuzz/seeds/${name#fuzz_}"
    [ -d "$seeds" ] || seeds=
    ( "$t" -max_total_time="$each" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
        "$corpus" $seeds >"$root/build/fuzz/$name.log" 2>&1 \
      && echo "$name: no crash in ${each} s" \
      || { echo "$name: FAILED"; tail -n 40 "$root/build/fuzz/$name.log"; exit 1; } ) &
    pids+=($!)
  done
  local failed=0 p
  for p in "${pids[@]}"; do wait "$p" || failed=1; done
  [ $failed -eq 0 ] || return 1
  # Inputs up to 1 MiB at once, under a memory limit: a reader whose memory
  # grows many times faster than its input shows up here.
  local large=${VORLIX_FUZZ_LARGE_SECONDS:-20} target="$root/build/fuzz/fuzz_control_message"
  step "fuzzing control messages of up to 1 MiB, ${large} s"
  mkdir -p "$root/build/fuzz/corpus/large"
  "$target" -max_total_time="$large" -timeout=10 -max_len=1048576 -len_control=0 -rss_limit_mb=1024 \
      -malloc_limit_mb=128 -print_final_stats=0 "$root/build/fuzz/corpus/large" "$root/fuzz/seeds/control_message" \
      >"$root/build/fuzz/large.log" 2>&1 \
    && echo "fuzz_control_message (large inputs): no crash in ${large} s" \
    || { echo "fuzz_control_message (large inputs): FAILED"; tail -n 40 "$root/build/fuzz/large.log"; return 1; }
}

case "$what" in
  all)
    run_native
    run_windows
    run_fuzz
    ;;
  native) run_native ;;
  windows) run_windows ;;
  fuzz) run_fuzz ;;
  *) echo "usage: $0 [all|native|windows|fuzz]" >&2; exit 2 ;;
esac
step "all suites passed"
