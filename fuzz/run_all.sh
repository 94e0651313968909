#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS / (number of
# targets) seconds on its seed corpus, exiting non-zero when any target
# finds a crash, a sanitizer report, a broken check or a timeout.
#
#   fuzz/run_all.sh SECONDS
#
# Installs clang-14 and libFuzzer (libclang-rt-14-dev), and htslib's
# development files when they are missing (as root, through apt-get). New
# inputs go to a temporary corpus beside the seeds, so the repository is not
# modified; crash inputs are kept in build/fuzz/artifacts/.
set -euo pipefail

if [[ $# -ne 1 || ! "$1" =~ ^[0-9]+$ || "$1" -lt 1 ]]; then
  echo "usage: $0 SECONDS   (total fuzzing time, shared by the targets)" >&2
  exit 2
fi
total=$1
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
targets=(fuzz_study fuzz_panel fuzz_haplotypes fuzz_text_block fuzz_ped fuzz_vcf fuzz_run fuzz_region)

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# --- tools -----------------------------------------------------------------
t0=$(now)
missing=()
command -v clang++-14 >/dev/null 2>&1 || missing+=(clang-14)
if ! command -v clang++-14 >/dev/null 2>&1 ||
  [[ ! -f "$(clang++-14 -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]]; then
  missing+=(libclang-rt-14-dev)
fi
command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
if ! command -v pkg-config >/dev/null 2>&1 || ! pkg-config --exists htslib; then
  missing+=(libhts-dev)
fi
if [[ ${#missing[@]} -gt 0 ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "fuzz: missing ${missing[*]}; install them (as root: apt-get install ${missing[*]})" >&2
    exit 1
  fi
  echo "fuzz: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
t_tools=$(since "$t0")

# --- configure and build ---------------------------------------------------
t0=$(now)
cmake --preset fuzz >/dev/null
t_configure=$(since "$t0")
t0=$(now)
cmake --build --preset fuzz
t_build=$(since "$t0")

# --- run -------------------------------------------------------------------
per=$((total / ${#targets[@]}))
((per >= 1)) || per=1
# The targets write their inputs to files for every run: a tmpfs is several
# times faster than a disk.
base=${TMPDIR:-/tmp}
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
work="$(mktemp -d "$base/tessellar_fuzz_run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
artifacts="$root/build/fuzz/artifacts"
mkdir -p "$artifacts"
declare -A max_len=([fuzz_vcf]=16384 [fuzz_run]=8192 [fuzz_region]=8192)
failed=()
t0=$(now)
for t in "${targets[@]}"; do
  new="$work/$t"
  mkdir -p "$new" "$work/tmp"
  opts=(-max_total_time="$per" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
    -max_len="${max_len[$t]:-4096}" -artifact_prefix="$artifacts/$t-")
  [[ -f "fuzz/dict/$t.dict" ]] && opts+=(-dict="fuzz/dict/$t.dict")
  echo "fuzz: $t for ${per}s"
  # The first corpus folder receives the new inputs; the seeds are only read.
  if TMPDIR="$work/tmp" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build/fuzz/fuzz/$t" "${opts[@]}" "$new" "fuzz/corpus/$t" >"$work/$t.log" 2>&1; then
    grep -E "^stat::number_of_executed_units|^Done " "$work/$t.log" | tr '\n' ' ' | sed 's/^/      /'
    echo
  else
    failed+=("$t")
    echo "fuzz: $t FAILED; its log ends:" >&2
    tail -n 60 "$work/$t.log" >&2
  fi
done
t_run=$(since "$t0")

# The inputs of faults found and fixed (fuzz/crashes/): each must pass again.
for f in fuzz/crashes/fuzz_*; do
  [[ -f "$f" ]] || continue
  t=$(basename "$f")
  t=${t%%-*}
  if ! TMPDIR="$work/tmp" "build/fuzz/fuzz/$t" "$f" >"$work/replay.log" 2>&1; then
    failed+=("$t:$(basename "$f")")
    echo "fuzz: the fixed fault of $f is back; its log ends:" >&2
    tail -n 30 "$work/replay.log" >&2
  fi
done

echo "fuzz: times (s): tools $t_tools, configure $t_configure, build $t_build, run $t_run"
echo "fuzz: ${#targets[@]} targets and the fixed faults' inputs; ${#failed[@]} failed"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: crashes in ${failed[*]}; inputs in $artifacts (replay: build/fuzz/fuzz/TARGET FILE)" >&2
  exit 1
fi
