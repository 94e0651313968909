#!/usr/bin/env bash
# The workflow submitted to a real SLURM scheduler through
# workflow/profiles/slurm: a private single-node cluster (munged, slurmctld,
# slurmd; no accounting database) started here for the test and stopped
# afterwards, whatever happens. The outputs must be those of one whole
# Tessellar run, as in test_local.sh (with 200 kb chunks, for fewer jobs), and
# every chunk must have run as a SLURM job with the memory its size gives.
# Then a study with a bad record in one chunk: the workflow fails with
# Tessellar's Error line in its output and leaves no output of that contig.
# Needs root and Debian's slurm-wlm and munge; SKIPPED without them.
#   tests/workflow/test_slurm.sh [TESSELLAR]
set -euo pipefail
TEST_NAME=workflow-slurm
source "$(dirname "$0")/lib.sh"
source "$WF_TESTS/slurm_cluster.sh"

need_commands snakemake bcftools tabix bgzip python3
[ "$(id -u)" -eq 0 ] || skip "not root: the test starts its own munged, slurmctld and slurmd"
PATH=$PATH:/usr/sbin
for cmd in munged slurmctld slurmd sbatch scontrol squeue; do
    command -v "$cmd" > /dev/null || skip "$cmd is not installed (apt-get install slurm-wlm munge)"
done
find_tessellar "${1:-}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tsl-wf-slurm.XXXXXX")
SNAKEMAKE_PID=
cleanup() {
    if [ -n "$SNAKEMAKE_PID" ] && kill -0 "$SNAKEMAKE_PID" 2> /dev/null; then
        kill "$SNAKEMAKE_PID"  # Snakemake cancels its SLURM jobs
        wait "$SNAKEMAKE_PID" 2> /dev/null || true
    fi
    slurm_stop
    remove_work
}
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM

slurm_start "$WORK/cluster" 2> "$WORK/slurm_start.err" ||
    skip "cannot start a local SLURM cluster: $(tr '\n' ' ' < "$WORK/slurm_start.err")"
# USER is left as it is (CI may not set it): this route does not read it.

make_data "$WORK"
CHUNK=200000
write_config "$WORK/config.yaml" study="$WORK/data/study.vcf.gz" panel="$WORK/data/panel.vcf.gz" \
    ped="$WORK/data/panel.ped" tessellar="$TESSELLAR" threads=1 chunk_size=$CHUNK outdir="$WORK/out" \
    resources="{tessellar: {mem_mb_base: 700, mem_mb_per_mcell: 100000}}"
# Snakemake 7 checks cluster jobs every 10 s, every second when CI=true.
# In the background, so that a signal to this test cleans up at once.
run_on_slurm() {  # run_on_slurm CONFIG LOG
    local status=0
    CI=true timeout 600 snakemake -s "$SNAKEFILE" --configfile "$1" \
        --profile "$WF_ROOT/workflow/profiles/slurm" --directory "$WORK" > "$2" 2>&1 &
    SNAKEMAKE_PID=$!
    wait "$SNAKEMAKE_PID" || status=$?
    SNAKEMAKE_PID=
    return $status
}
if ! run_on_slurm "$WORK/config.yaml" "$WORK/snakemake.log"; then
    tail -n 30 "$WORK/snakemake.log"
    tail -n 10 "$WORK/cluster/log/slurmctld.log"
    fail "the workflow failed on SLURM"
fi

check_plan "$WORK/out" "$WORK/data" any
check_identity "$WORK/out" "$WORK/whole.vcf.gz" "$WORK/whole.sites.tsv"

# Every chunk ran as a SLURM job, which completed and asked for the memory
# that its chunk's panel genotypes give (700 MB + 100000 MB per million).
chunks=$(cat "$WORK"/out/plan/chr?.tsv | grep -vc '^#')
scontrol show job -o > "$WORK/jobs.txt"
grep 'JobName=tessellar.impute ' "$WORK/jobs.txt" > "$WORK/impute_jobs.txt" || true
[ "$(wc -l < "$WORK/impute_jobs.txt")" -eq "$chunks" ] ||
    fail "SLURM ran $(wc -l < "$WORK/impute_jobs.txt") impute jobs, the plan has $chunks chunks"
! grep -v 'JobState=COMPLETED' "$WORK/impute_jobs.txt" > /dev/null ||
    fail "an impute job did not complete: $(grep -v 'JobState=COMPLETED' "$WORK/impute_jobs.txt" | head -n 1)"
grep -o 'MinMemoryNode=[0-9]*M' "$WORK/impute_jobs.txt" | tr -dc '0-9\n' | sort -n > "$WORK/mem.got"
awk -F'\t' '!/^#/ { m = 700 + 100000 * ($5 * $6 / 1e6); c = int(m); if (c < m) c++; print c }' \
    "$WORK"/out/plan/chr?.tsv | sort -n > "$WORK/mem.expected"
cmp -s "$WORK/mem.got" "$WORK/mem.expected" ||
    fail "the impute jobs' memory requests $(tr '\n' ' ' < "$WORK/mem.got") are not those of their chunks $(tr '\n' ' ' < "$WORK/mem.expected")"

make_bad_study "$WORK/data" "$WORK/bad"
write_config "$WORK/bad.yaml" study="$WORK/bad/study.vcf.gz" panel="$WORK/bad/panel.vcf.gz" \
    ped="$WORK/bad/panel.ped" tessellar="$TESSELLAR" threads=1 chunk_size=$BAD_CHUNK_SIZE outdir="$WORK/bad/out"
if run_on_slurm "$WORK/bad.yaml" "$WORK/bad.log"; then
    fail "the workflow succeeded on SLURM with a bad record at chrB:$BAD_POS"
fi
grep -q "Error: .*position $BAD_POS.*allele 2" "$WORK/bad.log" ||
    { tail -n 30 "$WORK/bad.log"; fail "Tessellar's Error line for chrB:$BAD_POS is not in the workflow's output on SLURM"; }
for f in chrB.vcf.gz chrB.vcf.gz.tbi sites.tsv.gz summary.tsv chunks/$BAD_CHUNK.vcf.gz; do
    [ ! -e "$WORK/bad/out/$f" ] || fail "$f exists after the failed chunk on SLURM"
done
pass
