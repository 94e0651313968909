#!/usr/bin/env bash
# Tuning table of the HMM engine: runs the hmm runs of bench/accuracy.sh once per set of
# options, on the same prepared data, and prints one table with a line per set and run
# (the accuracy figures, wall and CPU time, peak memory). Also written to WORK/tune.tsv.
#
# Usage: bench/tune_hmm.sh [--work DIR] [--tessellar PATH] [--only RUNS] [--file SETS]
#                          [--threads2] ["OPTIONS" ...]
#   "OPTIONS"       one set of options for tessellar -engine hmm, as one argument,
#                   e.g. "-switch 0.01 -error 0.001"; "" runs the defaults
#   --file SETS     a file with one set per line (blank lines and # comments skipped)
#   --only RUNS     the runs of accuracy.sh to make per set  [hmm-phased,hmm-phased-map]
#   --work, --tessellar, --threads2: as for bench/accuracy.sh (work [/tmp/tessellar_accuracy])
# e.g. bench/tune_hmm.sh "" "-switch 0.003" "-switch 0.01" "-switch 0.03 -error 0.01"
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
work=/tmp/tessellar_accuracy
only=hmm-phased,hmm-phased-map
passed=()
sets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --work) work="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    --tessellar) passed+=(--tessellar "$2"); shift 2 ;;
    --threads2) passed+=(--threads2); shift ;;
    --file)
      while IFS= read -r line || [ -n "$line" ]; do
        line="${line%%#*}"
        [ -n "${line//[[:space:]]/}" ] && sets+=("$line")
      done < "$2"
      shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    --*) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    *) sets+=("$1"); shift ;;
  esac
done
[ ${#sets[@]} -gt 0 ] || { echo "no option sets given (see --help)" >&2; exit 2; }

mkdir -p "$work/tune"
out="$work/tune.tsv"
: > "$out"
for i in "${!sets[@]}"; do
  # Blanks trimmed (not with echo or xargs, which would take "-ne ..." as their own flags).
  set_options="${sets[$i]}"
  set_options="${set_options#"${set_options%%[![:space:]]*}"}"
  set_options="${set_options%"${set_options##*[![:space:]]}"}"
  echo "== option set $((i + 1)) of ${#sets[@]}: ${set_options:-(defaults)}" >&2
  "$here/bench/accuracy.sh" --work "$work" --only "$only" --hmm-options "$set_options" \
    --tsv "$work/tune/set$((i + 1)).tsv" "${passed[@]}" > /dev/null
  awk -F'\t' -v o="${set_options:-(defaults)}" -v first="$((i == 0))" \
    'NR == 1 && first {print "options\t" $0} NR > 1 {print o "\t" $0}' \
    "$work/tune/set$((i + 1)).tsv" >> "$out"
done
# The table: options, run, the five bins, mean site r2, masked r2, wall s, CPU s, peak MB, note.
awk -F'\t' 'NR == 1 {
  printf "%-32s %-22s", "options", "run"
  for (c = 3; c <= 7; c++) printf " %8s", substr($c, 4)
  printf " %8s %8s %8s %8s %8s\n", "site r2", "masked", "wall s", "CPU s", "peak MB"
}
NR > 1 {
  printf "%-32s %-22s", substr($1, 1, 32), $2
  for (c = 3; c <= 9; c++) printf " %8s", $c
  printf " %8s %8s %8s  %s\n", $12, $13, $14, $15
}' "$out"
