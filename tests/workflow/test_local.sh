#!/usr/bin/env bash
# The workflow on one machine (snakemake --cores 2) against one whole
# Tessellar run on the same two-contig data: the same records, header (but
# ##source and bcftools' lines) and per-site file; the chunk plan covers each
# contig without gaps or overlaps and has a chunk without SNPs. Then the
# summary's INFO means are checked against the per-site file.
#   tests/workflow/test_local.sh [TESSELLAR]
set -euo pipefail
TEST_NAME=workflow-local
source "$(dirname "$0")/lib.sh"

begin_test local "${1:-}"
write_config "$WORK/config.yaml" study="$WORK/data/study.vcf.gz" panel="$WORK/data/panel.vcf.gz" \
    ped="$WORK/data/panel.ped" tessellar="$TESSELLAR" threads=1 chunk_size=$CHUNK outdir="$WORK/out"
run_snakemake "$WORK/config.yaml" > "$WORK/snakemake.log" 2>&1 || { tail -n 30 "$WORK/snakemake.log"; fail "the workflow failed"; }

check_plan "$WORK/out" "$WORK/data"
check_identity "$WORK/out" "$WORK/whole.vcf.gz" "$WORK/whole.sites.tsv"

# summary.tsv: mean INFO of the imputed SNPs per MAF bin, worked out here
# from the whole run's per-site file
awk -F'\t' 'NR > 1 && ($9 == "imputed" || $9 == "typed+imputed") && $12 != "." {
        m = $11 + 0; b = (m < 0.01) ? 1 : (m < 0.05) ? 2 : (m < 0.20) ? 3 : 4
        n[b]++; s[b] += $12 }
    END { for (b = 1; b <= 4; b++) printf "%d %s\n", n[b], n[b] ? sprintf("%.4f", s[b] / n[b]) : "." }' \
    "$WORK/whole.sites.tsv" > "$WORK/bins.expected"
awk -F'\t' '$1 == "all" { for (i = 4; i <= 11; i += 2) print $i, $(i + 1) }' "$WORK/out/summary.tsv" > "$WORK/bins.got"
cmp -s "$WORK/bins.expected" "$WORK/bins.got" ||
    fail "summary.tsv's MAF bins differ: expected $(tr '\n' ';' < "$WORK/bins.expected"), got $(tr '\n' ';' < "$WORK/bins.got")"

# A rerun finds nothing to do.
run_snakemake "$WORK/config.yaml" -n > "$WORK/dryrun.log" 2>&1 || fail "the dry rerun failed: $(tail -n 5 "$WORK/dryrun.log")"
grep -q "Nothing to be done" "$WORK/dryrun.log" || fail "a rerun would redo jobs: $(grep -A8 '^Job stats' "$WORK/dryrun.log" | tr '\n' ' ')"
pass
