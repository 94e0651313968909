#!/usr/bin/env bash
# The workflow on the bundled example as workflow/README.md gives it: the
# command run as it stands there, from the root of a copy of the project (a
# folder with a blank in its name, holding workflow/, the example's input
# files and the binary at the place that workflow/example.yaml names). The
# outputs are one whole Tessellar run's on the example's VCF files with its
# haplotype file; nothing but the configured outdir and Snakemake's
# .snakemake appear in the project, and examples/ is left as it was.
#   tests/workflow/test_example.sh [TESSELLAR]
set -euo pipefail
TEST_NAME=workflow-example
source "$(dirname "$0")/lib.sh"

need_commands snakemake bcftools tabix bgzip python3
find_tessellar "${1:-}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tsl-wf-example.XXXXXX")
trap 'remove_work' EXIT
ROOT="$WORK/project root"
COMMAND="snakemake -s workflow/Snakefile --configfile workflow/example.yaml --cores 2"
grep -qxF -- "$COMMAND" "$WF_ROOT/workflow/README.md" || fail "workflow/README.md does not give the command $COMMAND"

binary=$(awk '/^tessellar:/ { print $2 }' "$WF_ROOT/workflow/example.yaml")
outdir=$(awk '/^outdir:/ { print $2 }' "$WF_ROOT/workflow/example.yaml")
[ -n "$binary" ] && [ -n "$outdir" ] || fail "workflow/example.yaml names no tessellar binary or outdir"
mkdir -p "$ROOT/examples" "$ROOT/$(dirname "$binary")"
cp -r "$WF_ROOT/workflow" "$ROOT/"
for f in study.vcf.gz study.vcf.gz.tbi panel.vcf.gz panel.vcf.gz.tbi haplotypes.vcf.gz \
    haplotypes.vcf.gz.tbi panel.ped; do
    cp "$WF_ROOT/examples/$f" "$ROOT/examples/"
done
ln -s "$TESSELLAR" "$ROOT/$binary"
(cd "$ROOT" && ls -A && md5sum examples/*) > "$WORK/before.txt"

(cd "$ROOT" && $COMMAND) > "$WORK/run.log" 2>&1 || { tail -n 30 "$WORK/run.log"; fail "the example's workflow failed"; }

(cd "$ROOT/examples" && "$TESSELLAR" -gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -hfile haplotypes.vcf.gz \
    -ofile "$WORK/whole.vcf.gz" -sites "$WORK/whole.sites.tsv") > "$WORK/whole.log" 2>&1 ||
    fail "the whole run on the example failed: $(grep -F Error: "$WORK/whole.log")"
check_identity "$ROOT/$outdir" "$WORK/whole.vcf.gz" "$WORK/whole.sites.tsv"
(cd "$ROOT" && ls -A | grep -vxF -e .snakemake -e "${outdir%%/*}" && md5sum examples/*) > "$WORK/after.txt"
cmp -s "$WORK/before.txt" "$WORK/after.txt" ||
    fail "the run left files outside $outdir or changed examples/: $(diff "$WORK/before.txt" "$WORK/after.txt" | head -n 4)"
pass
