#!/usr/bin/env python3
"""Prepares the inputs of the accuracy benchmark (bench/accuracy.sh) from array genotypes.

  accuracy_data.py study ARRAY.vcf.gz TRUTH.vcf.gz OUT.vcf MASKED.tsv [--fraction F] [--seed N]
  accuracy_data.py phased PHASED.vcf.gz STUDY.vcf.gz OUT.vcf
  accuracy_data.py map GMAP.gz OUT.map

study: keeps the biallelic SNPs of ARRAY, with GT unphased everywhere (alleles in
ascending order, "0/1" for "1|0") and no other FORMAT or INFO field, and masks (writes
"./.") each called genotype at a site that TRUTH holds (same or swapped alleles) with
probability F (default 0.03), drawn in file order from a generator seeded with N
(default 1); MASKED.tsv lists the masked genotypes (contig, position, REF, ALT, sample).
phased: the records of PHASED (a phasing tool's output) at the SNPs of STUDY, with
STUDY's ID, REF and ALT, GT only, and ".|." wherever STUDY's genotype is missing (masked
ones included); a STUDY SNP that PHASED lacks is left out.
map: a genetic map with lines "position contig cM" (a header line allowed) as a PLINK
.map file (contig, id ".", cM, position). Standard library only.
"""

import argparse
import random
import sys

from score_imputation import Vcf, alt_count, gt_strings, is_snp, open_text, site_key, swapped


def header_lines(path, samples):
    """A fresh header: the file format, the source file's contig lines, GT, the samples."""
    lines = ["##fileformat=VCFv4.2"]
    with open_text(path) as f:
        for line in f:
            if not line.startswith("##"):
                break
            if line.startswith("##contig="):
                lines.append(line.rstrip("\n"))
    lines.append('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">')
    lines.append("\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO",
                            "FORMAT"] + samples))
    return lines


def unphased(gt):
    """GT with its alleles unphased and in ascending order; "./." if one is missing."""
    alleles = gt.replace("|", "/").split("/")
    if "." in alleles:
        return "/".join("." for _ in alleles)
    return "/".join(sorted(alleles, key=int))


def record(fields, gts):
    return "\t".join(fields[:5] + [".", ".", ".", "GT"] + gts)


def make_study(array, truth, out, masked_out, fraction, seed):
    """Writes the unphased, masked study and the list of masked genotypes; returns
    (sites written, genotypes masked)."""
    truth_sites = {site_key(f) for f in Vcf(truth).records()}
    rng = random.Random(seed)
    vcf = Vcf(array)
    sites = masked = 0
    with open(out, "w") as o, open(masked_out, "w") as m:
        o.write("\n".join(header_lines(array, vcf.samples)) + "\n")
        for fields in vcf.records():
            if not is_snp(fields[3], fields[4]):
                continue
            key = site_key(fields)
            maskable = key in truth_sites or swapped(key) in truth_sites
            gts = [unphased(gt) for gt in gt_strings(fields)]
            for i, gt in enumerate(gts):
                if maskable and alt_count(gt) is not None and rng.random() < fraction:
                    gts[i] = "./."
                    m.write("\t".join(fields[:2] + fields[3:5] + [vcf.samples[i]]) + "\n")
                    masked += 1
            o.write(record(fields, gts) + "\n")
            sites += 1
    return sites, masked


def make_phased(phased, study, out):
    """Writes the phased genotypes at the study's SNPs, missing where the study's are;
    returns the number of records written."""
    study_vcf = Vcf(study)
    missing = {}
    for fields in study_vcf.records():
        if is_snp(fields[3], fields[4]):
            missing[site_key(fields)] = (fields[:5], [alt_count(gt) is None
                                                      for gt in gt_strings(fields)])
    vcf = Vcf(phased)
    column = {s: i for i, s in enumerate(vcf.samples)}
    absent = [s for s in study_vcf.samples if s not in column]
    if absent:
        raise ValueError(f"{phased}: lacks the study's sample {absent[0]}")
    order = [column[s] for s in study_vcf.samples]
    written = 0
    with open(out, "w") as o:
        o.write("\n".join(header_lines(study, study_vcf.samples)) + "\n")
        for fields in vcf.records():
            key = site_key(fields)
            flip = key not in missing and swapped(key) in missing
            entry = missing.get(swapped(key) if flip else key)
            if entry is None:
                continue
            gts = gt_strings(fields)
            out_gts = []
            for j, is_missing in zip(order, entry[1]):
                gt = gts[j]
                if flip:
                    gt = gt.translate(str.maketrans("01", "10"))
                out_gts.append(".|." if is_missing else gt)
            o.write(record(entry[0], out_gts) + "\n")
            written += 1
    return written


def make_map(gmap, out):
    """Writes the PLINK .map form of a "position contig cM" map; returns the line count."""
    n = 0
    with open_text(gmap) as f, open(out, "w") as o:
        for line in f:
            parts = line.split()
            if len(parts) != 3 or not parts[0].isdigit():
                continue  # header
            o.write(f"{parts[1]}\t.\t{parts[2]}\t{parts[0]}\n")
            n += 1
    return n


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = p.add_subparsers(dest="command", required=True)
    s = sub.add_parser("study")
    s.add_argument("array")
    s.add_argument("truth")
    s.add_argument("out")
    s.add_argument("masked")
    s.add_argument("--fraction", type=float, default=0.03)
    s.add_argument("--seed", type=int, default=1)
    s = sub.add_parser("phased")
    s.add_argument("phased")
    s.add_argument("study")
    s.add_argument("out")
    s = sub.add_parser("map")
    s.add_argument("gmap")
    s.add_argument("out")
    a = p.parse_args(argv)
    if a.command == "study":
        sites, masked = make_study(a.array, a.truth, a.out, a.masked, a.fraction, a.seed)
        print(f"study: {sites} SNPs, {masked} genotypes masked")
    elif a.command == "phased":
        print(f"phased study: {make_phased(a.phased, a.study, a.out)} SNPs")
    else:
        print(f"map: {make_map(a.gmap, a.out)} positions")
    return 0


if __name__ == "__main__":
    sys.exit(main())
