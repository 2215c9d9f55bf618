#!/bin/sh
# Installs what is missing, builds everything into build/ (warnings are errors) and runs
# the whole test suite; the benchmarks are left out (ctest -C Bench -L bench runs them).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSEL_WARNINGS_AS_ERRORS=ON
cmake --build "$top/build" -j"$(nproc)"
cd "$top/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
