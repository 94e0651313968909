#!/usr/bin/env python3
"""The truth of a generated set as VCF, to score imputed genotypes with score_imputation.py.

  truth_vcf.py DIR

DIR holds a set made with make_dataset.py --truth (genotype.dat, external.dat, truth.dat)
and its peer form (ref.vcf, target.vcf from to_vcf.py --peer). Writes:

- DIR/truth.vcf: one record per truth.dat line, contig 1, samples IND1..INDn (the names
  Tessellar gives a text study), GT unphased. At a SNP of ref.vcf, REF and ALT are those of
  ref.vcf (the letters and counted allele of every imputed output); elsewhere the truth's
  letters, ALT the counted second one.
- DIR/masked.tsv: the study's missing genotypes at the SNPs of target.vcf (contig,
  position, REF, ALT, sample), whose true values the truth holds.

Truth.dat gives the study's letters at shared SNPs. Where Tessellar's alignment takes an
A/T or C/G study SNP out, the generator coded the panel on the other strand, and ref.vcf
writes the panel's letters: the truth's letters are complemented there before they are
matched with REF and ALT. Standard library only.
"""

import os
import sys

sys.dont_write_bytecode = True  # keep tools/ free of __pycache__
from to_vcf import (ConversionError, alignment, frequency, pair_by_position,  # noqa: E402
                    read_rows)

COMPLEMENT = str.maketrans("ACGT", "TGCA")
GT = {0: "0/0", 1: "0/1", 2: "1/1"}


def vcf_sites(path):
    """{position: (REF, ALT)} and the sample names of a single-contig VCF."""
    sites, samples = {}, []
    with open(path) as f:
        for line in f:
            if line.startswith("#CHROM"):
                samples = line.rstrip("\n").split("\t")[9:]
            elif not line.startswith("#"):
                fields = line.split("\t", 5)
                sites[int(fields[1])] = (fields[3], fields[4])
    return sites, samples


def other_strand(directory):
    """Positions of the shared SNPs that the alignment takes out of the study."""
    study = read_rows(os.path.join(directory, "genotype.dat"), 5)
    panel = read_rows(os.path.join(directory, "external.dat"), 4)
    out = set()
    for p, s in pair_by_position(study, panel).items():
        (name, pos, a1, a2), codes = panel[p]
        sfields, scodes = study[s]
        kept, _ = alignment(sfields[3] + sfields[4], a1 + a2, sfields[2] == "1",
                            frequency(scodes), frequency(codes))
        if not kept:
            out.add(int(pos))
    return out


def oriented(name, letters, codes, site):
    """The truth codes as ALT counts of `site` (REF, ALT), or an error if the letters differ."""
    if letters == site:
        return codes
    if letters == site[::-1]:
        return [2 - c for c in codes]
    raise ConversionError(f"truth.dat: SNP {name} has the letters {' '.join(letters)}, "
                          f"ref.vcf {' '.join(site)}")


def truth_records(directory):
    """(sample names, [(position, name, REF, ALT, ALT counts)]) of the set's truth."""
    ref, _ = vcf_sites(os.path.join(directory, "ref.vcf"))
    flipped = other_strand(directory)
    records, n = [], None
    for (name, pos, t1, t2), values in read_rows(os.path.join(directory, "truth.dat"), 4):
        codes = [int(c) for c in values]
        n = len(codes) if n is None else n
        if len(codes) != n or not set(codes) <= {0, 1, 2}:
            raise ConversionError(f"truth.dat: SNP {name}: expected {n} codes of 0, 1, 2")
        letters = (t1, t2)
        site = ref.get(int(pos))
        if site is not None:
            if int(pos) in flipped:
                letters = (t1.translate(COMPLEMENT), t2.translate(COMPLEMENT))
            codes = oriented(name, letters, codes, site)
            letters = site
        records.append((int(pos), name, *letters, codes))
    return [f"IND{k}" for k in range(1, (n or 0) + 1)], records


def masked(directory):
    """[(position, REF, ALT, sample)] of target.vcf's missing genotypes, its sample at
    column k named IND<k+1>."""
    out = []
    with open(os.path.join(directory, "target.vcf")) as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            for k, gt in enumerate(fields[9:]):
                if "." in gt:
                    out.append((int(fields[1]), fields[3], fields[4], f"IND{k + 1}"))
    return out


def write(directory):
    """Writes DIR/truth.vcf and DIR/masked.tsv; returns their paths."""
    samples, records = truth_records(directory)
    truth, mask = os.path.join(directory, "truth.vcf"), os.path.join(directory, "masked.tsv")
    with open(truth, "w") as f:
        f.write("##fileformat=VCFv4.2\n##contig=<ID=1>\n"
                '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        f.write("\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO",
                           "FORMAT"] + samples) + "\n")
        for pos, name, ref, alt, codes in records:
            f.write(f"1\t{pos}\t{name}\t{ref}\t{alt}\t.\tPASS\t.\tGT\t"
                    + "\t".join(GT[c] for c in codes) + "\n")
    with open(mask, "w") as f:
        f.writelines(f"1\t{pos}\t{ref}\t{alt}\t{sample}\n" for pos, ref, alt, sample in
                     masked(directory))
    return truth, mask


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) != 1 or argv[0].startswith("-"):
        sys.exit(__doc__)
    try:
        paths = write(argv[0])
    except (ConversionError, OSError, ValueError) as e:
        sys.exit(f"truth_vcf: {e}")
    print("wrote " + ", ".join(paths))


if __name__ == "__main__":
    main()
