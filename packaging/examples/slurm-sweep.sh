#!/bin/bash
# A ferrogrid-batch sweep on a Slurm cluster: an array job whose tasks each run
# one share of the points, then a job that waits for all of them, merges their
# tables into the table the whole run writes and draws its figure; or, when a
# share is missing, says which and how to merge what there is.
#
# Submit from a login node (not with sbatch; this script calls sbatch itself).
# Without an argument it prints this text and submits nothing.
#
#   FERRO_SHARES=16 \
#   FERRO_ARGS="--temperatures 1.5:3.5:0.05 --equilibrate 5000 --sweeps 1000000 --seed 42" \
#       bash slurm-sweep.sh submit
#
# Without an argument it prints this text and submits nothing. Before
# submitting it checks every setting: FERRO_SHARES a whole number from 1 to
# 1000 (in digits alone), FERRO_CHECKPOINT_MINUTES one from 1 to 1440, and the
# run's options with the program's own --check (so a FERRO_ARGS without --seed
# is refused here, not by every task later). Nothing is evaluated by the shell.
#
# It writes two job scripts into FERRO_OUT with every setting in them (so the
# jobs need nothing from the environment: --export=NONE changes nothing),
# submits them and prints the two job ids. Results, in FERRO_OUT:
#   task.sh, merge.sh          the job scripts; `sbatch --array=K task.sh`
#                              runs share K again alone (N is in the script)
#   share-K.csv, share-K.out   each share's table once finished, and its
#                              messages (every start and stop of the task)
#   running-share-K.csv, share-K.checkpoint
#                              a share under way: its table so far and its
#                              checkpoint, from which a requeued task goes on
#   sweep.csv, sweep.png       the merged table and its figure
#   merge.out                  the merge job's messages
#
# A task gets SIGTERM 120 s before its time limit (--signal=B:TERM@120): the
# program writes its checkpoint and stops, and the task requeues itself; a
# task requeued or preempted by Slurm (--requeue) stops the same way. Either
# way it starts again where it stopped, and its table is the one an unstopped
# task writes. Checkpoints are also written every FERRO_CHECKPOINT_MINUTES, so
# a node that fails loses at most that much of each share.
#
# Settings:
#   FERRO_BATCH    the program (default: ferrogrid-batch on the PATH)
#   FERRO_ARGS     the run's options, split at blanks; must hold --seed, so
#                  that every share draws the numbers the whole run would; not
#                  --shard, --output, --checkpoint, --resume, --jobs or --plot,
#                  which the jobs set
#   FERRO_SHARES   tasks of the array job (default 4)
#   FERRO_CHECKPOINT_MINUTES   minutes between checkpoints (default 10)
#   FERRO_OUT      the folder for the results, on a file system every node
#                  sees (letters, digits and _ . / + - only)
#   FERRO_SBATCH   further sbatch options for both jobs, split at blanks (such
#                  as "--partition=long --time=2-00:00:00 --account=phys")
set -euo pipefail

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; }
die() { echo "slurm-sweep.sh: $*" >&2; exit 2; }

# A whole number in decimal digits alone, from $2 to $3, printed without
# leading zeros; refused otherwise. The text is only matched, never evaluated.
whole() {
    local name=$1 low=$2 high=$3 value=$4
    [[ $value =~ ^[0-9]{1,7}$ ]] || die "$name=${value@Q} is not a whole number from $low to $high"
    value=$((10#$value)) # digits alone: safe to read as a number
    ((value >= low && value <= high)) || die "$name=$value is not a whole number from $low to $high"
    echo "$value"
}

case ${1:-} in
submit) ;;
'' | -h | --help)
    usage
    exit 2
    ;;
*) die "unknown command ${1@Q}: run it without arguments to read how it is used" ;;
esac
[ -z "${SLURM_JOB_ID:-}" ] || die "submit from a login node, not inside a job"

batch=$(command -v -- "${FERRO_BATCH:-ferrogrid-batch}") || die "no program ${FERRO_BATCH:-ferrogrid-batch}"
batch=$(readlink -f -- "$batch")
read -r -a args <<<"${FERRO_ARGS:---temperatures 1.5:3.5:0.25 --equilibrate 2000 --sweeps 100000 --seed 1}"
read -r -a sbatch_options <<<"${FERRO_SBATCH:-}"
shares=$(whole FERRO_SHARES 1 1000 "${FERRO_SHARES:-4}")
minutes=$(whole FERRO_CHECKPOINT_MINUTES 1 1440 "${FERRO_CHECKPOINT_MINUTES:-10}")
out=${FERRO_OUT:-$PWD/ferrogrid-sweep}
[[ $out =~ ^[A-Za-z0-9_./+-]+$ ]] || die "FERRO_OUT=${out@Q} holds more than letters, digits and _ . / + -"
for a in "${args[@]}"; do
    case ${a%%=*} in
    --shard | --output | --checkpoint | --resume | --jobs | --plot | --checkpoint-every)
        die "FERRO_ARGS holds ${a%%=*}, which the jobs set themselves" ;;
    esac
done
mkdir -p -- "$out"
out=$(cd -- "$out" && pwd)
# The options as the first task runs them, checked by the program itself.
"$batch" "${args[@]}" --shard "0/$shares" --output "$out/running-share-0.csv" \
    --checkpoint "$out/share-0.checkpoint" --checkpoint-every "$minutes" --check ||
    die "FERRO_ARGS: the program refuses these options (above); nothing was submitted"

# The job scripts, every setting written into them as a quoted word.
q() { printf '%q ' "$@"; }
cat >"$out/task.sh" <<TASK
#!/bin/bash
# One share of a ferrogrid-batch sweep, written by slurm-sweep.sh: share K of
# $shares, K the array task id. A task stopped by SIGTERM (its time limit near,
# a requeue, a preemption) leaves a checkpoint and starts again from it.
#SBATCH --job-name=ferrogrid-sweep
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --signal=B:TERM@120
#SBATCH --requeue
#SBATCH --open-mode=append
#SBATCH --output=$out/share-%a.out
set -uo pipefail
batch=$(q "$batch")
args=($(q "${args[@]}"))
shares=$shares
minutes=$minutes
out=$(q "$out")
k=\${SLURM_ARRAY_TASK_ID:-}
[[ \$k =~ ^[0-9]{1,7}\$ ]] && ((10#\$k < shares)) || { echo "task.sh: task id '\$k' is not a share 0 to \$((shares - 1))" >&2; exit 2; }
k=\$((10#\$k))
checkpoint=\$out/share-\$k.checkpoint
from=(--checkpoint "\$checkpoint")
[ -e "\$checkpoint" ] && from=(--resume "\$checkpoint")
echo "task.sh: share \$k/\$shares on \$(hostname) at \$(date -u +%FT%TZ)\$([ -e "\$checkpoint" ] && echo ", from its checkpoint")"
"\$batch" --jobs "\${SLURM_CPUS_PER_TASK:-1}" "\${args[@]}" --shard "\$k/\$shares" --output "\$out/running-share-\$k.csv" \\
    "\${from[@]}" --checkpoint-every "\$minutes" &
pid=\$!
stopped=false
trap 'stopped=true; kill -TERM \$pid 2>/dev/null' TERM
status=0
wait \$pid || status=\$?
while kill -0 \$pid 2>/dev/null; do wait \$pid || status=\$?; done
if [ "\$status" -eq 0 ]; then
    mv -f "\$out/running-share-\$k.csv" "\$out/share-\$k.csv"
    echo "task.sh: share \$k/\$shares finished: \$out/share-\$k.csv"
elif \$stopped && [ -e "\$checkpoint" ]; then
    # The time limit is near (or Slurm stops the task): again later, from the checkpoint.
    echo "task.sh: share \$k/\$shares stopped; requeued to go on from \$checkpoint"
    scontrol requeue "\${SLURM_ARRAY_JOB_ID}_\$k" 2>/dev/null || true
fi
exit "\$status"
TASK
cat >"$out/merge.sh" <<MERGE
#!/bin/bash
# The merge of a ferrogrid-batch sweep's $shares shares, written by slurm-sweep.sh.
#SBATCH --job-name=ferrogrid-merge
#SBATCH --ntasks=1
#SBATCH --output=$out/merge.out
set -uo pipefail
batch=$(q "$batch")
shares=$shares
out=$(q "$out")
tables=() missing=()
for ((k = 0; k < shares; k++)); do
    if [ -e "\$out/share-\$k.csv" ]; then tables+=("\$out/share-\$k.csv"); else missing+=("\$k"); fi
done
if [ \${#missing[@]} -gt 0 ]; then
    echo "merge.sh: \${#missing[@]} of \$shares shares missing: \${missing[*]} (their messages: \$out/share-K.out)" >&2
    echo "merge.sh: run one again alone with: sbatch --array=\${missing[0]} \$out/task.sh (then sbatch \$out/merge.sh)" >&2
    [ \${#tables[@]} -eq 0 ] ||
        echo "merge.sh: or merge what there is: \$batch --merge \${tables[*]} --allow-missing --output \$out/sweep.csv" >&2
    exit 1
fi
"\$batch" --merge "\${tables[@]}" --output "\$out/sweep.csv" || exit
"\$batch" --plot-table "\$out/sweep.csv" --plot "\$out/sweep.png" || exit
echo "merge.sh: merged \$shares shares into \$out/sweep.csv, figure \$out/sweep.png"
MERGE
chmod +x "$out/task.sh" "$out/merge.sh"

array=$(sbatch --parsable "${sbatch_options[@]}" --array="0-$((shares - 1))" "$out/task.sh")
array=${array%%;*}
# afterany: the merge runs however the tasks ended, and names the shares missing.
merge=$(sbatch --parsable "${sbatch_options[@]}" --dependency="afterany:$array" "$out/merge.sh")
merge=${merge%%;*}
echo "array job $array ($shares shares), merge job $merge; results in $out"
