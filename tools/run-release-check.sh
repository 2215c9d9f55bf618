#!/bin/sh
# Builds the whole tree as Release (full optimisation, where GCC warns most) with warnings
# as errors into build-release/, installs it into a temporary prefix and runs the installed
# programs from another directory: tessel-count's help, and a count of the sample sequence
# (drawn by the installed tessel-flowgen) that must equal the build tree's count of it.
# Run after tools/run-tests.sh, which installs the packages.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-release"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSEL_WARNINGS_AS_ERRORS=ON
cmake --build "$build" -j"$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix"
for program in tessel tessel-count tessel-flowgen; do
  if ldd "$prefix/bin/$program" | grep -q 'not found'; then
    echo "Installed $program misses libraries:" >&2
    ldd "$prefix/bin/$program" | grep 'not found' >&2
    exit 1
  fi
done

# From a directory of its own, far from the source and build trees.
mkdir "$scratch/work"
cd "$scratch/work"
"$prefix/bin/tessel-count" --help > help.txt
grep -q -- '--mode' help.txt
"$prefix/bin/tessel-flowgen" --out sample --frames 40 --shifts 160,100,120,160 --seed 7 > /dev/null
# The summary without its time: the same numbers as the build tree's counter.
"$prefix/bin/tessel-count" --json sample 2> installed.err | sed 's/"finished_at":"[^"]*"//' > installed.json
"$build/tools/tessel-count" --json sample 2> built.err | sed 's/"finished_at":"[^"]*"//' > built.json
test -s installed.json
test -f log_KOV.txt
if ! cmp -s installed.json built.json; then
  echo "The installed tessel-count counts otherwise than the build tree's:" >&2
  diff installed.json built.json >&2 || true
  exit 1
fi
echo "Release build, install and installed count of the sample: fine ($(cat installed.json | head -c 160)...)"
