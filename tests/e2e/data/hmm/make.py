#!/usr/bin/env python3
"""Makes the inputs of the hmm engine's tests: a panel of 30 singletons whose
phased GT gives the haplotypes (tools/make_dataset.py, then tools/to_vcf.py),
over 11 Mb of contig 1 with a sparse stretch across the 5 Mb window boundary,
and a phased study of six of the panel's own samples typed at every fourth
panel SNP below 8.5 Mb, so that imputation must give back their panel
genotypes. The study lists REF and ALT swapped (GT flipped) at every seventh
typed SNP, has missing calls (one half missing but phased, one unphased),
an unphased homozygous call, and two study-only SNPs. Also a genetic map of
the contig (named chr1), a study with an unphased heterozygous call, and a
panel with the samples' own genotypes only (the truth).
Run from the repository root: python3 tests/e2e/data/hmm/make.py
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..", "..", "..")
STUDY = ["U3", "U8", "U12", "U17", "U21", "U29"]


def run(*args):
    subprocess.run(list(args), check=True, stdout=subprocess.DEVNULL)


def panel_lines(work):
    run(sys.executable, os.path.join(ROOT, "tools", "make_dataset.py"), "--outdir",
        os.path.join(work, "text"), "--seed", "11", "--panel-snps", "400", "--region-bp",
        "11000000", "--start-pos", "1", "--trios", "0", "--singletons", "30",
        "--panel-missing", "0", "--study-individuals", "6", "--hap-missing", "0", "--sparse",
        "4500000-5800000:0.02", "--study-fraction", "0.25")
    run(sys.executable, os.path.join(ROOT, "tools", "to_vcf.py"), os.path.join(work, "text"),
        os.path.join(work, "vcf"), "--haplotypes", "panel", "--panel", "0", "0", "30")
    with open(os.path.join(work, "vcf", "panel.vcf")) as f:
        return f.read().splitlines()


def flipped(gt):
    return "".join({"0": "1", "1": "0"}.get(c, c) for c in gt)


def study_records(columns, records):
    samples = columns.split("\t")[9:]
    picks = [samples.index(s) for s in STUDY]
    out = []
    typed = [r for i, r in enumerate(records) if i % 4 == 1 and int(r.split("\t")[1]) < 8500000]
    for k, r in enumerate(typed):
        f = r.split("\t")
        gts = [f[9 + p] for p in picks]
        if k % 7 == 3:  # REF and ALT swapped
            f[3], f[4] = f[4], f[3]
            gts = [flipped(g) for g in gts]
        if k in (5, 10, 40, 41):  # k = 10: at a swapped SNP
            gts[1] = "./."
        if k == 12:
            gts[2] = gts[2][0] + "|."  # half missing, phased: its allele is kept
        if k == 13:
            gts[4] = ".|."
        if k == 20 and gts[0][0] == gts[0][2]:
            gts[0] = gts[0][0] + "/" + gts[0][2]  # homozygous, unphased
        out.append("\t".join(f[:9] + gts))
        if k in (10, 30):  # a study-only SNP just after, complete or with a missing call
            pos = int(f[1]) + 1
            extra = ["0|1", "1|1", "0|0", "0|1", "1|0", "0|0"]
            if k == 30:
                extra[3] = "./."
            out.append("\t".join(["1", str(pos), "so%d" % k, "A", "G", ".", "PASS", ".", "GT"] +
                                 extra))
    return out


def write(name, header, columns, records, samples=None):
    cols = columns.split("\t")
    if samples is not None:
        cols = cols[:9] + samples
    path = os.path.join(HERE, name)
    with open(path, "w") as f:
        f.write("\n".join(header + ["\t".join(cols)] + records) + "\n")
    if name.endswith(".vcf.gz"):
        os.rename(path, path[:-3])
        run("bgzip", "-f", path[:-3])
        run("tabix", "-f", "-p", "vcf", path)


def main():
    with tempfile.TemporaryDirectory() as work:
        lines = panel_lines(work)
    header = [l for l in lines if l.startswith("##")]
    columns = next(l for l in lines if l.startswith("#CHROM"))
    records = [l for l in lines if not l.startswith("#")]
    write("panel.vcf.gz", header, columns, records)
    study = study_records(columns, records)
    write("study.vcf.gz", header, columns, study, STUDY)
    # The same study with one heterozygous call unphased.
    unphased = list(study)
    for i, r in enumerate(unphased):
        f = r.split("\t")
        if i > 30 and f[9 + 5] in ("0|1", "1|0"):
            f[9 + 5] = "0/1"
            unphased[i] = "\t".join(f)
            break
    write("unphased.vcf", header, columns, unphased, STUDY)
    # The genetic map: 1 cM/Mb, 3 cM/Mb between 3 and 4 Mb, flat from 7 to 7.5 Mb.
    with open(os.path.join(HERE, "genetic.map"), "w") as f:
        cm = 0.0
        for k, bp in enumerate(range(500000, 10500001, 500000)):
            if k > 0:
                rate = 3.0 if 3000000 < bp <= 4000000 else 0.0 if 7000000 < bp <= 7500000 else 1.0
                cm += rate * 0.5
            f.write("chr1\tm%d\t%.3f\t%d\n" % (k, cm, bp))


if __name__ == "__main__":
    main()
