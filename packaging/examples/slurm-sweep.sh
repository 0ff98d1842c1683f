#!/bin/bash
# A ferrogrid-batch sweep on a Slurm cluster: an array job whose tasks each run
# one share of the points, then a job that waits for all of them
# (--dependency=afterok), merges their tables into the table the whole run
# writes and draws its figure.
#
# Submit from a login node (not with sbatch; this script calls sbatch itself).
# Without an argument it prints this text and submits nothing.
#
#   FERRO_SHARES=16 \
#   FERRO_ARGS="--temperatures 1.5:3.5:0.05 --equilibrate 5000 --sweeps 1000000 --seed 42" \
#       bash slurm-sweep.sh submit
#
# It prints the two job ids. Results, in FERRO_OUT (default ./ferrogrid-sweep):
#   share-K.csv, share-K.out   each share's table and its messages (a line when
#                              it starts and one when it ends)
#   sweep.csv, sweep.png       the merged table and its figure
#   merge.out                  the merge job's messages
#
# Settings, from the environment (sbatch hands it on to the jobs):
#   FERRO_BATCH   the program (default: ferrogrid-batch on the PATH)
#   FERRO_ARGS    the run's options, split at blanks; must hold --seed, so that
#                 every share draws the same numbers the whole run would
#   FERRO_SHARES  tasks of the array job (default 4)
#   FERRO_OUT     the folder for the results, on a file system every node sees
#   FERRO_SBATCH  further sbatch options for both jobs, split at blanks (such
#                 as "--partition=long --time=2-00:00:00 --account=phys")
#
# By hand, the same steps: `sbatch --array=0-15 slurm-sweep.sh` (the array's
# task ids must run from 0), then `sbatch --dependency=afterok:JOBID
# slurm-sweep.sh merge`. Each task runs `ferrogrid-batch --shard K/N` with K
# its task id and N the array's task count, on as many threads as it has CPUs
# (--cpus-per-task).
#
#SBATCH --job-name=ferrogrid-sweep
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
set -euo pipefail

batch=${FERRO_BATCH:-ferrogrid-batch}
read -r -a args <<< "${FERRO_ARGS:---temperatures 1.5:3.5:0.25 --equilibrate 2000 --sweeps 100000 --seed 1}"
read -r -a sbatch_options <<< "${FERRO_SBATCH:-}"
out=${FERRO_OUT:-$PWD/ferrogrid-sweep}
usage() { sed -n '2,/^#SBATCH/{/^#SBATCH/d;s/^# \{0,1\}//;p;}' "${BASH_SOURCE[0]}"; }

case ${1:-} in
merge)
    # Every share's table, in whatever order: the merge puts the rows in
    # point order and refuses a missing, doubled or foreign point.
    shopt -s nullglob
    tables=("$out"/share-*.csv)
    [ ${#tables[@]} -gt 0 ] || { echo "slurm-sweep.sh: no share-*.csv in $out" >&2; exit 1; }
    "$batch" --merge "${tables[@]}" --output "$out/sweep.csv"
    # The table holds the run's settings for the caption (a command takes
    # only the options that have an effect on it: no run options here).
    "$batch" --plot-table "$out/sweep.csv" --plot "$out/sweep.png"
    echo "slurm-sweep.sh: merged ${#tables[@]} shares into $out/sweep.csv, figure $out/sweep.png"
    ;;
submit | '')
    if [ -n "${SLURM_ARRAY_TASK_ID:-}" ]; then
        # A task of the array job: its share of the points.
        exec "$batch" --jobs "${SLURM_CPUS_PER_TASK:-1}" "${args[@]}" \
            --shard "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT" --output "$out/share-$SLURM_ARRAY_TASK_ID.csv"
    fi
    # Outside an array task only `submit` submits.
    [ "${1:-}" = submit ] || { usage; exit 2; }
    [ -z "${SLURM_JOB_ID:-}" ] || { echo "slurm-sweep.sh: submit from a login node, not inside a job" >&2; exit 2; }
    shares=${FERRO_SHARES:-4}
    mkdir -p "$out"
    FERRO_OUT=$(cd "$out" && pwd)
    export FERRO_OUT FERRO_BATCH="$batch"
    script=$(readlink -f "${BASH_SOURCE[0]}")
    array=$(sbatch --parsable "${sbatch_options[@]}" --array="0-$((shares - 1))" \
        --output="$FERRO_OUT/share-%a.out" "$script")
    array=${array%%;*}
    merge=$(sbatch --parsable "${sbatch_options[@]}" --job-name=ferrogrid-merge --dependency="afterok:$array" \
        --kill-on-invalid-dep=yes --output="$FERRO_OUT/merge.out" "$script" merge)
    merge=${merge%%;*}
    echo "array job $array ($shares shares), merge job $merge; results in $FERRO_OUT"
    ;;
*)
    usage >&2
    exit 2
    ;;
esac
