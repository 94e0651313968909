#!/usr/bin/env bash
# Times Tessellar and a peer imputation tool (Beagle 5.4, Debian package
# beagle: phasing and imputation in one run, one thread) on one benchmark
# dataset, RUNS times each, and prints the medians of wall time, CPU time
# and peak memory, and Tessellar's share of the peer's wall time.
# Usage: bench/compare_peer.sh DATADIR "PANEL ARGS" [RUNS] [TESSELLAR]
#   e.g. bench/compare_peer.sh /tmp/tessellar_bench/singletons "0 0 300" 3
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
data="$1"; panel="$2"; runs="${3:-3}"; binary="${4:-$here/build/release/tessellar}"
command -v beagle > /dev/null || { echo "beagle is not installed (apt-get install beagle)"; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is not installed (apt-get install time)"; exit 1; }
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT

measure() {  # label command...: one line "wall cpu peak_kb" per run in $work/label
  local label="$1"; shift
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/t" "$@" > /dev/null 2>&1
    awk '{printf "%.2f %.2f %d\n", $1, $2 + $3, $4}' "$work/t" >> "$work/$label"
  done
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
column_median() { awk -v c="$2" '{print $c}' "$work/$1" | median; }

# shellcheck disable=SC2086
measure tessellar bash -c "cd '$data' && '$binary' -panel $panel -ofile '$work/imp.out'"
measure beagle beagle gt="$data/target.vcf" ref="$data/ref.vcf" out="$work/peer" nthreads=1

printf '%-10s %10s %10s %12s\n' tool wall_s cpu_s peak_MB
for tool in tessellar beagle; do
  printf '%-10s %10s %10s %12s\n' "$tool" "$(column_median $tool 1)" "$(column_median $tool 2)" \
    "$(awk -v kb="$(column_median $tool 3)" 'BEGIN {printf "%.0f", kb / 1024}')"
done
awk -v t="$(column_median tessellar 1)" -v b="$(column_median beagle 1)" -v n="$runs" \
  'BEGIN {printf "tessellar wall time / beagle wall time: %.3f (median of %d runs)\n", t / b, n}'
