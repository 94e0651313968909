#!/usr/bin/env bash
# The workflow tests: the configuration checks, the bundled example, a local
# run, the forms of input, a failing chunk, and a run on a private SLURM
# cluster. Installs what is missing first (as root, with apt-get:
# snakemake, bcftools, tabix, slurm-wlm, munge, without recommended packages);
# builds nothing: give the Tessellar binary, or it is taken from
# build/release or build/dev.
#   tests/workflow/run_all.sh [--require-all] [TESSELLAR]
# Prints one PASSED/FAILED/SKIPPED line per test and then
# "N passed, N failed, N skipped"; exits 1 if any test failed, or with
# --require-all (for CI, where every test must run) if any was skipped.
set -uo pipefail
require_all=no
if [ "${1:-}" = --require-all ]; then
    require_all=yes
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
PATH=$PATH:/usr/sbin
logs=$(mktemp -d "${TMPDIR:-/tmp}/tsl-wf-logs.XXXXXX")
trap 'rm -rf "$logs"' EXIT

missing=()
command -v snakemake > /dev/null || missing+=(snakemake)
command -v bcftools > /dev/null || missing+=(bcftools)
{ command -v tabix && command -v bgzip; } > /dev/null || missing+=(tabix)
{ command -v slurmctld && command -v slurmd && command -v sbatch; } > /dev/null || missing+=(slurm-wlm)
command -v munged > /dev/null || missing+=(munge)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ] && command -v apt-get > /dev/null; then
        echo "installing ${missing[*]}"
        start=$(date +%s)
        if apt-get update -qq > "$logs/apt.log" 2>&1 &&
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
                >> "$logs/apt.log" 2>&1; then
            echo "installed in $(($(date +%s) - start)) s"
        else
            echo "apt-get failed (the tests that need it will be skipped):"
            tail -n 5 "$logs/apt.log"
        fi
    else
        echo "missing ${missing[*]}, not installed: not root or no apt-get (the tests that need them will be skipped)"
    fi
fi

passed=0 failed=0 skipped=0
for t in test_config.sh test_example.sh test_local.sh test_inputs.sh test_failing.sh test_hmm.sh test_slurm.sh; do
    start=$(date +%s)
    bash "$here/$t" "$@" > "$logs/$t.log" 2>&1
    status=$?
    last=$(tail -n 1 "$logs/$t.log")
    case $status in
        0) passed=$((passed + 1)) ;;
        77) skipped=$((skipped + 1)) ;;
        *) failed=$((failed + 1))
           case $last in FAILED:*) ;; *) last="FAILED: $t (exit $status): $last" ;; esac
           tail -n 40 "$logs/$t.log" | head -n 39 ;;
    esac
    echo "$last ($(($(date +%s) - start)) s)"
done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && { [ "$require_all" = no ] || [ "$skipped" -eq 0 ]; }
