#!/bin/sh
# Installs what is missing, builds everything into build/, generates the bundled sample
# sequence and counts it with the headless counter. Results go to results/.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build" -j"$(nproc)"

# The sample: 40 frames of 640 x 480, shifts 160, 100, 120, 160 repeated; fixed seed,
# so every run writes the same frames.
sample="$top/build/sample-flow"
rm -rf "$sample"
"$top/build/tools/tessel-flowgen" --out "$sample" --frames 40 --shifts 160,100,120,160 --seed 7

results="$top/results"
rm -rf "$results/figures" "$results/particles.csv" "$results/size-distribution.png" "$results/progress.txt" \
  "$results/log_KOV.txt"
mkdir -p "$results"
# The counter writes its log (log_KOV.txt) to the working directory, its progress to
# standard error and the summary to standard output.
cd "$results"
if ! "$top/build/tools/tessel-count" --csv particles.csv --export figures --histogram size-distribution.png \
  "$sample" 2>progress.txt; then
  cat progress.txt >&2
  exit 1
fi
echo "Results in $results: particles.csv, figures/ (pos_/res_ pairs), size-distribution.png, progress.txt," \
  "log_KOV.txt"
