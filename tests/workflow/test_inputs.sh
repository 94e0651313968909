#!/usr/bin/env bash
# The forms of input the workflow takes, each run against one whole Tessellar
# run on the original files:
#  A. a plain (uncompressed) study VCF, bgzipped into OUTDIR/inputs/; a panel
#     split per contig as BCF files named with a pattern, whose contigs lack
#     the study's "chr" prefix (panel.A.bcf holds contig A for the study's
#     chrA), without indexes: the workflow indexes them beside them and changes
#     no input file;
#  B. a BCF study without index and a panel with only a CSI index, with
#     `contigs` naming one contig: only that contig is imputed, and the
#     per-site file holds only its SNPs.
#   tests/workflow/test_inputs.sh [TESSELLAR]
set -euo pipefail
TEST_NAME=workflow-inputs
source "$(dirname "$0")/lib.sh"

begin_test inputs "${1:-}"
DATA=$WORK/data
run_workflow() {  # run_workflow CONFIG LOG
    run_snakemake "$1" > "$2" 2>&1 ||
        { tail -n 30 "$2"; fail "the workflow failed ($1)"; }
}

# A
mkdir -p "$WORK/a"
zcat "$DATA/study.vcf.gz" > "$WORK/a/study.vcf"
printf 'chrA\tA\nchrB\tB\n' > "$WORK/a/rename.txt"
for c in A B; do
    bcftools view --no-version -r "chr$c" "$DATA/panel.vcf.gz" |
        bcftools annotate --no-version --rename-chrs "$WORK/a/rename.txt" -Ob -o "$WORK/a/panel.$c.bcf"
done
(cd "$WORK/a" && md5sum study.vcf panel.A.bcf panel.B.bcf > "$WORK/a.md5")
write_config "$WORK/a.yaml" study="$WORK/a/study.vcf" panel="$WORK/a/panel.{contig}.bcf" \
    ped="$DATA/panel.ped" tessellar="$TESSELLAR" threads=2 chunk_size=$CHUNK outdir="$WORK/a/out"
run_workflow "$WORK/a.yaml" "$WORK/a.log"
check_identity "$WORK/a/out" "$WORK/whole.vcf.gz" "$WORK/whole.sites.tsv"
(cd "$WORK/a" && md5sum -c --quiet "$WORK/a.md5") || fail "an input file changed (A)"
for f in panel.A.bcf.csi panel.B.bcf.csi out/inputs/study.vcf.gz.tbi; do
    [ -s "$WORK/a/$f" ] || fail "no index $f (A)"
done
cmp -s <(zcat "$WORK/a/out/inputs/study.vcf.gz") "$WORK/a/study.vcf" || fail "the staged study is not the plain study (A)"

# B
mkdir -p "$WORK/b"
bcftools view --no-version -Ob -o "$WORK/b/study.bcf" "$DATA/study.vcf.gz"
cp "$DATA/panel.vcf.gz" "$WORK/b/panel.vcf.gz"
bcftools index "$WORK/b/panel.vcf.gz"  # .csi only
write_config "$WORK/b.yaml" study="$WORK/b/study.bcf" panel="$WORK/b/panel.vcf.gz" \
    ped="$DATA/panel.ped" tessellar="$TESSELLAR" threads=1 chunk_size=$CHUNK outdir="$WORK/b/out" \
    contigs="[chrB]"
run_workflow "$WORK/b.yaml" "$WORK/b.log"
[ -s "$WORK/b/study.bcf.csi" ] || fail "no index beside the BCF study (B)"
[ ! -e "$WORK/b/panel.vcf.gz.tbi" ] || fail "a .tbi was made beside a panel that had a .csi (B)"
[ ! -e "$WORK/b/out/chrA.vcf.gz" ] || fail "chrA was imputed, the config names chrB alone (B)"
zcat "$WORK/whole.vcf.gz" | awk -F'\t' '/^#/ || $1 == "chrB"' | bgzip -c > "$WORK/whole.chrB.vcf.gz"
awk -F'\t' 'NR == 1 || $1 == "chrB"' "$WORK/whole.sites.tsv" > "$WORK/whole.chrB.sites.tsv"
check_identity "$WORK/b/out" "$WORK/whole.chrB.vcf.gz" "$WORK/whole.chrB.sites.tsv"
pass
