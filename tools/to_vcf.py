#!/usr/bin/env python3
"""Converts a Tessellar text input set (genotype.dat, external.dat, haplotype.dat) to VCF.

  to_vcf.py DIR OUT [--contig NAME] [--haplotypes separate|panel] [--bgzip] [--panel T D U]
  to_vcf.py OUT --contig NAME=DIR [--contig NAME=DIR ...] [same options]
  to_vcf.py --peer DIR

The first two forms write OUT/study.vcf (-gfile), OUT/panel.vcf (-efile), OUT/panel.ped
(-ped) and, with --haplotypes separate (the default), OUT/haplotypes.vcf (-hfile), so
that Tessellar gives the same results on them as on the text files. With several
--contig NAME=DIR the datasets become the contigs of one set of files, in that order.
--bgzip compresses each VCF with bgzip and indexes it with tabix.

Study: REF and ALT are the study's allele 1 and 2, GT 0/0, 0/1, 1/1, ./. for the codes
0, 1, 2, 9; the samples are IND1..INDn. Panel: the samples in the text column order,
named T<t>_P1, T<t>_P2, T<t>_C per trio, D<d>_P, D<d>_C per duo, U<u> per singleton;
panel.ped gives the families. REF and ALT are the panel's allele 1 and 2, swapped where
the paired study row has recode flag 1, so that the ALT count of every GT is the code as
written. A haplotype value becomes value XOR parity, parity being the number of flips
that the text alignment makes on that panel row, mod 2, so that it marks the ALT allele.
--haplotypes panel puts the haplotypes into the panel's phased GTs (the duo child as
transmitted|untransmitted), which needs every contributing code to agree with them;
--haplotypes separate writes the codes as they are and the haplotypes to their own file,
where a duo child is a haploid sample holding its untransmitted haplotype.

--peer writes DIR/ref.vcf (the phased haplotypes, one sample per two haplotype columns)
and DIR/target.vcf (the study genotypes at the SNPs that the reference also holds) for a
peer imputation tool; ALT is the allele that a haplotype value 1 or a code counts.
Python 3 standard library only; bgzip and tabix (Debian package tabix) for --bgzip.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

BASES = frozenset("ACGT")
AMBIGUOUS = (frozenset("AT"), frozenset("CG"))
UNPHASED = {"0": "0/0", "1": "0/1", "2": "1/1", "9": "./."}
CONTIG = re.compile(r"[0-9A-Za-z!#$%&+./:;?@^_|~-][0-9A-Za-z!#$%&*+./:;?@^_|~-]*")


class ConversionError(Exception):
    """Data that cannot be converted, or converted exactly; the message says why."""


def read_rows(path, fixed):
    """(first fixed fields, remaining fields) per non-blank line."""
    rows = []
    with open(path) as f:
        for line in f:
            fields = line.split()
            if fields:
                rows.append((fields[:fixed], fields[fixed:]))
    return rows


def frequency(codes):
    """Counted-allele frequency among the non-missing codes, NaN when there are none."""
    present = [int(c) for c in codes if c != "9"]
    return sum(present) / (2.0 * len(present)) if present else float("nan")


def alignment(study_letters, panel_letters, recode, fs, fe):
    """What Tessellar's allele alignment does with a paired SNP: (study row kept, number
    of flips of the panel row). Letters are two-character strings, fs and fe the study and
    panel frequencies of the codes as read."""
    flips = 1 if recode else 0
    if panel_letters[0] != study_letters[0]:
        return True, flips + 1
    if panel_letters in ("CG", "AT"):
        d = (fe - 0.5) * (fs - 0.5)
        if 0.4 < fe < 0.6 and 0.4 < fs < 0.6 and d < 0:
            return False, flips
        if d < 0:
            return True, flips + 1
    return True, flips


def polymorphic(f):
    """False for the frequencies that make the alignment take a SNP out."""
    return not (f < 0.000001 or f > 0.999999)


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


# ---------------------------------------------------------------- Tessellar VCF form

class Structure:
    """The panel's families: per column its sample name and its haplotype columns."""

    def __init__(self, trios, duos, singletons):
        self.counts = (trios, duos, singletons)
        self.names, self.hap_count, self.ped = [], [], []
        for t in range(1, trios + 1):
            u = f"T{t}"
            self.add(f"{u}_P1", 2, (u, "0", "0", "1"))
            self.add(f"{u}_P2", 2, (u, "0", "0", "2"))
            self.add(f"{u}_C", 0, (u, f"{u}_P1", f"{u}_P2", "0"))
        for d in range(1, duos + 1):
            u = f"D{d}"
            self.add(f"{u}_P", 2, (u, "0", "0", "1"))
            self.add(f"{u}_C", 1, (u, f"{u}_P", "0", "0"))
        for k in range(1, singletons + 1):
            self.add(f"U{k}", 2, (f"U{k}", "0", "0", "0"))
        self.contributing = []  # (column, first haplotype column, haplotype columns)
        h = 0
        for m, n in enumerate(self.hap_count):
            if n:
                self.contributing.append((m, h, n))
            h += n
        self.n_haps = h

    def add(self, name, n_haps, ped):
        family, father, mother, sex = ped
        self.names.append(name)
        self.hap_count.append(n_haps)
        self.ped.append(f"{family} {name} {father} {mother} {sex} -9")


def infer_structure(n_members, n_haps, given):
    """Trios, duos and singletons from the column counts (3T+2D+U panel columns,
    4T+3D+2U haplotype columns), or checked against the given --panel."""
    if given is not None:
        t, d, u = given
        if min(given) < 0 or 3 * t + 2 * d + u != n_members or (
                n_haps is not None and 4 * t + 3 * d + 2 * u != n_haps):
            raise ConversionError(
                f"--panel {t} {d} {u} does not fit {n_members} panel columns and "
                f"{n_haps} haplotype columns")
        return given
    if n_haps is None:
        raise ConversionError("the haplotype file is empty: give --panel T D U")
    a, b = 2 * n_members - n_haps, n_haps - n_members  # 2T + D, T + D + U
    fits = [(t, a - 2 * t, b - a + t) for t in range(max(0, a - b), a // 2 + 1)]
    fits = [f for f in fits if min(f) >= 0]
    if len(fits) != 1:
        raise ConversionError(
            f"{n_members} panel columns and {n_haps} haplotype columns fit "
            f"{'no' if not fits else 'more than one'} panel of trios, duos and singletons: "
            f"give --panel T D U")
    return fits[0]


class Dataset:
    """One text dataset, checked, with every panel row's VCF letters and parity."""

    def __init__(self, directory, given_structure=None):
        self.dir = directory
        self.study = read_rows(os.path.join(directory, "genotype.dat"), 5)
        self.panel = read_rows(os.path.join(directory, "external.dat"), 4)
        self.haps = read_rows(os.path.join(directory, "haplotype.dat"), 1)
        self.n_study = self.width("genotype.dat", self.study, {"0", "1", "2", "9"})
        n_members = self.width("external.dat", self.panel, {"0", "1", "2", "9"})
        n_haps = self.width("haplotype.dat", self.haps, {"0", "1"})
        if n_members is None:
            raise ConversionError(f"{directory}/external.dat has no rows")
        self.structure = Structure(*infer_structure(n_members, n_haps, given_structure))
        self.check_rows("genotype.dat", self.study, 3)
        self.check_rows("external.dat", self.panel, 2)
        self.hap_of = self.tie_haplotypes()
        self.letters, self.parity = self.align()

    def where(self, name):
        return os.path.join(self.dir, name)

    def width(self, name, rows, allowed):
        """The number of values per row (None without rows); every row must agree."""
        if not rows:
            return None
        n = len(rows[0][1])
        for fields, values in rows:
            if len(values) != n or not set(values) <= allowed:
                raise ConversionError(f"{self.where(name)}: SNP {fields[0]} has values other "
                                      f"than {n} of {sorted(allowed)}")
        return n

    def check_rows(self, name, rows, letter_at):
        """Single-base letters and positions that VCF can hold, not decreasing."""
        last = 0
        for fields, _ in rows:
            if len(fields) <= letter_at + 1:
                raise ConversionError(f"{self.where(name)}: SNP {fields[0]} lacks fields")
            pos = int(fields[1])
            if pos < 1 or pos < last:
                raise ConversionError(
                    f"{self.where(name)}: SNP {fields[0]} at position {pos}: VCF needs "
                    f"positions of 1 or more, not decreasing")
            last = pos
            a1, a2 = fields[letter_at], fields[letter_at + 1]
            if a1 not in BASES or a2 not in BASES or a1 == a2:
                raise ConversionError(f"{self.where(name)}: SNP {fields[0]} has alleles "
                                      f"'{a1} {a2}', not two different bases of A, C, G, T")

    def tie_haplotypes(self):
        """Panel row -> haplotype row, tied by name; the rows must follow the panel's order."""
        index = {}
        for p, (fields, _) in enumerate(self.panel):
            if index.setdefault(fields[0], p) != p:
                raise ConversionError(f"{self.where('external.dat')}: SNP {fields[0]} repeats")
        hap_of, last = {}, -1
        for h, (fields, _) in enumerate(self.haps):
            p = index.get(fields[0])
            if p is None or p <= last:
                raise ConversionError(
                    f"{self.where('haplotype.dat')}: SNP {fields[0]} is "
                    f"{'not in the panel' if p is None else 'out of the panel order'}")
            hap_of[p], last = h, p
        return hap_of

    def align(self):
        """Per panel row its VCF letters (REF, ALT) and the parity of its alignment flips.
        The VCF letters must make the alignment by letters come out as the text one."""
        pairs = pair_by_position(self.study, self.panel)
        letters, parity = [], []
        for p, (fields, codes) in enumerate(self.panel):
            name, a1, a2 = fields[0], fields[2], fields[3]
            s = pairs.get(p)
            if s is None:
                letters.append((a1, a2))
                parity.append(0)
                continue
            sfields, scodes = self.study[s]
            recode = sfields[2] == "1"
            study_letters = sfields[3] + sfields[4]
            if recode and (frozenset(a1 + a2) in AMBIGUOUS
                           or frozenset(study_letters) in AMBIGUOUS):
                raise ConversionError(
                    f"{self.dir}: SNP {name} has recode flag 1 and the alleles {a1} {a2}: "
                    f"an A/T or C/G SNP with a recode flag cannot be written as VCF letters "
                    f"that align the same way")
            ref, alt = (a2, a1) if recode else (a1, a2)
            fs, fe = frequency(scodes), frequency(codes)
            text = alignment(study_letters, a1 + a2, recode, fs, fe)
            by_letters = alignment(study_letters, ref + alt, False, fs, fe)
            if text[0] != by_letters[0] or text[1] % 2 != by_letters[1] % 2:
                raise ConversionError(
                    f"{self.dir}: SNP {name} (study {' '.join(study_letters)}, recode flag "
                    f"{sfields[2]}, panel {a1} {a2}) would align differently by its VCF "
                    f"letters {ref} {alt}")
            letters.append((ref, alt))
            parity.append(text[1] % 2)
        return letters, parity

    def hap_bits(self, p):
        """The haplotype values of panel row p as ALT indicators ('0'/'1' per haplotype
        column, in one string), or None without a haplotype row."""
        h = self.hap_of.get(p)
        if h is None:
            return None
        bits = "".join(self.haps[h][1])
        return bits.translate(BIT_FLIP) if self.parity[p] else bits


BIT_FLIP = str.maketrans("01", "10")
# Phased GT by code and haplotype values: code a b -> a|b for a parent or singleton whose
# two values add up to the code; code b -> t|b for a duo child with untransmitted value b
# and transmitted t = code - b.
PHASED = {f"{c}{a}{b}": f"{a}|{b}" for c in range(3) for a in (0, 1) for b in (0, 1)
          if a + b == c}
PHASED.update({f"{c}{b}": f"{c - b}|{b}" for c in range(3) for b in (0, 1) if 0 <= c - b <= 1})


def panel_gts(data, p, mode):
    """The GT fields of panel row p: phased where a haplotype row gives them, else the
    codes unphased (mode panel: every contributing sample must be phased)."""
    st = data.structure
    codes = data.panel[p][1]
    out = [UNPHASED[c] for c in codes]
    bits = data.hap_bits(p)
    if bits is None:
        return out
    for m, start, n in st.contributing:
        own = bits[start:start + n]
        gt = PHASED.get(codes[m] + own)
        if gt is not None:
            out[m] = gt
        elif mode == "panel":
            shown = "|".join(own) if n == 2 else f"untransmitted {own}"
            what = "missing" if codes[m] == "9" else "not their ALT count"
            raise ConversionError(
                f"{data.dir}: SNP {data.panel[p][0][0]}, sample {st.names[m]}: code "
                f"{codes[m]} ({what}) with haplotypes {shown}: one phased GT cannot hold "
                f"both, use --haplotypes separate")
    return out


def hap_gts(data, p):
    """The GT fields of panel row p in the haplotype VCF (None without a haplotype row):
    a|b per diploid sample, the value alone for a duo child."""
    bits = data.hap_bits(p)
    if bits is None:
        return None
    return [bits[start] + "|" + bits[start + 1] if n == 2 else bits[start]
            for _, start, n in data.structure.contributing]


def header(contigs, samples):
    lines = ["##fileformat=VCFv4.2"]
    lines += [f"##contig=<ID={c}>" for c in contigs]
    lines.append('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">')
    lines.append("\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO",
                            "FORMAT"] + samples))
    return "\n".join(lines) + "\n"


def record(contig, pos, name, ref, alt, gts):
    return "\t".join([contig, pos, name, ref, alt, ".", "PASS", ".", "GT"] + gts) + "\n"


def load(sets, given_structure):
    """The datasets of (contig, dir) pairs; their samples must agree."""
    loaded = [(contig, Dataset(d, given_structure)) for contig, d in sets]
    first = loaded[0][1]
    for _, data in loaded[1:]:
        if data.structure.counts != first.structure.counts:
            raise ConversionError(f"{data.dir}: panel of {data.structure.counts} trios, duos "
                                  f"and singletons, {first.dir}: {first.structure.counts}")
        if None not in (data.n_study, first.n_study) and data.n_study != first.n_study:
            raise ConversionError(f"{data.dir}: {data.n_study} study individuals, "
                                  f"{first.dir}: {first.n_study}")
    return loaded


def convert(sets, out, mode="separate", given_structure=None, bgzip=False):
    """Writes the VCF form of the datasets [(contig, dir), ...] to the folder out and
    returns the paths written. Nothing is written if a dataset cannot be converted."""
    if mode not in ("separate", "panel"):
        raise ConversionError(f"unknown haplotype mode '{mode}'")
    for tool in ("bgzip", "tabix") if bgzip else ():
        if shutil.which(tool) is None:
            raise ConversionError(f"{tool} is not installed (Debian package tabix)")
    loaded = load(sets, given_structure)
    contigs = [c for c, _ in loaded]
    st = loaded[0][1].structure
    n_study = next((d.n_study for _, d in loaded if d.n_study is not None), 0)

    def study():
        yield header(contigs, [f"IND{k}" for k in range(1, n_study + 1)])
        for contig, data in loaded:
            for fields, codes in data.study:
                yield record(contig, fields[1], fields[0], fields[3], fields[4],
                             [UNPHASED[c] for c in codes])

    def panel():
        yield header(contigs, st.names)
        for contig, data in loaded:
            for p, (fields, _) in enumerate(data.panel):
                yield record(contig, fields[1], fields[0], *data.letters[p],
                             panel_gts(data, p, mode))

    def haplotypes():
        yield header(contigs, [st.names[m] for m, _, _ in st.contributing])
        for contig, data in loaded:
            for p, (fields, _) in enumerate(data.panel):
                gts = hap_gts(data, p)
                if gts is not None:
                    yield record(contig, fields[1], fields[0], *data.letters[p], gts)

    files = [("study.vcf", study()), ("panel.vcf", panel()),
             ("panel.ped", (line + "\n" for line in st.ped))]
    if mode == "separate":
        files.append(("haplotypes.vcf", haplotypes()))
    os.makedirs(out, exist_ok=True)
    paths = [os.path.join(out, name) for name, _ in files]
    try:
        for path, (_, lines) in zip(paths, files):
            with open(path + ".part", "w") as f:
                f.writelines(lines)
    except BaseException:
        for path in paths:
            if os.path.exists(path + ".part"):
                os.remove(path + ".part")
        raise
    for path in paths:
        os.replace(path + ".part", path)
    if bgzip:
        paths = [compress(p) if p.endswith(".vcf") else p for p in paths]
    return paths


def compress(path):
    """bgzip the VCF in place and index it with tabix; the path of the .vcf.gz."""
    subprocess.run(["bgzip", "-f", path], check=True)
    subprocess.run(["tabix", "-f", "-p", "vcf", path + ".gz"], check=True)
    return path + ".gz"


# ---------------------------------------------------------------- peer tool form

PEER_HEADER = ('##fileformat=VCFv4.2\n##contig=<ID=1>\n'
               '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')


def peer(directory):
    """DIR/ref.vcf and DIR/target.vcf for a peer tool. ALT is the allele that the values
    count: the study's allele 2 where the study row pairs with the panel row and is not
    taken out as an unresolved A/T or C/G SNP, elsewhere the panel's allele 2."""
    study = read_rows(os.path.join(directory, "genotype.dat"), 5)
    panel = read_rows(os.path.join(directory, "external.dat"), 4)
    haps = {fields[0]: values
            for fields, values in read_rows(os.path.join(directory, "haplotype.dat"), 1)}
    pairs = pair_by_position(study, panel)
    ncol = len(next(iter(haps.values())))
    cols = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t"
    with open(os.path.join(directory, "ref.vcf"), "w") as ref, \
            open(os.path.join(directory, "target.vcf"), "w") as tgt:
        ref.write(PEER_HEADER + cols + "\t".join("R%d" % k for k in range(ncol // 2)) + "\n")
        tgt.write(PEER_HEADER + cols
                  + "\t".join("S%d" % k for k in range(len(study[0][1]))) + "\n")
        for p, (fields, pcodes) in enumerate(panel):
            name, pos, a1, a2 = fields
            if name not in haps:
                continue
            s = pairs.get(p)
            paired = typed = False
            if s is not None:
                sfields, scodes = study[s]
                fs = frequency(scodes)
                paired, _ = alignment(sfields[3] + sfields[4], a1 + a2, sfields[2] == "1",
                                      fs, frequency(pcodes))
                typed = paired and polymorphic(fs)
            if paired:
                a1, a2 = study[s][0][3], study[s][0][4]
            bits = haps[name]
            gts = "\t".join(bits[2 * k] + "|" + bits[2 * k + 1] for k in range(ncol // 2))
            ref.write("1\t%s\t%s\t%s\t%s\t.\tPASS\t.\tGT\t%s\n" % (pos, name, a1, a2, gts))
            if typed:
                codes = "\t".join(UNPHASED[c] for c in study[s][1])
                tgt.write("1\t%s\t%s\t%s\t%s\t.\tPASS\t.\tGT\t%s\n" % (pos, name, a1, a2, codes))


# ---------------------------------------------------------------- command line

def parse_args(argv):
    p = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        usage="%(prog)s DIR OUT [options] | OUT --contig NAME=DIR [--contig NAME=DIR ...] "
              "[options] | --peer DIR")
    p.add_argument("paths", nargs="+", metavar="PATH", help="DIR OUT, OUT, or DIR with --peer")
    p.add_argument("--contig", action="append", default=[], metavar="NAME|NAME=DIR",
                   help="CHROM of the records (default 1); NAME=DIR, repeated, merges "
                        "datasets as contigs in that order")
    p.add_argument("--haplotypes", choices=("separate", "panel"), default="separate",
                   help="separate: OUT/haplotypes.vcf for -hfile (default); panel: the "
                        "haplotypes as the panel's phased GTs")
    p.add_argument("--bgzip", action="store_true",
                   help="compress each VCF with bgzip to .vcf.gz and index it with tabix")
    p.add_argument("--panel", type=int, nargs=3, metavar=("T", "D", "U"),
                   help="trios, duos and singletons (needed only where the column counts "
                        "leave it open)")
    p.add_argument("--peer", action="store_true",
                   help="write DIR/ref.vcf and DIR/target.vcf for a peer imputation tool")
    a = p.parse_args(argv)
    if a.peer:
        if len(a.paths) != 1 or a.contig or a.bgzip or a.panel:
            p.error("--peer takes one DIR and no other option")
        return a
    named = [c.split("=", 1) for c in a.contig]
    if len(a.paths) == 2:
        if len(named) > 1 or any(len(c) == 2 for c in named):
            p.error("with DIR OUT, give at most one --contig NAME")
        a.sets = [(named[0][0] if named else "1", a.paths[0])]
        a.out = a.paths[1]
    elif len(a.paths) == 1:
        if not named or any(len(c) != 2 for c in named):
            p.error("with OUT alone, give the datasets as --contig NAME=DIR")
        a.sets = [(c[0], c[1]) for c in named]
        a.out = a.paths[0]
    else:
        p.error("give DIR OUT, OUT with --contig NAME=DIR, or --peer DIR")
    names = [c for c, _ in a.sets]
    if len(set(names)) != len(names):
        p.error("contig names repeat")
    for c in names:
        if not CONTIG.fullmatch(c):
            p.error(f"'{c}' is not a valid VCF contig name")
    return a


def main(argv=None):
    a = parse_args(argv)
    try:
        if a.peer:
            peer(a.paths[0])
            return
        paths = convert(a.sets, a.out, a.haplotypes, tuple(a.panel) if a.panel else None,
                        a.bgzip)
    except (ConversionError, OSError, ValueError, subprocess.CalledProcessError) as e:
        sys.exit(f"to_vcf: {e}")
    print("wrote " + ", ".join(paths))


if __name__ == "__main__":
    main()
