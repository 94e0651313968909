#!/usr/bin/env bash
# Accuracy on the generated benchmark sets, whose truth is known: the two sets of
# bench/make_datasets.sh (singletons: -panel 0 0 300; trios: -panel 100 0 0), made with
# --truth. Per set three runs, each timed (wall and CPU seconds, peak memory; one thread):
#   tags    tessellar -panel P -ofile out.vcf.gz             (the text inputs)
#   hmm     tessellar -engine hmm -panel P -ofile out.vcf.gz (the same; the unphased study
#           is phased by the engine, the panel's haplotypes come from haplotype.dat)
#   beagle  beagle gt=target.vcf ref=ref.vcf out=beagle nthreads=1 (the peer form, as in
#           bench/compare_peer.sh; no genetic map, the sets have none)
# Scored by tools/score_imputation.py against the truth made by tools/truth_vcf.py: pooled
# minor-allele dosage r2 of the untyped SNPs of ref.vcf (those target.vcf does not type,
# polymorphic in ref.vcf) per MAF bin of ref.vcf, mean per-site r2, and as "masked" the
# r2 of the study's missing genotypes at the typed SNPs. One table per set; all rows also
# in OUTDIR/generated_accuracy.tsv. The data are made once and kept in OUTDIR/data.
# Usage: bench/generated_accuracy.sh [OUTDIR]   (default /tmp/tessellar_generated)
#   TESSELLAR=PATH picks the binary               (default build/release/tessellar)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-/tmp/tessellar_generated}"
binary="${TESSELLAR:-$here/build/release/tessellar}"
declare -A panel_args=([singletons]="0 0 300" [trios]="100 0 0")

missing() { echo "$1 is missing: tools/install_deps.sh bench" >&2; exit 1; }
for c in beagle bcftools python3; do command -v "$c" > /dev/null || missing "$c"; done
[ -x /usr/bin/time ] || missing /usr/bin/time
if [ ! -x "$binary" ]; then
  echo "no binary $binary: cmake --preset release && cmake --build --preset release" >&2
  exit 1
fi
binary="$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

# The data, remade when the generator or the set definitions change.
data="$out/data"
stamp="$(cat "$here/bench/make_datasets.sh" "$here"/tools/{make_dataset,population,to_vcf,truth_vcf}.py \
  | cksum)"
if [ "$(cat "$data/stamp" 2> /dev/null)" != "$stamp" ]; then
  rm -rf "$data"
  echo "making the sets in $data" >&2
  "$here/bench/make_datasets.sh" "$data" --truth > /dev/null
  for set in singletons trios; do python3 "$here/tools/truth_vcf.py" "$data/$set" > /dev/null; done
  echo "$stamp" > "$data/stamp"
fi

# shellcheck source=bench/timed.sh
. "$here/bench/timed.sh"

load_at_start="$(cut -d' ' -f1 /proc/loadavg)"
tsv="$out/generated_accuracy.tsv"
: > "$tsv"
for set in singletons trios; do
  d="$data/$set" runs="$out/runs/$set"
  times="$runs/times.tsv"
  mkdir -p "$runs" && : > "$times"
  text=(-gfile "$d/genotype.dat" -efile "$d/external.dat" -hfile "$d/haplotype.dat")
  scored=()
  echo "$set: tags" >&2
  # shellcheck disable=SC2086
  if timed "$times" tags "$runs/tags" "$binary" "${text[@]}" -panel ${panel_args[$set]} \
    -ofile out.vcf.gz; then scored+=("tags=$runs/tags/out.vcf.gz"); else scored+=(tags=-); fi
  echo "$set: hmm" >&2
  # shellcheck disable=SC2086
  if timed "$times" hmm "$runs/hmm" "$binary" -engine hmm "${text[@]}" \
    -panel ${panel_args[$set]} -ofile out.vcf.gz; then
    scored+=("hmm=$runs/hmm/out.vcf.gz")
  else scored+=(hmm=-); fi
  echo "$set: beagle" >&2
  if timed "$times" beagle "$runs/beagle" beagle gt="$d/target.vcf" ref="$d/ref.vcf" \
    out="$runs/beagle/beagle" nthreads=1; then
    # The peer form names the study S0, S1, ...; the truth and Tessellar IND1, IND2, ...
    bcftools query -l "$runs/beagle/beagle.vcf.gz" | awk '{print $1, "IND" substr($1, 2) + 1}' \
      > "$runs/beagle/names"
    bcftools reheader -s "$runs/beagle/names" -o "$runs/beagle/scored.vcf.gz" \
      "$runs/beagle/beagle.vcf.gz"
    scored+=("beagle=$runs/beagle/scored.vcf.gz")
  else scored+=(beagle=-); fi
  echo "== $set (tessellar -panel ${panel_args[$set]}) =="
  python3 "$here/tools/score_imputation.py" --truth "$d/truth.vcf" --panel "$d/ref.vcf" \
    --study "$d/target.vcf" --masked "$d/masked.tsv" --times "$times" --tsv "$runs/scores.tsv" \
    "${scored[@]}"
  if [ ! -s "$tsv" ]; then head -n1 "$runs/scores.tsv" | sed 's/^/set\t/' > "$tsv"; fi
  tail -n +2 "$runs/scores.tsv" | sed "s/^/$set\t/" >> "$tsv"
done
echo "($(nproc) cores; load average $load_at_start before the runs," \
  "$(cut -d' ' -f1 /proc/loadavg) after them; the table in $tsv)"
