"""Reads the VCF form back as Tessellar would take it in, for the tests: genotype codes
from ALT counts, the panel's families from the ped file, haplotype rows from a separate
haplotype VCF or from the panel's phased GTs, and the allele alignment done by letters.
Written apart from to_vcf.py so that a round trip checks one against the other."""

import gzip


def read_vcf(path):
    """(contig IDs of the header, sample names, records); a record is a dict with chrom,
    pos, id, ref, alt and gts (the GT strings)."""
    opener = gzip.open if path.endswith(".gz") else open
    contigs, samples, records = [], None, []
    with opener(path, "rt") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("##contig=<ID="):
                contigs.append(line[len("##contig=<ID="):].split(",")[0].rstrip(">"))
            elif line.startswith("#CHROM"):
                samples = line.split("\t")[9:]
            elif not line.startswith("#"):
                x = line.split("\t")
                assert x[8] == "GT", line
                records.append(dict(chrom=x[0], pos=int(x[1]), id=x[2], ref=x[3], alt=x[4],
                                    qual=x[5], filter=x[6], info=x[7], gts=x[9:]))
    return contigs, samples, records


def alt_count(gt):
    """Genotype code of a GT: the number of ALT alleles, 9 when an allele is missing."""
    alleles = gt.replace("|", "/").split("/")
    if "." in alleles:
        return 9
    return sum(1 for a in alleles if a != "0")


def read_ped(path):
    """individual -> (father, mother)."""
    parents = {}
    with open(path) as f:
        for line in f:
            fam, ind, father, mother, sex, pheno = line.split()
            parents[ind] = (father, mother)
    return parents


def family_order(samples, parents):
    """The panel's columns put in Tessellar's order: trios (father, mother, child) by the
    child's column, duos (parent, child) by the child's column, then the others in column
    order. Returns (column indices, [(kind, number of samples)] per unit)."""
    col = {s: k for k, s in enumerate(samples)}
    order, units, used = [], [], set()
    for s in samples:
        father, mother = parents.get(s, ("0", "0"))
        if father != "0" and mother != "0":
            order += [col[father], col[mother], col[s]]
            units.append(("trio", 3))
            used |= {father, mother, s}
    for s in samples:
        father, mother = parents.get(s, ("0", "0"))
        known = [p for p in (father, mother) if p != "0"]
        if len(known) == 1:
            order += [col[known[0]], col[s]]
            units.append(("duo", 2))
            used |= {known[0], s}
    for s in samples:
        if s not in used:
            order.append(col[s])
            units.append(("single", 1))
    return order, units


def haplotypes_from_panel(gts, units):
    """The haplotype row that Tessellar takes from a panel record's GTs (already in family
    order), or None unless every contributing GT is phased and complete: trio parents and
    singletons give both alleles, a duo parent both, a duo child its second."""
    row, at = [], 0
    for kind, n in units:
        unit = gts[at:at + n]
        at += n
        wanted = {"trio": [(0, (0, 1)), (1, (0, 1))], "duo": [(0, (0, 1)), (1, (1,))],
                  "single": [(0, (0, 1))]}[kind]
        for member, alleles in wanted:
            gt = unit[member]
            if "|" not in gt or "." in gt:
                return None
            values = gt.split("|")
            row += [int(values[a]) for a in alleles]
    return row


def haplotypes_from_file(gts):
    """A haplotype VCF record's values: both alleles of a diploid sample, the one of a
    haploid sample, in sample order."""
    row = []
    for gt in gts:
        assert "/" not in gt and "." not in gt, gt
        row += [int(v) for v in gt.split("|")]
    return row


def frequency(codes):
    present = [c for c in codes if c != 9]
    return sum(present) / (2.0 * len(present)) if present else float("nan")


def align_by_letters(study, panel):
    """Tessellar's alignment of VCF records: (study record kept, panel row flipped)."""
    if panel["ref"] != study["ref"]:
        return True, True
    if panel["ref"] + panel["alt"] in ("CG", "AT"):
        fs, fe = frequency(study["codes"]), frequency(panel["codes"])
        d = (fe - 0.5) * (fs - 0.5)
        if 0.4 < fe < 0.6 and 0.4 < fs < 0.6 and d < 0:
            return False, False
        return True, d < 0
    return True, False


def aligned_vcf(out, ped_name="panel.ped", hap_name="haplotypes.vcf"):
    """The VCF set in folder out as Tessellar would align it: (study codes by name,
    {panel SNP name: (aligned codes, aligned haplotype row or None)}, names of the
    kept shared SNPs). hap_name None: haplotypes from the panel's phased GTs."""
    _, _, study = read_vcf(f"{out}/study.vcf")
    _, samples, panel = read_vcf(f"{out}/panel.vcf")
    order, units = family_order(samples, read_ped(f"{out}/{ped_name}"))
    haps = {}
    if hap_name is not None:
        _, _, hrecs = read_vcf(f"{out}/{hap_name}")
        haps = {(r["chrom"], r["pos"], r["id"], r["ref"], r["alt"]): haplotypes_from_file(r["gts"])
                for r in hrecs}
    for r in study + panel:
        r["codes"] = [alt_count(g) for g in r["gts"]]
    by_pos = {(r["chrom"], r["pos"]): r for r in study}
    result, kept = {}, set()
    for r in panel:
        gts = [r["gts"][k] for k in order]
        codes = [alt_count(g) for g in gts]
        if hap_name is None:
            row = haplotypes_from_panel(gts, units)
        else:
            row = haps.get((r["chrom"], r["pos"], r["id"], r["ref"], r["alt"]))
        s = by_pos.get((r["chrom"], r["pos"]))
        flipped = False
        if s is not None:
            keep, flipped = align_by_letters(s, r)
            if keep:
                kept.add(r["id"])
        if flipped:
            codes = [c if c == 9 else 2 - c for c in codes]
            row = None if row is None else [1 - v for v in row]
        result[r["id"]] = (codes, row)
    return {r["id"]: r["codes"] for r in study}, result, kept
