#!/usr/bin/env bash
# Faulty configuration values stop the workflow before any job, with one line
# "Error in the configuration: key KEY: ..." that names the key, what it
# takes and what was found, and no Python traceback. Each line of the table
# below sets one key on a good configuration on the bundled example, as
# snakemake --config would, and gets the configuration checked
# (workflow/scripts/config_check.py); a few go through Snakemake itself, from
# the command line and from a config file, and the good configuration must
# pass a dry run.
#   tests/workflow/test_config.sh [TESSELLAR]
set -euo pipefail
TEST_NAME=workflow-config
source "$(dirname "$0")/lib.sh"

need_commands snakemake python3
find_tessellar "${1:-}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tsl-wf-config.XXXXXX")
trap 'remove_work' EXIT
EX=$WF_ROOT/examples
write_config "$WORK/good.yaml" study="$EX/study.vcf.gz" panel="$EX/panel.vcf.gz" \
    haplotypes="$EX/haplotypes.vcf.gz" ped="$EX/panel.ped" tessellar="$TESSELLAR" outdir="$WORK/out"

# KEY=VALUE | the message after "Error in the configuration: " ("-" for none:
# the value is taken)
cat > "$WORK/cases.txt" <<'CASES'
chunk_size=1e6 | -
chunk_size=1 | -
threads=256 | -
contigs=1 | -
resources={tessellar: {mem_mb: 2000, runtime: null}} | -
options=-tag 3 -window '5000' | -
chunk_size=abc | key chunk_size: expected a whole number 1 or more, found 'abc'
chunk_size=0 | key chunk_size: expected a whole number 1 or more, found 0
chunk_size=2.5 | key chunk_size: expected a whole number 1 or more, found 2.5
threads=257 | key threads: expected a whole number from 1 to 256, found 257
threads=true | key threads: expected a whole number from 1 to 256, found 'true'
haplotype=x.vcf.gz | key haplotype: not a key of this workflow (its keys: study, panel, haplotypes, ped, tessellar, engine, map, options, threads, chunk_size, outdir, contigs, resources)
study=none.vcf.gz | key study: none.vcf.gz does not exist or is not a file
engine=gpu | key engine: expected one of tags, hmm, found 'gpu'
options=-engine hmm | key options: -engine is set by the workflow (from engine); leave it out of options
panel=/dev/null.txt | key panel: /dev/null.txt: the workflow takes .vcf.gz, .bcf or .vcf files
haplotypes=none.{contig}/h.vcf.gz | key haplotypes: the folder of none.{contig}/h.vcf.gz does not exist
ped=none.ped | key ped: none.ped does not exist or is not a file
tessellar=/none/tessellar | key tessellar: /none/tessellar is not an executable file (build it, or give the binary's path)
tessellar=no-such-tessellar | key tessellar: no-such-tessellar is not on PATH (build it, or give the binary's path)
options=-tag 3 -threads 2 | key options: -threads is set by the workflow (from threads); leave it out of options
options=-window '5 | key options: "-window '5" cannot be split into words: No closing quotation
outdir= | key outdir: a value is needed (none given)
contigs=[[chr1]] | key contigs: expected a list of contig names such as [chr1, chr2], found [['chr1']]
resources={tesselar: {mem_mb: 1}} | key resources: unknown rule 'tesselar' (known: tessellar, index, plan, concat, sites, summary)
resources={tessellar: {mem: 1}} | key resources.tessellar: unknown figure 'mem' (known: mem_mb, mem_mb_base, mem_mb_per_mcell, runtime, runtime_base, runtime_per_mcell)
resources={plan: {runtime: -1}} | key resources.plan.runtime: expected a number, 0 or more, or null, found '-1'
CASES
(cd "$WORK" && "$(snakemake_python)" - "$WF_ROOT/workflow" "$WORK/good.yaml" "$WORK/cases.txt") > "$WORK/table.log" 2>&1 <<'PY' ||
import argparse, os, sys, yaml
from snakemake import parse_config
from snakemake.utils import update_config
workflow, good, cases = sys.argv[1:4]
sys.path.insert(0, os.path.join(workflow, "scripts"))
from config_check import ConfigError, checked
bad = 0
for n, line in enumerate(open(cases)):
    kv, expected = line.rstrip("\n").split(" | ")
    config = yaml.safe_load(open(os.path.join(workflow, "config.yaml")))
    update_config(config, yaml.safe_load(open(good)))
    update_config(config, parse_config(argparse.Namespace(config=[kv])))
    try:
        checked(config)
        got = "-"
    except ConfigError as err:
        got = str(err)
    if got != expected:
        print(f"{kv}: expected {expected!r}, got {got!r}")
        bad += 1
print(f"{n + 1} cases, {bad} failed")
sys.exit(bad > 0 or n < 22)
PY
    fail "$(grep -v ' cases, ' "$WORK/table.log" | head -n 3 | tr '\n' ';') $(tail -n 1 "$WORK/table.log")"

# Through Snakemake: from the command line, from a config file, and the good
# configuration's dry run.
dry_run() {  # dry_run LOG ARGS...
    snakemake -s "$SNAKEFILE" --configfile "$WORK/good.yaml" --cores 1 -n --directory "$WORK" \
        "${@:2}" > "$1" 2>&1
}
dry_run "$WORK/good.log" || { tail -n 5 "$WORK/good.log"; fail "the good configuration fails a dry run"; }
{ cat "$WORK/good.yaml"; printf 'chunk_size: 20 kb\n'; } > "$WORK/bad.yaml"
for how in "command line" "config file"; do
    if [ "$how" = "command line" ]; then
        args=(--config chunk_size=abc) found="'abc'"
    else
        args=(--configfile "$WORK/bad.yaml") found="'20 kb'"
    fi
    ! dry_run "$WORK/bad.log" "${args[@]}" || fail "chunk_size from the $how: the dry run passed"
    expected="Error in the configuration: key chunk_size: expected a whole number 1 or more, found $found"
    got=$(grep -v '^Config file .* is extended' "$WORK/bad.log")
    [ "$got" = "$expected" ] ||
        fail "chunk_size from the $how: expected the one line \"$expected\", got: $(head -c 600 "$WORK/bad.log")"
done
pass
