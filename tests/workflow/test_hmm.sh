#!/usr/bin/env bash
# The hmm engine in the workflow (engine: hmm, map: a genetic map of both
# contigs, one named with "chr" and one without): a study of ten panel
# samples' phased genotypes at the study's positions, imputed in chunks,
# gives the whole hmm run's records, header and per-site file.
#   tests/workflow/test_hmm.sh [TESSELLAR]
set -euo pipefail
TEST_NAME=workflow-hmm
source "$(dirname "$0")/lib.sh"

begin_test hmm "${1:-}"
DATA=$WORK/data
bcftools query -l "$DATA/panel.vcf.gz" | head -n 10 > "$WORK/samples.txt"
bcftools query -f '%CHROM\t%POS\n' "$DATA/study.vcf.gz" > "$WORK/positions.tsv"
bcftools view --no-version -S "$WORK/samples.txt" -T "$WORK/positions.tsv" -Oz \
    -o "$WORK/phased.vcf.gz" "$DATA/panel.vcf.gz"
tabix -p vcf "$WORK/phased.vcf.gz"
printf 'chrA a 0 1000\nchrA b 0.6 600000\nB c 0 5000\nB d 0.3 400000\n' > "$WORK/genetic.map"
"$TESSELLAR" -engine hmm -map "$WORK/genetic.map" -gfile "$WORK/phased.vcf.gz" \
    -efile "$DATA/panel.vcf.gz" -ped "$DATA/panel.ped" -ofile "$WORK/whole.hmm.vcf.gz" \
    -sites "$WORK/whole.hmm.sites.tsv" > "$WORK/whole.hmm.log" 2>&1 ||
    fail "the whole hmm run failed: $(grep -F Error: "$WORK/whole.hmm.log")"

write_config "$WORK/config.yaml" study="$WORK/phased.vcf.gz" panel="$DATA/panel.vcf.gz" \
    ped="$DATA/panel.ped" tessellar="$TESSELLAR" threads=2 chunk_size=$CHUNK outdir="$WORK/out" \
    engine=hmm map="$WORK/genetic.map"
run_snakemake "$WORK/config.yaml" > "$WORK/snakemake.log" 2>&1 ||
    { tail -n 30 "$WORK/snakemake.log"; fail "the workflow failed"; }
check_identity "$WORK/out" "$WORK/whole.hmm.vcf.gz" "$WORK/whole.hmm.sites.tsv"
grep -rq "(the hmm engine)" "$WORK/out/logs/impute" || fail "the chunks did not run the hmm engine"
pass
