#!/usr/bin/env bash
# Builds and runs the test suite under ASan+UBSan and under TSan. Neither
# build makes the benchmarks; the thread checker's build leaves out the fuzz
# corpus replays (single-threaded readers, replayed under ASan+UBSan here and
# in the plain build). Each phase's build and test times are printed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
filter="${SANITIZE_TESTS:-}"
jobs="${JOBS:-$(nproc)}"
for kind in address thread; do
  dir="build-$( [ $kind = address ] && echo asan || echo tsan )"
  replay=ON
  [ $kind = thread ] && replay=OFF
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELUNA_SANITIZE=$kind \
    -DVELUNA_BENCH=OFF -DVELUNA_FUZZ_REPLAY=$replay >/dev/null
  start=$(date +%s)
  cmake --build "$dir" -j "$jobs"
  built=$(date +%s)
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/support/tsan.supp"
  export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 ${filter:+-R "$filter"})
  echo "sanitize $kind: build $(( built - start )) s, tests $(( $(date +%s) - built )) s"
done
