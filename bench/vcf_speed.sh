#!/usr/bin/env bash
# Wall time of the VCF path against the text path on the same data: the
# text inputs to text output, and bgzipped VCF inputs to bgzipped VCF output
# with its index, alternating, RUNS times each, with 1 and with 2 threads;
# prints the medians and the ratios.
# Usage: bench/vcf_speed.sh DATADIR "PANEL ARGS" [RUNS] [TESSELLAR]
#   e.g. bench/vcf_speed.sh /tmp/tessellar_bench/singletons "0 0 300" 5
# DATADIR holds the text files and vcf/ (study.vcf.gz, panel.vcf.gz,
# panel.ped, and haplotypes.vcf.gz when the panel's GT cannot carry them),
# as bench/make_datasets.sh makes them.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
data="$1"; panel="$2"; runs="${3:-5}"; binary="${4:-$here/build/release/tessellar}"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
vcf="$data/vcf"
hap=(); [ -e "$vcf/haplotypes.vcf.gz" ] && hap=(-hfile "$vcf/haplotypes.vcf.gz")
wall() {  # label command...: appends the wall time of one run to $work/label
  local label="$1"; shift
  /usr/bin/time -f "%e" -o "$work/t" "$@" > /dev/null 2>&1
  cat "$work/t" >> "$work/$label"
}
median() { sort -n "$work/$1" | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
for threads in 1 2; do
  for _ in $(seq "$runs"); do
    (cd "$data" && wall "text$threads" "$binary" -panel $panel -threads "$threads" -ofile "$work/out.txt")
    wall "vcf$threads" "$binary" -gfile "$vcf/study.vcf.gz" -efile "$vcf/panel.vcf.gz" \
      -ped "$vcf/panel.ped" "${hap[@]}" -threads "$threads" -ofile "$work/out.vcf.gz"
  done
  t=$(median "text$threads"); v=$(median "vcf$threads")
  printf "threads %d: text %.2f s, VCF %.2f s, VCF / text %.3f (medians of %d)\n" \
    "$threads" "$t" "$v" "$(echo "$v / $t" | bc -l)" "$runs"
done
