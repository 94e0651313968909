#!/usr/bin/env python3
"""Converts a Tessellar input set to VCF for a peer imputation tool.

Writes DIR/ref.vcf (the phased haplotypes as a reference panel, one sample per
two haplotype columns) and DIR/target.vcf (the study genotypes at the SNPs that
the reference also holds, unphased). The allele that a haplotype value 1 or a
genotype code counts becomes ALT, following Tessellar's allele alignment: at a
SNP typed in both files and kept in the study the study's letters, elsewhere
the panel's. Usage: to_vcf.py DIR  (reads DIR/genotype.dat, external.dat,
haplotype.dat).
"""
import os
import sys


def read_rows(path, fixed):
    rows = []
    with open(path) as f:
        for line in f:
            fields = line.split()
            if fields:
                rows.append((fields[:fixed], fields[fixed:]))
    return rows


def frequency(codes):
    present = [int(c) for c in codes if c != "9"]
    return sum(present) / (2.0 * len(present)) if present else float("nan")


def study_kept(study, panel):
    """Whether the alignment keeps this study row (it clears unresolved A/T,
    C/G SNPs and monomorphic ones)."""
    (_, _, _, sa1, _), scodes = study
    (_, _, pa1, pa2), pcodes = panel
    fs, fe = frequency(scodes), frequency(pcodes)
    if pa1 == sa1 and (pa1, pa2) in (("C", "G"), ("A", "T")):
        d = (fe - 0.5) * (fs - 0.5)
        if 0.4 < fe < 0.6 and 0.4 < fs < 0.6 and d < 0:
            return False
    return not (fs < 0.000001 or fs > 0.999999)


def pair_by_position(study, panel):
    """Panel row -> study row for equal positions, pairing off in file order."""
    pairs, s = {}, 0
    for p, (fields, _) in enumerate(panel):
        pos = int(fields[1])
        while s < len(study) and int(study[s][0][1]) < pos:
            s += 1
        if s < len(study) and int(study[s][0][1]) == pos:
            pairs[p] = s
            s += 1
    return pairs


GT = {"0": "0/0", "1": "0/1", "2": "1/1", "9": "./."}
HEADER = '##fileformat=VCFv4.2\n##contig=<ID=1>\n##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n'


def main(directory):
    study = read_rows(os.path.join(directory, "genotype.dat"), 5)
    panel = read_rows(os.path.join(directory, "external.dat"), 4)
    haps = {fields[0]: values for fields, values in read_rows(os.path.join(directory, "haplotype.dat"), 1)}
    pairs = pair_by_position(study, panel)
    ncol = len(next(iter(haps.values())))
    with open(os.path.join(directory, "ref.vcf"), "w") as ref, open(os.path.join(directory, "target.vcf"), "w") as tgt:
        ref.write(HEADER + "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t")
        ref.write("\t".join("R%d" % k for k in range(ncol // 2)) + "\n")
        tgt.write(HEADER + "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t")
        tgt.write("\t".join("S%d" % k for k in range(len(study[0][1]))) + "\n")
        for p, (fields, _) in enumerate(panel):
            name, pos, a1, a2 = fields
            if name not in haps:
                continue
            s = pairs.get(p)
            kept = s is not None and study_kept(study[s], panel[p])
            if kept:
                a1, a2 = study[s][0][3], study[s][0][4]
            bits = haps[name]
            gts = "\t".join(bits[2 * k] + "|" + bits[2 * k + 1] for k in range(ncol // 2))
            ref.write("1\t%s\t%s\t%s\t%s\t.\tPASS\t.\tGT\t%s\n" % (pos, name, a1, a2, gts))
            if kept:
                codes = "\t".join(GT[c] for c in study[s][1])
                tgt.write("1\t%s\t%s\t%s\t%s\t.\tPASS\t.\tGT\t%s\n" % (pos, name, a1, a2, codes))


if __name__ == "__main__":
    main(sys.argv[1])
