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
#SBATCH --job-name=tessel-count
#SBATCH --cpus-per-task=3

set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: sbatch --array=1-N $0 FOLDER_LIST OUT_DIR [tessel-count options]" >&2
    exit 2
fi
list=$1
out=$2
shift 2
task=${SLURM_ARRAY_TASK_ID:?"run as a Slurm array job (sbatch --array=1-N), or set SLURM_ARRAY_TASK_ID"}
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
counter=${TESSEL_COUNT:-tessel-count}
if [[ "$counter" == */* ]]; then
    counter=$(realpath -m -- "$counter")
fi
cd "$out/log/$id"
"$counter" --json "$@" -- "$folder" >"$json"
