#!/usr/bin/env bash
# Builds and runs the test suite under ASan+UBSan and under TSan.
set -euo pipefail
filter="${SANITIZE_TESTS:-}"
for kind in address thread; do
  dir="build-$( [ $kind = address ] && echo asan || echo tsan )"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELUNA_SANITIZE=$kind >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
  export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 600 ${filter:+-R "$filter"})
done
