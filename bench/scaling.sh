#!/usr/bin/env bash
# Whole-run time against the number of targets (regions of 0.75, 1.5 and
# 3 Mb at the benchmark density) and against the number of phased
# haplotypes (150, 300, 600 and 1,000: panels of 75 to 500 singletons), one
# thread. Prints one line per dataset: targets, haplotypes, wall seconds,
# peak MB. Usage: bench/scaling.sh [OUTDIR] [TESSELLAR]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-/tmp/tessellar_scaling}"; binary="${2:-$here/build/release/tessellar}"
[ -x /usr/bin/time ] || { echo "/usr/bin/time is not installed (apt-get install time)"; exit 1; }

run() {  # label mb singletons
  local dir="$out/$1" mb="$2" singletons="$3"
  python3 "$here/tools/make_dataset.py" --outdir "$dir" --seed 11 \
    --panel-snps $((25000 * mb / 3000)) --study-fraction 0.08 --study-only $((1000 * mb / 3000)) \
    --study-individuals 200 --missing 0.015 --region-bp $((mb * 1000)) --start-pos 1000000 \
    --rare-fraction 0.4 --hap-missing 25 --trios 0 --duos 0 --singletons "$singletons" > /dev/null
  (cd "$dir" && /usr/bin/time -f "%e %M" -o time.txt "$binary" -panel 0 0 "$singletons" > log.txt)
  local targets
  targets=$(grep -vc '^1.0000' "$dir/imp_geno.out" || true)
  awk -v l="$1" -v t="$targets" -v h=$((2 * singletons)) \
    '{printf "%-14s records imputed %6d  haplotypes %5d  wall %7.2f s  peak %5.0f MB\n", l, t, h, $1, $2 / 1024}' \
    "$dir/time.txt"
}

run targets_0.75Mb 750 300
run targets_1.5Mb 1500 300
run targets_3Mb 3000 300
run haplotypes_150 3000 75
run haplotypes_300 3000 150
run haplotypes_1000 3000 500
