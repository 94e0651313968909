#!/usr/bin/env bash
# Accuracy benchmark on real data: 1000 Genomes chr20 1-4 Mb from the Debian package
# shapeit4-example. Panel: its reference VCF (300 samples, 600 haplotypes, 24,990
# records). Study: the array (scaffold) genotypes of the other 203 samples, biallelic
# SNPs, unphased, with a share of the called genotypes at panel sites masked (set missing).
# Truth: the same samples' sequencing genotypes at the panel's sites. Each run is timed
# (wall and CPU seconds, peak memory; one thread unless said) and scored by
# tools/score_imputation.py (pooled minor-allele dosage r2 of the untyped panel SNPs per
# panel-MAF bin, mean per-site r2, r2 of the masked genotypes).
#
# Usage: bench/accuracy.sh [options]
#   --tessellar PATH      the binary                        [build/release/tessellar]
#   --work DIR            work folder; prepared data are kept there [/tmp/tessellar_accuracy]
#   --only LIST           runs, comma-separated, from: tags, beagle, hmm-phased,
#                         hmm-phased-map, hmm-unphased, hmm-unphased-map; "hmm" means
#                         all four hmm runs                 [all]
#   --hmm-options "..."   extra options for every hmm run (for tuning)
#   --threads2            also time each hmm run with -threads 2, check that its output is
#                         the same, and print the speed-up
#   --repeat N            time each hmm run N times and keep the run of median wall
#                         time (on a shared machine one timing can be far off) [1]
#   --mask-fraction F     share of the typed genotypes masked [0.03]
#   --seed N              seed of the masking and of Beagle [1]
#   --tsv FILE            the table, tab-separated          [WORK/accuracy.tsv]
#
# The hmm runs use tessellar -engine hmm; a binary that refuses a run (no such engine,
# or no phasing of unphased genotypes) gives a row of n/a with its error. "hmm-phased"
# imputes the study as phased by Beagle (its output at the study's SNPs, the study's
# missing genotypes kept missing), so it needs one Beagle run, made once and kept.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
example=/usr/share/doc/shapeit4/examples/test
binary="$here/build/release/tessellar"
work=/tmp/tessellar_accuracy
only="tags,beagle,hmm"
hmm_options=""
threads2=0
repeat=1
fraction=0.03
seed=1
tsv=""
while [ $# -gt 0 ]; do
  case "$1" in
    --tessellar) binary="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    --hmm-options) hmm_options="$2"; shift 2 ;;
    --threads2) threads2=1; shift ;;
    --repeat) repeat="$2"; shift 2 ;;
    --mask-fraction) fraction="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --tsv) tsv="$2"; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
all_runs="tags beagle hmm-phased hmm-phased-map hmm-unphased hmm-unphased-map"
runs=()
for r in ${only//,/ }; do
  case "$r" in
    hmm) runs+=(hmm-phased hmm-phased-map hmm-unphased hmm-unphased-map) ;;
    tags|beagle|hmm-phased|hmm-phased-map|hmm-unphased|hmm-unphased-map) runs+=("$r") ;;
    *) echo "unknown run: $r (one of: hmm $all_runs)" >&2; exit 2 ;;
  esac
done

missing() { echo "$1 is missing: tools/install_deps.sh bench" >&2; exit 1; }
for c in bcftools bgzip tabix python3; do command -v "$c" > /dev/null || missing "$c"; done
[ -x /usr/bin/time ] || missing /usr/bin/time
[ -f "$example/scaffold.vcf.gz" ] || missing "$example"
selected() { [[ " ${runs[*]} " == *" $1 "* ]]; }
if selected beagle || selected hmm-phased || selected hmm-phased-map; then
  command -v beagle > /dev/null || missing beagle
fi
if [[ " ${runs[*]} " == *" tags "* || " ${runs[*]} " == *" hmm"* ]] && [ ! -x "$binary" ]; then
  echo "no binary $binary: cmake --preset release && cmake --build --preset release" >&2
  exit 1
fi
binary="$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")"

# Data, prepared once per seed and mask fraction.
data="$work/data"
stamp="seed=$seed fraction=$fraction"
mkdir -p "$work"
if [ "$(cat "$data/stamp" 2> /dev/null)" != "$stamp" ]; then
  rm -rf "$data"; mkdir -p "$data"
  echo "preparing the data in $data ($stamp)" >&2
  cp "$example/reference.vcf.gz" "$data/panel.vcf.gz"
  cp "$example/unphased.vcf.gz" "$data/truth.vcf.gz"
  bcftools index -f -t "$data/panel.vcf.gz"
  python3 "$here/tools/accuracy_data.py" study "$example/scaffold.vcf.gz" "$data/truth.vcf.gz" \
    "$data/study.vcf" "$data/masked.tsv" --fraction "$fraction" --seed "$seed" >&2
  bgzip -f "$data/study.vcf" && tabix -f -p vcf "$data/study.vcf.gz"
  python3 "$here/tools/accuracy_data.py" map "$example/chr20.b37.gmap.gz" "$data/chr20.map" >&2
  echo "$stamp" > "$data/stamp"
fi

load_at_start="$(cut -d' ' -f1 /proc/loadavg)"
runs_dir="$work/runs"
mkdir -p "$runs_dir"
times="$work/times.tsv"
: > "$times"
scored=()

# shellcheck source=bench/timed.sh
. "$here/bench/timed.sh"

# Beagle on the study, one thread: phased genotypes and dosages at the panel's sites.
beagle_args=(gt="$data/study.vcf.gz" ref="$data/panel.vcf.gz" map="$data/chr20.map" nthreads=1
  seed="$seed" impute=true)

phased_study() {  # the study phased by Beagle, made once per data preparation
  [ -f "$data/phased.vcf.gz" ] && return 0
  local source="$runs_dir/beagle/beagle.vcf.gz"
  if ! selected beagle || [ ! -f "$source" ]; then
    echo "phasing the study with Beagle (once)" >&2
    source="$data/beagle_phasing/beagle.vcf.gz"
    mkdir -p "$data/beagle_phasing"
    beagle "${beagle_args[@]}" out="${source%.vcf.gz}" > "$data/beagle_phasing/log" 2>&1 \
      || { echo "Beagle failed: see $data/beagle_phasing/log" >&2; return 1; }
  fi
  python3 "$here/tools/accuracy_data.py" phased "$source" "$data/study.vcf.gz" \
    "$data/phased.vcf" >&2 && bgzip -f "$data/phased.vcf" && tabix -f -p vcf "$data/phased.vcf.gz"
}

# hmm_row LABEL STUDY [extra options]: one hmm run, and with --threads2 its 2-thread twin.
hmm_row() {
  local label="$1" study="$2"; shift 2
  local dir="$runs_dir/$label"
  # shellcheck disable=SC2086
  if REPEAT=$repeat timed "$times" "$label" "$dir" "$binary" -engine hmm -gfile "$study" -efile "$data/panel.vcf.gz" \
    -ofile out.vcf.gz "$@" $hmm_options; then
    scored+=("$label=$dir/out.vcf.gz")
  else
    sed -i "\$s/failed: /n\/a: /" "$times"
    scored+=("$label=-")
    return 0
  fi
  [ "$threads2" -eq 1 ] || return 0
  local dir2="$runs_dir/$label-t2"
  # shellcheck disable=SC2086
  if REPEAT=$repeat timed "$times" "$label -threads 2" "$dir2" "$binary" -engine hmm -gfile "$study" \
    -efile "$data/panel.vcf.gz" -ofile out.vcf.gz -threads 2 "$@" $hmm_options; then
    local t1 t2 same="output identical"
    read -r t1 _ < "$dir/time"
    read -r t2 _ < "$dir2/time"
    cmp -s "$dir/out.vcf.gz" "$dir2/out.vcf.gz" || same="OUTPUT DIFFERS"
    same="$(awk -v a="$t1" -v b="$t2" 'BEGIN {printf "speed-up %.2f", a / b}'), $same"
    sed -i "\$s/\t\$/\t$same/" "$times"  # into the note of the last line
  fi
  scored+=("$label -threads 2=-")
}

for r in "${runs[@]}"; do
  echo "running $r" >&2
  case "$r" in
    tags)
      if timed "$times" tags "$runs_dir/tags" "$binary" -gfile "$data/study.vcf.gz" \
        -efile "$data/panel.vcf.gz" -ofile out.vcf.gz; then
        scored+=("tags=$runs_dir/tags/out.vcf.gz")
      else scored+=("tags=-"); fi ;;
    beagle)
      if timed "$times" beagle "$runs_dir/beagle" beagle "${beagle_args[@]}" out="$runs_dir/beagle/beagle"
      then scored+=("beagle=$runs_dir/beagle/beagle.vcf.gz")
      else scored+=("beagle=-"); fi ;;
    hmm-phased|hmm-phased-map)
      extra=()
      [ "$r" = hmm-phased ] || extra=(-map "$data/chr20.map")
      if phased_study; then hmm_row "$r" "$data/phased.vcf.gz" "${extra[@]}"
      else printf '%s\t\t\t\tn/a: no phased study\n' "$r" >> "$times"; scored+=("$r=-"); fi ;;
    hmm-unphased) hmm_row hmm-unphased "$data/study.vcf.gz" ;;
    hmm-unphased-map) hmm_row hmm-unphased-map "$data/study.vcf.gz" -map "$data/chr20.map" ;;
  esac
done

load_at_end="$(cut -d' ' -f1 /proc/loadavg)"
echo "scoring" >&2
python3 "$here/tools/score_imputation.py" --truth "$data/truth.vcf.gz" \
  --panel "$data/panel.vcf.gz" --study "$data/study.vcf.gz" --masked "$data/masked.tsv" \
  --times "$times" --tsv "${tsv:-$work/accuracy.tsv}" "${scored[@]}"
echo "($(nproc) cores; load average $load_at_start before the runs, $load_at_end after them)"
