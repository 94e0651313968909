#!/usr/bin/env bash
# The forms of input the workflow takes, each run against one whole Tessellar
# run on the original files:
#  A. paths with blanks (inputs, outdir and the binary): no job fails and no
#     stray file appears; a plain (uncompressed) study VCF, bgzipped into
#     OUTDIR/inputs/; a panel split per contig as BCF files named with a
#     pattern, whose contigs lack the study's "chr" prefix (panel.A.bcf holds
#     contig A for the study's chrA; panel.C.bcf the contig that the study
#     lacks, listed as C), without indexes: the workflow indexes them beside
#     them and changes no input file;
#  B. a BCF study without index and a panel with only a CSI index, with
#     `contigs` naming one contig: only that contig is imputed, and the
#     per-site file holds only its SNPs;
#  C. a separate haplotype file (the haplotypes key) without index, lacking
#     some of the panel's SNPs on chrA and on chrC (the contig without study);
#  D. the per-site lines of a contig without study when the haplotype file
#     has no record on it (workflow/scripts/no_study_sites.sh alone).
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
A="$WORK/a b"
mkdir -p "$A" "$WORK/bin dir"
ln -s "$TESSELLAR" "$WORK/bin dir/tessellar"
zcat "$DATA/study.vcf.gz" > "$A/study.vcf"
cp "$DATA/panel.ped" "$A/panel.ped"
printf 'chrA\tA\nchrB\tB\nchrC\tC\n' > "$A/rename.txt"
for c in A B C; do
    bcftools view --no-version -r "chr$c" "$DATA/panel.vcf.gz" |
        bcftools annotate --no-version --rename-chrs "$A/rename.txt" -Ob -o "$A/panel.$c.bcf"
done
(cd "$A" && md5sum study.vcf panel.A.bcf panel.B.bcf panel.C.bcf panel.ped > "$WORK/a.md5")
write_config "$WORK/a.yaml" study="'$A/study.vcf'" panel="'$A/panel.{contig}.bcf'" \
    ped="'$A/panel.ped'" tessellar="'$WORK/bin dir/tessellar'" threads=2 chunk_size=$CHUNK \
    outdir="'$A/my out'"
run_workflow "$WORK/a.yaml" "$WORK/a.log"
awk -F'\t' -v OFS='\t' '$1 == "chrC" { $1 = "C" } { print }' "$WORK/whole.sites.tsv" > "$WORK/whole.a.sites.tsv"
check_identity "$A/my out" "$WORK/whole.vcf.gz" "$WORK/whole.a.sites.tsv"
(cd "$A" && md5sum -c --quiet "$WORK/a.md5") || fail "an input file changed (A)"
for f in panel.A.bcf.csi panel.B.bcf.csi panel.C.bcf.csi "my out/inputs/study.vcf.gz.tbi"; do
    [ -s "$A/$f" ] || fail "no index $f (A)"
done
for f in "$WORK/a" "$A/my" "$WORK/bin"; do
    [ ! -e "$f" ] || fail "a command cut a path at a blank: $f was made (A)"
done
cmp -s <(zcat "$A/my out/inputs/study.vcf.gz") "$A/study.vcf" || fail "the staged study is not the plain study (A)"

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

# C: the panel's phased GT as a haplotype file, every 5th chrA record and
# every 3rd chrC record left out, and one record 1000 bp after chrA's last
# study SNP (haplotype-only: the chunks must reach it)
mkdir -p "$WORK/c"
last=$(bcftools query -r chrA -f '%POS\n' "$DATA/study.vcf.gz" | tail -n 1)
zcat "$DATA/panel.vcf.gz" | awk -F'\t' -v OFS='\t' -v after=$((last + 1000)) '/^#/ { print; next }
    $1 != "chrA" && held != "" { print held; held = "" }
    { n[$1]++ } ($1 == "chrA" && n[$1] % 5 == 0) || ($1 == "chrC" && n[$1] % 3 == 0) { next }
    $1 == "chrA" { line = $0; $2 = after; $3 = "hx1"; $4 = "A"; $5 = "G"; held = $0; $0 = line }
    { print }
    END { if (held != "") print held }' |
    bgzip -c > "$WORK/c/haplotypes.vcf.gz"
"$TESSELLAR" -gfile "$DATA/study.vcf.gz" -efile "$DATA/panel.vcf.gz" -ped "$DATA/panel.ped" \
    -hfile "$WORK/c/haplotypes.vcf.gz" -ofile "$WORK/c/whole.vcf.gz" -sites "$WORK/c/whole.sites.tsv" \
    > "$WORK/c/whole.log" 2>&1 || fail "the whole run with a haplotype file failed: $(grep -F Error: "$WORK/c/whole.log")"
grep -q 'no-haplotype-row' "$WORK/c/whole.sites.tsv" || fail "no SNP without haplotype row: C tests nothing"
grep -q "hx1.*haplotype-only" "$WORK/c/whole.sites.tsv" || fail "no haplotype-only SNP after chrA's last: C tests less"
write_config "$WORK/c.yaml" study="$DATA/study.vcf.gz" panel="$DATA/panel.vcf.gz" \
    haplotypes="$WORK/c/haplotypes.vcf.gz" ped="$DATA/panel.ped" tessellar="$TESSELLAR" threads=1 \
    chunk_size=$CHUNK outdir="$WORK/c/out"
run_workflow "$WORK/c.yaml" "$WORK/c.log"
[ -s "$WORK/c/haplotypes.vcf.gz.tbi" ] || fail "no index beside the haplotype file (C)"
check_identity "$WORK/c/out" "$WORK/c/whole.vcf.gz" "$WORK/c/whole.sites.tsv"

# D: a haplotype file without chrC
mkdir -p "$WORK/d"
zcat "$WORK/c/haplotypes.vcf.gz" | awk -F'\t' '$1 != "chrC"' | bgzip -c > "$WORK/d/haplotypes.vcf.gz"
tabix -p vcf "$WORK/d/haplotypes.vcf.gz"
"$TESSELLAR" -gfile "$DATA/study.vcf.gz" -efile "$DATA/panel.vcf.gz" -ped "$DATA/panel.ped" \
    -hfile "$WORK/d/haplotypes.vcf.gz" -ofile "$WORK/d/whole.vcf.gz" -sites "$WORK/d/whole.sites.tsv" \
    > "$WORK/d/whole.log" 2>&1 || fail "the whole run without chrC haplotypes failed: $(grep -F Error: "$WORK/d/whole.log")"
bash "$WF_ROOT/workflow/scripts/no_study_sites.sh" chrC "$DATA/study.vcf.gz" "$DATA/panel.vcf.gz" "$TESSELLAR" \
    "$WORK/d/chrC.sites.tsv" -hfile "$WORK/d/haplotypes.vcf.gz" -ped "$DATA/panel.ped" > "$WORK/d/run.log" 2>&1 ||
    { tail -n 5 "$WORK/d/run.log"; fail "no_study_sites.sh failed on a haplotype file without chrC (D)"; }
cmp -s <(awk -F'\t' 'NR == 1 || $1 == "chrC"' "$WORK/d/whole.sites.tsv") "$WORK/d/chrC.sites.tsv" ||
    fail "chrC's per-site lines without its haplotypes differ from the whole run's: $(diff <(awk -F'\t' 'NR == 1 || $1 == "chrC"' "$WORK/d/whole.sites.tsv") "$WORK/d/chrC.sites.tsv" | head -n 3)"
pass
