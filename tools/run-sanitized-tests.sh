#!/bin/sh
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (warnings are errors) and runs the whole test suite there (widget tests
# offscreen), leak checks included. Any finding fails the test that made it, and so this
# script. Run after tools/run-tests.sh, which installs the packages.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-asan"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSEL_SANITIZE=ON -DTESSEL_BUILD_BENCH=OFF \
  -DTESSEL_WARNINGS_AS_ERRORS=ON
cmake --build "$build" -j"$(nproc)"

# Reports go to standard error with a stack; the first one ends the process with a
# non-zero status. No leak is suppressed.
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS UBSAN_OPTIONS QT_QPA_PLATFORM
cd "$build"
ctest --output-on-failure -j"$(nproc)"
