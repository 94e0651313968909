#!/usr/bin/env bash
# The per-site lines of a panel contig that the study lacks, as a whole
# Tessellar run writes them (fate no-study-contig): a whole run on the
# contig's panel records and haplotype records, with a placeholder study of
# one SNP on a contig of its own (a run needs a study SNP); OUT gets the
# per-site file's header line and the contig's lines. The run log goes to
# standard output.
#   no_study_sites.sh CONTIG STUDY PANEL TESSELLAR OUT [OPTION...]
# The OPTIONs are Tessellar's; the file of an -hfile among them is read on
# the contig alone too.
set -euo pipefail
contig=$1 study=$2 panel=$3 tessellar=$4 out=$5
shift 5

bare() {  # a contig name as Tessellar pairs contigs: without a "chr" prefix
    if [ ${#1} -gt 3 ] && [ "$(printf '%s' "${1:0:3}" | tr '[:upper:]' '[:lower:]')" = chr ]; then
        printf '%s' "${1:3}"
    else
        printf '%s' "$1"
    fi
}
placeholder=placeholder
[ "$(bare "$contig")" != placeholder ] || placeholder=placeholder2

# placeholder_vcf FILE GT...: FILE's header with the placeholder contig, and
# one record on it with the given GT of each sample in turn (the last GT
# for the rest).
placeholder_vcf() {
    local file=$1
    shift
    bcftools view -h "$file" | awk -v c="$placeholder" '/^#CHROM/ { print "##contig=<ID=" c ">" } { print }'
    bcftools query -l "$file" | awk -v c="$placeholder" -v gts="$*" '
        BEGIN { n = split(gts, gt, " "); printf "%s\t1\t.\tA\tC\t.\tPASS\t.\tGT", c }
        { printf "\t%s", gt[NR <= n ? NR : n] }
        END { print "" }'
}

# haplotypes_on_contig FILE OUT: the haplotype records of the contig as BCF;
# without any, a placeholder record, phased 0 for each sample with the
# ploidy of its GT in the file's first record.
haplotypes_on_contig() {
    local own gts
    own=$(bcftools index -s "$1" | cut -f1 | while IFS= read -r c; do
        [ "$(bare "$c")" != "$(bare "$contig")" ] || printf '%s\n' "$c"
    done)
    own=${own%%$'\n'*}
    if [ -n "$own" ]; then
        bcftools view --no-version -Ob -r "$own" -o "$2" "$1"
        return
    fi
    gts=$(bcftools query -f '[%GT ]\n' "$1" 2> /dev/null | head -n 1 || true)
    gts=$(tr -s ' ' '\n' <<< "$gts" | awk 'NF { print (/[|\/]/ ? "0|0" : "0") }' | tr '\n' ' ')
    placeholder_vcf "$1" ${gts:-0|0} | bcftools view --no-version -Ob -o "$2"
}

mkdir -p "$(dirname "$out")"
tmp=$(mktemp -d "$(dirname "$out")/.no_study.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

placeholder_vcf "$study" 0/0 > "$tmp/study.vcf"
bcftools view --no-version -Ob -r "$contig" -o "$tmp/panel.bcf" "$panel"
options=()
while [ $# -gt 0 ]; do
    if [ "$1" = -hfile ] && [ $# -gt 1 ]; then
        haplotypes_on_contig "$2" "$tmp/haplotypes.bcf"
        options+=(-hfile "$tmp/haplotypes.bcf")
        shift 2
    else
        options+=("$1")
        shift
    fi
done
"$tessellar" -gfile "$tmp/study.vcf" -efile "$tmp/panel.bcf" "${options[@]}" -ofile "$tmp/placeholder.out" -sites "$tmp/sites.tsv"
awk -F'\t' -v c="$contig" 'NR == 1 || $1 == c' "$tmp/sites.tsv" > "$tmp/lines.tsv"
mv "$tmp/lines.tsv" "$out"
