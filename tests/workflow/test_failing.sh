#!/usr/bin/env bash
# Failures: a study record that only one chunk's job reads (chrB, a GT that
# names an allele the record lacks) fails that job; even with --keep-going,
# which runs everything else, the workflow fails with Tessellar's Error line in
# its output, chrB.vcf.gz, sites.tsv.gz and summary.tsv are not made, and chrA
# is complete. Rerunning the same command after the input is mended finishes
# the run. A study whose records are out of order fails at its index, with
# the indexer's message, and leaves no index and no output.
#   tests/workflow/test_failing.sh [TESSELLAR]
set -euo pipefail
TEST_NAME=workflow-failing-chunk
source "$(dirname "$0")/lib.sh"

begin_test fail "${1:-}"
DATA=$WORK/data

CHUNK=$BAD_CHUNK_SIZE
make_bad_study "$DATA" "$WORK/bad"

write_config "$WORK/config.yaml" study="$WORK/bad/study.vcf.gz" panel="$WORK/bad/panel.vcf.gz" \
    ped="$WORK/bad/panel.ped" tessellar="$TESSELLAR" threads=1 chunk_size=$CHUNK outdir="$WORK/out"
if run_snakemake "$WORK/config.yaml" --keep-going > "$WORK/run1.log" 2>&1; then
    fail "the workflow succeeded on a study with a bad record at chrB:$BAD_POS"
fi
grep -q "Error: .*position $BAD_POS.*allele 2" "$WORK/run1.log" ||
    { tail -n 30 "$WORK/run1.log"; fail "Tessellar's Error line for chrB:$BAD_POS is not in the workflow's output"; }
for f in chrB.vcf.gz chrB.vcf.gz.tbi sites.tsv.gz summary.tsv; do
    [ ! -e "$WORK/out/$f" ] || fail "$f exists after the failed chunk"
done
[ ! -e "$WORK/out/chunks/$BAD_CHUNK.vcf.gz" ] || fail "the failed chunk left its output"
grep -q -F "Error:" "$WORK/out/logs/impute/$BAD_CHUNK.log" || fail "the chunk $BAD_CHUNK did not fail"
[ -s "$WORK/out/chunks/$OTHER_CHUNK.vcf.gz" ] ||
    fail "the chunk $OTHER_CHUNK did not run or failed too (does it read the bad record now?): $(grep -F Error: "$WORK/out/logs/impute/$OTHER_CHUNK.log")"
[ -s "$WORK/out/chrA.vcf.gz" ] || fail "chrA.vcf.gz was not made (--keep-going)"
cmp -s <(zcat "$WORK/out/chrA.vcf.gz" | grep -v '^#') <(zcat "$WORK/whole.vcf.gz" | awk '$1 == "chrA"') ||
    fail "chrA.vcf.gz is not the whole run's chrA"

# Mend the input, rerun the same command: the run completes.
cp "$DATA/study.vcf.gz" "$WORK/bad/study.vcf.gz"
cp "$DATA/study.vcf.gz.tbi" "$WORK/bad/study.vcf.gz.tbi"
run_snakemake "$WORK/config.yaml" > "$WORK/run2.log" 2>&1 || { tail -n 30 "$WORK/run2.log"; fail "the rerun after mending the input failed"; }
check_identity "$WORK/out" "$WORK/whole.vcf.gz" "$WORK/whole.sites.tsv"

# Records out of order (two chrA records swapped), no index: the index job fails.
mkdir -p "$WORK/swapped"
awk -F'\t' '$1 == "chrA" && !/^#/ { n++ } n == 10 && !held { held = $0; next } { print } n == 11 && held && !done { print held; done = 1 }' \
    <(zcat "$DATA/study.vcf.gz") | bgzip -c > "$WORK/swapped/study.vcf.gz"
write_config "$WORK/config2.yaml" study="$WORK/swapped/study.vcf.gz" panel="$DATA/panel.vcf.gz" \
    ped="$DATA/panel.ped" tessellar="$TESSELLAR" threads=1 chunk_size=$CHUNK outdir="$WORK/out2"
if run_snakemake "$WORK/config2.yaml" --keep-going > "$WORK/run3.log" 2>&1; then
    fail "the workflow succeeded on a study with records out of order"
fi
grep -q "Unsorted positions on sequence" "$WORK/run3.log" ||
    { tail -n 30 "$WORK/run3.log"; fail "the indexer's message about the order is not in the output"; }
[ ! -e "$WORK/swapped/study.vcf.gz.tbi" ] || fail "a failed index was left beside the study"
[ -z "$(ls "$WORK/out2"/*.vcf.gz "$WORK/out2"/sites.tsv.gz "$WORK/out2"/summary.tsv 2> /dev/null)" ] ||
    fail "outputs exist after the failed index: $(ls "$WORK/out2")"
pass
