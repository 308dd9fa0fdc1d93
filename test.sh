#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
#   ./test.sh             the ordinary suite (release build with tests)
#   ./test.sh --sanitize  the suite under AddressSanitizer+UBSan, and the threaded tests (the
#                         calculation, the runner, the desktop program's runs, stops, closing
#                         during a run and isochronisation on the offscreen platform) under
#                         ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc)

if [ "${1:-}" = "--sanitize" ]; then
  tools/ensure-packages.sh clang libclang-rt-14-dev
  for preset in asan tsan-gui; do
    echo "== $preset =="
    cmake --preset "$preset" >/dev/null
    if [ "$preset" = tsan-gui ]; then
      # Only the threaded tests run under ThreadSanitizer: only they are built.
      cmake --build --preset "$preset" -j "$jobs" --target zuba_threads_tests
    else
      cmake --build --preset "$preset" -j "$jobs"
    fi
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions="$PWD/tools/tsan.supp" \
      ctest --preset "$preset" -j "$jobs"
  done
  exit 0
fi

tools/ensure-packages.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs" --timeout 600
