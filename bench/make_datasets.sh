#!/usr/bin/env bash
# The whole-run benchmark datasets: a 3 Mb region with 25,000 panel SNPs,
# 3,000 study SNPs (2,000 of them panel SNPs), 200 study individuals with
# 1.5 % missing codes, many rare variants; a panel of 300 singletons (600
# phased haplotypes) and a variant with 100 trios (400). Each folder also
# gets the same data as VCF (ref.vcf, target.vcf) for a peer tool, and in
# vcf/ Tessellar's own VCF form (study.vcf.gz, panel.vcf.gz, panel.ped, and
# haplotypes.vcf.gz unless the panel codes have no 9, when the panel's phased
# GTs hold the haplotypes): tessellar -gfile vcf/study.vcf.gz
# -efile vcf/panel.vcf.gz -ped vcf/panel.ped [-hfile vcf/haplotypes.vcf.gz].
# Usage: bench/make_datasets.sh [OUTDIR [OPTIONS...]]   (default /tmp/tessellar_bench)
# OPTIONS go to tools/make_dataset.py as they are, e.g. --truth for each set's truth.dat.
set -euo pipefail
declare -A panel_args
here="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-/tmp/tessellar_bench}"
extra=("${@:2}")
common=(--seed 11 --panel-snps 25000 --study-fraction 0.08 --study-only 1000
        --study-individuals 200 --missing 0.015 --region-bp 3000000 --start-pos 1000000
        --rare-fraction 0.4 --hap-missing 25 "${extra[@]}")
python3 "$here/tools/make_dataset.py" --outdir "$out/singletons" "${common[@]}" \
  --trios 0 --duos 0 --singletons 300      # tessellar -panel 0 0 300
python3 "$here/tools/make_dataset.py" --outdir "$out/trios" "${common[@]}" \
  --trios 100 --duos 0 --singletons 0      # tessellar -panel 100 0 0
panel_args=([singletons]="0 0 300" [trios]="100 0 0")
for set in singletons trios; do
  python3 "$here/tools/to_vcf.py" --peer "$out/$set"
  mode=panel  # one phased GT can hold a code and its haplotypes only if no code is 9
  if awk '{for (i = 5; i <= NF; i++) if ($i == 9) {found = 1; exit}} END {exit !found}' \
      "$out/$set/external.dat"; then mode=separate; fi
  rm -rf "$out/$set/vcf"
  # shellcheck disable=SC2086
  python3 "$here/tools/to_vcf.py" "$out/$set" "$out/$set/vcf" --haplotypes "$mode" --bgzip \
    --panel ${panel_args[$set]}
done
