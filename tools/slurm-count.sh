#!/bin/bash
# Counts the folders of a list on a Slurm cluster, one folder per task of a job array, each
# into its own JSON file (tessel-count --json); the files merge into one JSON Lines file:
#
#   sbatch --array=1-$(grep -c '' folders.txt) tools/slurm-count.sh folders.txt results [options]
#   cat results/*.json > counts.jsonl      # once every task has ended
#
# folders.txt holds one folder a line (relative to the directory sbatch is called in, or
# absolute). Task i counts line i into results/<i>.json, i padded with zeros to the digits
# of the list's length so that the files sort in list order. The options are tessel-count's
# counting options (--method, --min-px, ...); the report names the folder by its absolute
# path. Each task works in results/log/<i>/, where its log_KOV.txt goes: tasks on many nodes
# appending to one shared file could mix their lines. A task ends with tessel-count's exit
# status; its progress goes to Slurm's output file. TESSEL_COUNT names the counter when it is
# not on the PATH.
#
# Chunked: one long sequence (a folder or a recording) split into N parts that share their
# end frames, one part per task, counted on the counting line (tessel-count --frames); the
# parts' summaries then sum into one (tessel-count --merge), which equals a run over the whole:
#
#   sbatch --array=1-8 tools/slurm-count.sh --parts 8 recording.avi results [options]
#   tessel-count --merge results/*.json > counts.json      # once every task has ended
#
# Task i of N counts frames floor((i-1)(F-1)/N) to floor(i(F-1)/N) of the sequence's F frames
# (found by a short count of its first frames) into results/<i>.json; --mode crossing is given.
#SBATCH --job-name=tessel-count
#SBATCH --cpus-per-task=3

set -euo pipefail

parts=0
if [ "${1:-}" = "--parts" ]; then
    parts=${2:-}
    shift 2 || true
    if ! [[ "$parts" =~ ^[1-9][0-9]*$ ]]; then
        echo "usage: sbatch --array=1-N $0 --parts N SEQUENCE OUT_DIR [tessel-count options]" >&2
        exit 2
    fi
fi
if [ $# -lt 2 ]; then
    echo "usage: sbatch --array=1-N $0 FOLDER_LIST OUT_DIR [tessel-count options]" >&2
    echo "       sbatch --array=1-N $0 --parts N SEQUENCE OUT_DIR [tessel-count options]" >&2
    exit 2
fi
list=$1
out=$2
shift 2
task=${SLURM_ARRAY_TASK_ID:?"run as a Slurm array job (sbatch --array=1-N), or set SLURM_ARRAY_TASK_ID"}
counter=${TESSEL_COUNT:-tessel-count}
if [[ "$counter" == */* ]]; then
    counter=$(realpath -m -- "$counter")
fi

if [ "$parts" -gt 0 ]; then
    sequence=$(realpath -ms -- "$list")
    id=$(printf '%0*d' "${#parts}" "$task")
    mkdir -p "$out/log/$id"
    json=$(realpath -m -- "$out/$id.json")
    cd "$out/log/$id"
    # The sequence's length: a part of its first two frames reads only them and their context.
    frames=$("$counter" --json --mode crossing --frames 0:1 "$@" -- "$sequence" 2>/dev/null |
        sed -n 's/.*"sequence_frames":\([0-9]*\).*/\1/p' || true)
    if [ -z "$frames" ] || [ $((frames - 1)) -lt "$parts" ]; then
        echo "[ERRO] Can not split $sequence into $parts parts (${frames:-no} frames found)" >&2
        exit 1
    fi
    first=$(((task - 1) * (frames - 1) / parts))
    last=$((task * (frames - 1) / parts))
    "$counter" --json --mode crossing "$@" --frames "$first:$last" -- "$sequence" >"$json"
    exit
fi

folder=$(sed -n "${task}p" "$list")
if [ -z "$folder" ]; then
    echo "[ERRO] No folder on line $task of $list" >&2
    exit 1
fi
lines=$(grep -c '' "$list")
id=$(printf '%0*d' "${#lines}" "$task")

mkdir -p "$out/log/$id"
json=$(realpath -m -- "$out/$id.json")
folder=$(realpath -ms -- "$folder")
cd "$out/log/$id"
"$counter" --json "$@" -- "$folder" >"$json"
