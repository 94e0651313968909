#!/usr/bin/env python3
"""VCF test set for the workflow tests: two contigs, and a third that only the panel has.

Makes three text datasets with tools/make_dataset.py (sparse stretches, a
singleton panel with phased haplotypes and no missing panel codes), adds
study-only SNPs at the given positions of each (typed, written through by
Tessellar; used to put SNPs right on chunk boundaries and after the panel's
last SNP), and converts them with tools/to_vcf.py into OUT/study.vcf.gz,
OUT/panel.vcf.gz and OUT/panel.ped (bgzipped, tabix-indexed) with contigs chrA,
chrC and chrB in this order; then takes chrC's records out of the study (its
header keeps the contig), so that a whole run lists chrC's panel SNPs as
no-study-contig after chrA and chrB.

  make_test_data.py OUT [--scale N] [--extra chrA:POS ...]
"""
import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(ROOT, "tools")

# name, seed, panel SNPs, region bp, start, sparse stretch
CONTIGS = [
    ("chrA", 11, 600, 600000, 1000, "200000-400000:0.02"),
    ("chrC", 13, 120, 120000, 3000, "40000-60000:0.1"),
    ("chrB", 12, 400, 400000, 5000, "100000-250000:0.02"),
]
PANEL_ONLY = "chrC"


def drop_study_contig(out, contig):
    """Takes a contig's records out of OUT/study.vcf.gz and indexes it again."""
    path = os.path.join(out, "study.vcf.gz")
    kept = subprocess.run(["bgzip", "-dc", path], check=True, stdout=subprocess.PIPE).stdout
    lines = [line for line in kept.split(b"\n")
             if line and (line.startswith(b"#") or line.split(b"\t", 1)[0] != contig.encode())]
    with open(path, "wb") as fh:
        subprocess.run(["bgzip", "-c"], input=b"\n".join(lines) + b"\n", check=True, stdout=fh)
    subprocess.run(["tabix", "-f", "-p", "vcf", path], check=True)


def add_study_snps(path, positions, prefix):
    """Adds study-only SNPs (codes of the nearest earlier line, recode flag 0)."""
    with open(path) as fh:
        lines = [line.rstrip("\n").split() for line in fh if line.strip()]
    taken = {int(f[1]) for f in lines}
    for n, pos in enumerate(sorted(positions)):
        if pos in taken:
            continue
        before = [f for f in lines if int(f[1]) < pos] or lines[:1]
        model = before[-1]
        codes = [c if c != "9" else "0" for c in model[5:]]  # no missing codes: written through
        lines.append(["%sx%d" % (prefix, n), str(pos), "0", "A", "G"] + codes)
        taken.add(pos)
    lines.sort(key=lambda f: int(f[1]))
    with open(path, "w") as fh:
        for f in lines:
            fh.write(" ".join(f) + "\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--individuals", type=int, default=40)
    ap.add_argument("--singletons", type=int, default=60)
    ap.add_argument("--extra", action="append", default=[], metavar="CONTIG:POS",
                    help="a study-only SNP; POS 'end+D' puts it D bp after the contig's last SNP")
    args = ap.parse_args()

    work = os.path.join(args.out, "text")
    contig_args = []
    for name, seed, snps, bp, start, sparse in CONTIGS:
        d = os.path.join(work, name)
        subprocess.run([sys.executable, os.path.join(TOOLS, "make_dataset.py"), "--outdir", d,
                        "--seed", str(seed), "--panel-snps", str(snps),
                        "--study-individuals", str(args.individuals), "--trios", "0",
                        "--singletons", str(args.singletons), "--region-bp", str(bp),
                        "--start-pos", str(start), "--sparse", sparse, "--panel-missing", "0"],
                       check=True, stdout=subprocess.DEVNULL)
        extra = []
        for item in args.extra:
            contig, pos = item.split(":")
            if contig != name:
                continue
            if pos.startswith("end+"):
                last = 0
                for fname in ("genotype.dat", "external.dat"):
                    with open(os.path.join(d, fname)) as fh:
                        for line in fh:
                            if line.strip():
                                last = max(last, int(line.split()[1]))
                extra.append(last + int(pos[4:]))
            else:
                extra.append(int(pos))
        if extra:
            add_study_snps(os.path.join(d, "genotype.dat"), extra, name)
        contig_args += ["--contig", "%s=%s" % (name, d)]
    subprocess.run([sys.executable, os.path.join(TOOLS, "to_vcf.py"), args.out] + contig_args
                   + ["--haplotypes", "panel", "--panel", "0", "0", str(args.singletons), "--bgzip"],
                   check=True, stdout=subprocess.DEVNULL)
    drop_study_contig(args.out, PANEL_ONLY)


if __name__ == "__main__":
    main()
