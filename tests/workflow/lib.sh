# Shared parts of the workflow tests; sourced by the test scripts.
# A test prints "PASSED: NAME", "FAILED: NAME: WHY" (exit 1) or
# "SKIPPED: NAME: WHY" (exit 77) as its last line.

WF_TESTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WF_ROOT=$(cd "$WF_TESTS/../.." && pwd)
SNAKEFILE=$WF_ROOT/workflow/Snakefile
SKIP=77

# The test data: chunks of CHUNK bp, with study-only SNPs right at chunk
# boundaries and one after the last panel SNP of chrA, so that a chunk plan
# or region that loses or repeats a boundary base, or stops at the panel's
# last position, changes the output.
CHUNK=50000
EXTRA_SNPS=(--extra chrA:50000 --extra chrA:50001 --extra chrB:100000 --extra chrB:100001
    --extra chrA:end+777)

pass() {
    echo "PASSED: $TEST_NAME"
    exit 0
}
fail() {
    echo "FAILED: $TEST_NAME: $*"
    exit 1
}
skip() {
    echo "SKIPPED: $TEST_NAME: $*"
    exit $SKIP
}

# find_tessellar [PATH]: sets TESSELLAR from the argument, $TESSELLAR, or the
# build trees build/release and build/dev; it must have -region and -sites.
find_tessellar() {
    local cand
    if [ -n "${1:-}" ] && ! [ -x "$1" ]; then
        fail "no tessellar binary at $1"
    fi
    for cand in "${1:-}" "${TESSELLAR:-}" "$WF_ROOT/build/release/tessellar" "$WF_ROOT/build/dev/tessellar"; do
        if [ -n "$cand" ] && [ -x "$cand" ]; then
            TESSELLAR=$(cd "$(dirname "$cand")" && pwd)/$(basename "$cand")
            break
        fi
    done
    if [ -z "${TESSELLAR:-}" ] || ! [ -x "$TESSELLAR" ]; then
        fail "no tessellar binary: give its path as the first argument, or build build/release or build/dev"
    fi
    local help
    help=$("$TESSELLAR" --help 2>&1) || fail "$TESSELLAR --help failed"
    for opt in -region -sites; do
        grep -q -- "^ *$opt " <<< "$help" || fail "$TESSELLAR has no $opt option"
    done
}

need_commands() {
    local cmd
    for cmd in "$@"; do
        command -v "$cmd" > /dev/null || skip "$cmd is not installed (tests/workflow/run_all.sh installs it as root)"
    done
}

# snakemake_python: the Python interpreter that runs Snakemake (from its
# command's first line), which the workflow's own Python runs in
snakemake_python() {
    local line
    line=$(head -n 1 "$(command -v snakemake)")
    case $line in
        '#!'*/env\ *) echo "${line##* }" ;;
        '#!'/*) echo "${line#'#!'}" ;;
        *) echo python3 ;;
    esac
}

# make_data DIR: the two-contig test set in DIR/data, and one whole Tessellar
# run on it: DIR/whole.vcf.gz and DIR/whole.sites.tsv.
make_data() {
    local dir=$1
    python3 "$WF_TESTS/make_test_data.py" "$dir/data" "${EXTRA_SNPS[@]}" > "$dir/data.log" 2>&1 ||
        fail "making the test data failed: $(tail -n 5 "$dir/data.log")"
    rm -rf "$dir/data/text"
    "$TESSELLAR" -gfile "$dir/data/study.vcf.gz" -efile "$dir/data/panel.vcf.gz" -ped "$dir/data/panel.ped" \
        -ofile "$dir/whole.vcf.gz" -sites "$dir/whole.sites.tsv" > "$dir/whole.log" 2>&1 ||
        fail "the whole run failed: $(grep -F Error: "$dir/whole.log")"
}

# write_config FILE KEY=VALUE...: a workflow config (YAML, one key a line)
write_config() {
    local file=$1 kv
    shift
    : > "$file"
    for kv in "$@"; do
        printf '%s: %s\n' "${kv%%=*}" "${kv#*=}" >> "$file"
    done
}

# check_plan OUTDIR DATADIR [any]: each contig's chunks run from 1 to its last
# study or panel position in steps of CHUNK, without gaps or overlaps, and
# (unless the third argument is "any") the data gives at least one chunk
# without any SNP.
check_plan() {
    local out=$1 data=$2 empty=${3:-} contig last s p
    local contigs
    contigs=$(bcftools index -s "$data/study.vcf.gz" | cut -f1)
    [ "$(cat "$out/plan/contigs.txt")" = "$contigs" ] ||
        fail "plan/contigs.txt lists $(tr '\n' ' ' < "$out/plan/contigs.txt"), the study has $contigs"
    for contig in $contigs; do
        s=$(bcftools query -r "$contig" -f '%POS\n' "$data/study.vcf.gz" | tail -n 1)
        p=$(bcftools query -r "$contig" -f '%POS\n' "$data/panel.vcf.gz" | tail -n 1)
        last=$((s > p ? s : p))
        awk -F'\t' -v c="$contig" -v last="$last" -v size="$CHUNK" '
            /^#/ { next }
            { n++
              if ($1 != c) { print "contig " $1 " in the plan of " c; bad = 1 }
              if ($2 != prev + 1) { print c ": chunk " n " starts at " $2 ", not " prev + 1; bad = 1 }
              if ($2 > $3) { print c ": chunk " n " ends before it starts"; bad = 1 }
              if ($3 - $2 + 1 > size) { print c ": chunk " n " is longer than " size; bad = 1 }
              if ($3 != last && $3 - $2 + 1 != size) { print c ": inner chunk " n " is shorter than " size; bad = 1 }
              prev = $3 }
            END { if (prev != last) { print c ": the chunks end at " prev ", the last SNP is at " last; bad = 1 }
                  exit bad }' "$out/plan/$contig.tsv" > "$out/plan.check" ||
            fail "chunk plan of $contig: $(tr '\n' ';' < "$out/plan.check")"
    done
    [ "$empty" = any ] ||
        awk -F'\t' '!/^#/ && $4 == 0 && $5 == 0 { found = 1 } END { exit !found }' "$out"/plan/*.tsv ||
        fail "the test data gives no chunk without SNPs (chunk size $CHUNK)"
}

# check_identity OUTDIR WHOLE_VCF WHOLE_SITES: OUTDIR/CONTIG.vcf.gz holds the
# whole run's records of CONTIG, byte for byte, and its header apart from
# ##source and bcftools' own lines; OUTDIR/sites.tsv.gz is the whole run's
# per-site file; summary.tsv counts the records.
check_identity() {
    local out=$1 whole=$2 sites=$3 contig n total=0
    local strip='^##(source=|bcftools_)'
    zcat "$whole" | grep -Ev "$strip" | grep '^#' > "$out/whole.header"
    for contig in $(zcat "$whole" | grep -v '^#' | cut -f1 | uniq); do
        [ -s "$out/$contig.vcf.gz" ] || fail "no $out/$contig.vcf.gz"
        [ -s "$out/$contig.vcf.gz.tbi" ] || fail "no index $out/$contig.vcf.gz.tbi"
        zcat "$out/$contig.vcf.gz" | grep -Ev "$strip" | grep '^#' > "$out/$contig.header"
        cmp -s "$out/whole.header" "$out/$contig.header" ||
            fail "header of $contig.vcf.gz differs from the whole run's: $(diff "$out/whole.header" "$out/$contig.header" | head -n 4)"
        zcat "$whole" | awk -F'\t' -v c="$contig" '$1 == c' > "$out/whole.$contig.records"
        zcat "$out/$contig.vcf.gz" | grep -v '^#' > "$out/$contig.records"
        if ! cmp -s "$out/whole.$contig.records" "$out/$contig.records"; then
            fail "records of $contig differ from the whole run's ($(wc -l < "$out/$contig.records") against $(wc -l < "$out/whole.$contig.records")): $(diff "$out/whole.$contig.records" "$out/$contig.records" | cut -c 1-80 | head -n 4)"
        fi
        n=$(wc -l < "$out/$contig.records")
        [ "$n" -gt 0 ] || fail "no records for $contig"
        awk -F'\t' -v c="$contig" -v n="$n" '$1 == c && $2 == n { ok = 1 } END { exit !ok }' "$out/summary.tsv" ||
            fail "summary.tsv does not give $n SNPs written for $contig"
        total=$((total + n))
    done
    [ "$(ls "$out"/*.vcf.gz | wc -l)" -eq "$(zcat "$whole" | grep -v '^#' | cut -f1 | uniq | wc -l)" ] ||
        fail "OUTDIR has other contig files than the whole run's contigs: $(ls "$out"/*.vcf.gz)"
    if ! cmp -s <(zcat "$out/sites.tsv.gz") "$sites"; then
        fail "sites.tsv.gz differs from the whole run's -sites file: $(diff "$sites" <(zcat "$out/sites.tsv.gz") | cut -c 1-80 | head -n 4)"
    fi
    [ "$(zcat "$whole" | grep -vc '^#')" -eq "$total" ] || fail "the contig files hold $total records, the whole run $(zcat "$whole" | grep -vc '^#')"
}

# make_bad_study DATADIR DIR: DIR/study.vcf.gz (indexed) is DATADIR's study
# with one bad record, the chrB study record nearest to 30000, whose first GT
# names allele 2 of a record with one ALT; DIR also gets the panel files.
# With chunks of BAD_CHUNK_SIZE the record lies in BAD_CHUNK. A job reads
# flanks around its chunk (over 200 kb of them in this data's sparse
# stretches), but the other chunk of chrB, OTHER_CHUNK, does not reach back to
# it. Sets BAD_POS.
BAD_CHUNK_SIZE=300000
BAD_CHUNK=chrB/1-300000
OTHER_CHUNK=chrB/300001-404499
make_bad_study() {
    local data=$1 dir=$2 line
    mkdir -p "$dir"
    cp "$data/panel.vcf.gz" "$data/panel.vcf.gz.tbi" "$data/panel.ped" "$dir/"
    zcat "$data/study.vcf.gz" > "$dir/study.vcf"
    line=$(awk -F'\t' '$1 == "chrB" { d = $2 - 30000; d = d < 0 ? -d : d; if (!n || d < best) { best = d; n = NR } }
        END { if (best < 10000) print n }' "$dir/study.vcf")
    [ -n "$line" ] || fail "the test data has no chrB study record within 10 kb of 30000"
    BAD_POS=$(awk -F'\t' -v l="$line" 'NR == l { print $2 }' "$dir/study.vcf")
    awk -F'\t' -v OFS='\t' -v l="$line" 'NR == l { $10 = "0/2" } { print }' "$dir/study.vcf" |
        bgzip -c > "$dir/study.vcf.gz"
    rm "$dir/study.vcf"
    tabix -p vcf "$dir/study.vcf.gz"
}

# begin_test LABEL [TESSELLAR]: the commands the tests need, the binary, and a
# work folder $WORK (removed at exit) holding the test data and a whole run.
begin_test() {
    need_commands snakemake bcftools tabix bgzip python3
    find_tessellar "${2:-}"
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/tsl-wf-$1.XXXXXX")
    trap 'remove_work' EXIT
    make_data "$WORK"
}

# run_snakemake CONFIG [ARGS...]: the workflow on two local cores in $WORK.
run_snakemake() {
    snakemake -s "$SNAKEFILE" --configfile "$1" --cores 2 --directory "$WORK" "${@:2}"
}

# remove_work: removes $WORK, or keeps it (and says where) when TSL_WF_KEEP is set
remove_work() {
    if [ -n "${TSL_WF_KEEP:-}" ]; then
        echo "kept $WORK"
    else
        rm -rf "$WORK"
    fi
}
