#!/usr/bin/env python3
"""Makes the inputs of the per-site file's fate test from the bundled
example's VCF files: the example's records, and records that meet every other
fate: skipped study and panel records of each kind, a panel record of another
variant at a study SNP's position, haplotype records that no panel record
takes or that are unphased, a panel contig that the study lacks, and an A/T
SNP whose strand cannot be told on a contig too sparse to impute it.
Run from the repository root: python3 tests/e2e/data/fates/make.py
"""
import gzip
import os

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "..", "..", "examples")
EXTRA_HEADER = ['##contig=<ID=2>', '##contig=<ID=3>',
                '##FILTER=<ID=LowQual,Description="Low quality">']


def read(name):
    with gzip.open(os.path.join(EXAMPLES, name), "rt") as f:
        lines = f.read().splitlines()
    header = [l for l in lines if l.startswith("##")]
    columns = next(l for l in lines if l.startswith("#CHROM"))
    records = [l for l in lines if not l.startswith("#")]
    return header, columns, records


def write(name, header, columns, records):
    with open(os.path.join(HERE, name), "w") as f:
        f.write("\n".join(header + EXTRA_HEADER + [columns] + records) + "\n")


def record(chrom, pos, rid, ref, alt, gts, filt="PASS"):
    return "\t".join([chrom, str(pos), rid, ref, alt, ".", filt, ".", "GT"] + gts)


def codes_to_gt(codes, phased=False):
    sep = "|" if phased else "/"
    return [("0" + sep + "0", "0" + sep + "1", "1" + sep + "1")[c] for c in codes]


def main():
    h, c, study = read("study.vcf.gz")
    n = len(c.split("\t")) - 9
    mixed = codes_to_gt([(i * 7) % 3 for i in range(n)])
    study += [
        record("1", 2100001, "s_indel", "A", "AT", mixed),
        record("1", 2100002, "s_multi", "A", "C,G", mixed),
        record("1", 2100003, "s_symbolic", "A", "<DEL>", mixed),
        record("1", 2100004, "s_filtered", "A", "G", mixed, "LowQual"),
        record("1", 2100010, "s_other_variant", "A", "G", mixed),
        # monomorphic in the study: set aside, imputed from the panel, whose
        # letters are swapped (its codes flipped to count the study's ALT G)
        record("1", 2100050, "s_mono", "A", "G", codes_to_gt([0] * n)),
        # contig 3: 45 % ALT, A/T; too few other SNPs for a tag set
        record("3", 5000, "s_at", "A", "T", codes_to_gt([1] * 45 + [0] * (n - 45))),
        record("3", 6000, "s_tag", "C", "T", mixed),
    ]
    write("study.vcf", h, c, study)

    h, c, panel = read("panel.vcf.gz")
    m = len(c.split("\t")) - 9
    pmixed = codes_to_gt([(i * 5) % 3 for i in range(m)], phased=True)
    panel += [
        record("1", 2100010, "p_other_variant", "A", "C", pmixed),
        record("1", 2100020, "p_indel", "AT", "A", pmixed),
        record("1", 2100050, "p_mono", "G", "A", pmixed),
        record("2", 100, "p_contig2", "C", "T", pmixed),
        record("2", 200, "p_contig2b", "G", "A", pmixed),
        # 55 % ALT: the strand cannot be told against the study's 45 %
        record("3", 5000, "p_at", "A", "T",
               codes_to_gt([2] * 9 + [1] * 81 + [0] * (m - 90), phased=True)),
        # untyped, with a single typed SNP near it: no tag set
        record("3", 7000, "p_untyped", "G", "C", pmixed),
    ]
    write("panel.vcf", h, c, panel)

    h, c, haps = read("haplotypes.vcf.gz")
    k = len(c.split("\t")) - 9
    hmixed = ["%d|%d" % (i % 2, (i // 2) % 2) for i in range(k)]
    haps += [
        record("1", 2100030, "h_alone", "C", "G", hmixed),
        record("1", 2100040, "h_unphased", "C", "G", ["0/1"] * k),
        record("1", 2100050, "h_mono", "G", "A", hmixed),
        record("3", 5000, "h_at", "A", "T", hmixed),
        record("3", 6000, "h_tag", "C", "T", hmixed),
        record("3", 7000, "h_untyped", "G", "C", hmixed),
    ]
    write("haplotypes.vcf", h, c, haps)


if __name__ == "__main__":
    main()
