#!/usr/bin/env python3
"""Summary of a Tessellar workflow run, as a tab-separated table on stdout.

One line per contig and a last line `all`: the SNPs written (records of
OUTDIR/CONTIG.vcf.gz, counted by `bcftools index -n`), the imputed SNPs of the
merged per-site file (fate imputed or typed+imputed, with an INFO figure), and
for each minor-allele-frequency bin (<1 %, 1-5 %, 5-20 %, 20-50 %, from the
MAF column) the number of imputed SNPs and their mean INFO ('.' for none).
"""
import argparse
import gzip
import subprocess
import sys

BINS = [("lt1", 0.0, 0.01), ("1to5", 0.01, 0.05), ("5to20", 0.05, 0.20), ("20to50", 0.20, 0.5)]
IMPUTED_FATES = {"imputed", "typed+imputed"}


def maf_bin(maf):
    for i, (_, lo, hi) in enumerate(BINS):
        if lo <= maf < hi:
            return i
    return len(BINS) - 1 if maf == 0.5 else None


def records(vcf):
    proc = subprocess.run(["bcftools", "index", "-n", vcf], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)
    if proc.returncode != 0:
        sys.exit("summary: bcftools index -n %s failed: %s" % (vcf, proc.stderr.strip()))
    return int(proc.stdout.strip())


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sites", required=True, help="merged per-site file (.gz)")
    ap.add_argument("--vcf", action="append", default=[], metavar="CONTIG=FILE",
                    help="a contig's output, in order; repeatable")
    ap.add_argument("--vcf-list", metavar="FILE",
                    help="contigs' outputs, one CONTIG=FILE a line, in order")
    args = ap.parse_args()

    items = list(args.vcf)
    if args.vcf_list:
        with open(args.vcf_list) as fh:
            items += [line.rstrip("\n") for line in fh if line.strip()]
    contigs = [item.split("=", 1) for item in items]
    written = {c: records(f) for c, f in contigs}
    stats = {c: [[0, 0.0] for _ in BINS] for c, _ in contigs}
    with gzip.open(args.sites, "rt") as fh:
        header = fh.readline().rstrip("\n").lstrip("#").split("\t")
        col = {name.upper(): i for i, name in enumerate(header)}
        for need in ("CONTIG", "FATE", "MAF", "INFO"):
            if need not in col:
                sys.exit("summary: %s has no %s column" % (args.sites, need))
        for line in fh:
            f = line.rstrip("\n").split("\t")
            if f[col["FATE"]] not in IMPUTED_FATES or f[col["INFO"]] == "." or f[col["MAF"]] == ".":
                continue
            contig = f[col["CONTIG"]]
            if contig not in stats:
                sys.exit("summary: contig %s of %s has no output file" % (contig, args.sites))
            b = maf_bin(float(f[col["MAF"]]))
            if b is None:
                sys.exit("summary: MAF %s out of range in %s" % (f[col["MAF"]], args.sites))
            stats[contig][b][0] += 1
            stats[contig][b][1] += float(f[col["INFO"]])

    total = [[sum(stats[c][i][0] for c in stats), sum(stats[c][i][1] for c in stats)]
             for i in range(len(BINS))]
    out = sys.stdout
    cols = ["contig", "snps_written", "imputed"]
    for name, _, _ in BINS:
        cols += ["imputed_maf_" + name, "mean_info_maf_" + name]
    out.write("\t".join(cols) + "\n")
    rows = [(c, written[c], stats[c]) for c, _ in contigs]
    rows.append(("all", sum(written.values()), total))
    for name, n_written, bins in rows:
        fields = [name, str(n_written), str(sum(n for n, _ in bins))]
        for n, s in bins:
            fields += [str(n), "%.4f" % (s / n) if n else "."]
        out.write("\t".join(fields) + "\n")


if __name__ == "__main__":
    main()
