#!/usr/bin/env bash
# Scale benchmark of the workflow against one whole Tessellar run.
#
#   bench/workflow_scale.sh [WORKDIR] [TESSELLAR]
#
# Data (made once in WORKDIR/vcf, about 2 minutes): 2 contigs x 30 Mb, each
# with 60,000 panel SNPs (a sparse stretch at 12-15 Mb), 10 % of them typed in
# the study; a panel of 1,000 singletons (2,000 haplotypes); 500 study
# individuals. Then, each on 2 cores:
#   - one whole run: tessellar -threads 2;
#   - the workflow: snakemake --cores 2, chunks of 5 Mb, 1 thread per job (two
#     jobs at a time);
# and prints wall time, CPU time (user + system, children included) and peak
# memory of each, the peak memory of every chunk job (Snakemake's benchmark
# files), and whether the workflow's outputs are the whole run's (records,
# header apart from ##source, per-site file).
# TESSELLAR defaults to build/release/tessellar. Needs snakemake, bcftools,
# tabix and GNU time (/usr/bin/time).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/tessellar_workflow_scale}
tessellar=${2:-$root/build/release/tessellar}
[ -x "$tessellar" ] || { echo "no tessellar binary at $tessellar" >&2; exit 1; }
tessellar=$(cd "$(dirname "$tessellar")" && pwd)/$(basename "$tessellar")
for cmd in snakemake bcftools tabix /usr/bin/time; do
    command -v "$cmd" > /dev/null || { echo "$cmd is not installed" >&2; exit 1; }
done
mkdir -p "$work"
cd "$work"

if ! [ -s vcf/panel.vcf.gz.tbi ]; then
    echo "making the data in $work/vcf"
    mkdir -p text
    for item in chr1:31 chr2:32; do
        contig=${item%:*}
        python3 "$root/tools/make_dataset.py" --outdir "text/$contig" --seed "${item#*:}" \
            --panel-snps 60000 --study-fraction 0.1 --study-individuals 500 --trios 0 \
            --singletons 1000 --region-bp 30000000 --start-pos 1 --panel-missing 0 \
            --sparse 12000000-15000000:0.05 > "text/$contig.log"
    done
    python3 "$root/tools/to_vcf.py" vcf --contig chr1=text/chr1 --contig chr2=text/chr2 \
        --haplotypes panel --panel 0 0 1000 --bgzip
    rm -rf text
fi
echo "data: $(bcftools index -n vcf/panel.vcf.gz) panel SNPs, $(bcftools index -n vcf/study.vcf.gz) study SNPs," \
    "$(bcftools query -l vcf/panel.vcf.gz | wc -l) panel samples, $(bcftools query -l vcf/study.vcf.gz | wc -l) study samples"

# GNU time's figures: wall s, CPU s (user + system), peak memory MB
measure() {  # measure FILE
    awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + t[i] }
        /User time/ { c += $2 } /System time/ { c += $2 } /Maximum resident/ { m = $2 / 1024 }
        END { printf "wall %.1f s, CPU %.1f s, peak memory %.0f MB", w, c, m }' "$1"
}

rm -rf whole.* out .snakemake
echo "whole run: tessellar -threads 2"
/usr/bin/time -v -o whole.time "$tessellar" -gfile vcf/study.vcf.gz -efile vcf/panel.vcf.gz -ped vcf/panel.ped \
    -ofile whole.vcf.gz -sites whole.sites.tsv -threads 2 > whole.log
echo "  $(measure whole.time)"

cat > config.yaml << EOF
study: vcf/study.vcf.gz
panel: vcf/panel.vcf.gz
ped: vcf/panel.ped
tessellar: $tessellar
threads: 1
chunk_size: 5000000
outdir: out
EOF
echo "workflow: snakemake --cores 2, 5 Mb chunks, 1 thread per job"
/usr/bin/time -v -o workflow.time snakemake -s "$root/workflow/Snakefile" --configfile config.yaml --cores 2 \
    > workflow.log 2>&1 || { tail -n 30 workflow.log; echo "the workflow failed" >&2; exit 1; }
echo "  $(measure workflow.time) (the peak is Snakemake's own or one job's, whichever is larger)"
echo "  chunk jobs (Snakemake benchmark files): contig, chunk, panel SNPs, wall s, CPU s, peak memory MB"
for plan in out/plan/chr*.tsv; do
    grep -v '^#' "$plan" | while IFS=$'\t' read -r contig start end nstudy npanel nsamples; do
        awk -F'\t' -v c="$contig" -v r="$start-$end" -v n="$npanel" 'NR == 2 {
            printf "    %s\t%s\t%s\t%.1f\t%.1f\t%.0f\n", c, r, n, $1, $10, $3 }' \
            "out/benchmarks/impute/$contig/$start-$end.tsv"
    done
done
awk -F'\t' 'FNR == 2 { s += $1; c += $10; if ($3 > m) m = $3 } END {
    printf "  chunk jobs in all: %.1f s of job wall time, %.1f s CPU, largest peak %.0f MB\n", s, c, m }' \
    out/benchmarks/impute/*/*.tsv

same=yes
strip='^##(source=|bcftools_)'
for contig in $(bcftools index -s vcf/study.vcf.gz | cut -f1); do
    cmp -s <(zcat whole.vcf.gz | grep -Ev "$strip" | grep '^#') <(zcat "out/$contig.vcf.gz" | grep -Ev "$strip" | grep '^#') ||
        { same=no; echo "  header of $contig differs"; }
    cmp -s <(zcat whole.vcf.gz | awk -F'\t' -v c="$contig" '$1 == c') <(zcat "out/$contig.vcf.gz" | grep -v '^#') ||
        { same=no; echo "  records of $contig differ"; }
done
cmp -s whole.sites.tsv <(zcat out/sites.tsv.gz) || { same=no; echo "  sites.tsv.gz differs from the whole run's -sites file"; }
echo "outputs identical to the whole run's: $same"
cat out/summary.tsv
[ "$same" = yes ]
