#!/usr/bin/env python3
"""Makes a synthetic Tessellar dataset: study genotypes (genotype.dat), a reference
panel of trios, duos and singletons (external.dat) and the phased haplotypes of the
panel founders (haplotype.dat). Python 3 standard library only; deterministic per seed.

Population model: every haplotype is a mosaic of a small pool of ancestral
haplotypes. It copies one ancestor and switches to another (chosen by the ancestors'
weights) at the points of a Poisson process with mean spacing --ld-scale bp, so
linkage disequilibrium decays with distance. Each stretch of --tree-bp bp has its own
random genealogy of the ancestors; a common SNP is a clade of it (picked by branch
length, so that a few clades carry most SNPs, as in haplotype blocks), a rare SNP sits
on a share of the copies of one ancestor. A little mutation noise is added.
SNP positions are uniform over the region, except in the --sparse ranges, where the
density is the given share of that elsewhere (the SNP counts stay as asked).

Coding: in every file a genotype code counts the copies of the SECOND allele letter
of its own line. The haplotype file's 1 marks the allele that the program's aligned
panel codes count: the study's counted allele wherever the study row survives the
alignment, the panel's own counted allele at panel-only SNPs and at the A/T and C/G
SNPs that the alignment takes out of the study.

Panel columns: trios (parent, parent, child), then duos (parent, child), then
singletons. Haplotype columns, in the same unit order: per trio the first parent's
two haplotypes and the second parent's two; per duo the parent's two and the child's
other one; per singleton its two. A child carries one randomly chosen haplotype of
each parent, without recombination.
"""

import argparse
import operator
import os
import random
import re
import sys

sys.dont_write_bytecode = True  # keep tools/ free of __pycache__
from population import Population, clade_alleles, exact_alleles, mutate, scattered  # noqa: E402

MAX_LINE = 99_998  # characters before the line break; the reader takes 99,999 with it
MAX_NAME = 29
PAIRS = ("AC", "AG", "CT", "GT")  # strand-distinguishable letter pairs
AMBIGUOUS = ("AT", "CG")
CODE_DIGITS = bytes.maketrans(bytes([0, 1, 2]), b"012")
FLIP_DIGITS = bytes.maketrans(bytes([0, 1, 2]), b"210")
HAP_DIGITS = bytes.maketrans(bytes([0, 1]), b"01")
HAP_FLIP = bytes.maketrans(bytes([0, 1]), b"10")
BIT_FLIP = bytes.maketrans(bytes([0, 1]), bytes([1, 0]))
MAX_RETRIES = 200

# How the panel line of a SNP typed in both files is written.
#   same       same letters, same order, same counted allele
#   swap       letters swapped (codes count the study's first letter): fixed by
#              the first-letter test
#   recode     study recode flag 1, panel codes count the other allele under the
#              same letter order: fixed by the recode pass
#   amb_same   A/T or C/G with the same coding, frequency clearly away from 0.5
#   amb_fix    A/T or C/G coded on the other strand, clearly away from 0.5: fixed
#              by frequency
#   amb_drop   A/T or C/G coded on the other strand, near 0.5: taken out of the study
SHARED_CASES = ("same", "swap", "recode", "amb_same", "amb_fix", "amb_drop")
PANEL_FLIPPED = {"swap", "recode", "amb_fix", "amb_drop"}


class Snp:
    """One SNP of the region: where it stands, which files hold it, how it is coded."""

    __slots__ = ("pos", "name", "in_study", "in_panel", "in_hap", "letters", "case", "maf")

    def __init__(self, pos, name):
        self.pos = pos
        self.name = name
        self.in_study = False
        self.in_panel = False
        self.in_hap = False
        self.letters = ""  # study letters (or panel letters at panel-only SNPs)
        self.case = "same"
        self.maf = 0.0


def parse_args(argv):
    """Reads the options; the defaults make the bundled example."""
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    add = p.add_argument
    add("--outdir", default=".", help="directory for the three files (created if absent)")
    add("--seed", type=int, default=1, help="random seed; same seed, same files")
    add("--panel-snps", type=int, default=200, help="SNPs in the panel file")
    add("--study-fraction", type=float, default=0.33,
        help="share of the panel SNPs that the study types too")
    add("--study-only", type=int, default=5, help="extra study SNPs absent from the panel")
    add("--study-individuals", type=int, default=50, help="study individuals (code columns)")
    add("--trios", type=int, default=30, help="panel trios (parent, parent, child)")
    add("--duos", type=int, default=0, help="panel duos (parent, child)")
    add("--singletons", type=int, default=0, help="panel singletons")
    add("--missing", type=float, default=0.02,
        help="chance that a study code (and, without --panel-missing, a panel code) is 9")
    add("--panel-missing", type=float, default=None,
        help="chance that a panel code is written as 9 (default: the value of --missing)")
    add("--region-bp", type=int, default=1_000_000, help="length of the region in bp")
    add("--start-pos", type=int, default=1_000_000, help="first possible position")
    add("--rare-fraction", type=float, default=0.25,
        help="share of SNPs with a minor allele frequency below 5%%")
    add("--hap-missing", type=int, default=3,
        help="panel SNPs left out of the haplotype file")
    add("--swap-fraction", type=float, default=0.04,
        help="share of shared SNPs whose panel line lists the letters swapped")
    add("--recode-fraction", type=float, default=0.04,
        help="share of shared SNPs with recode flag 1 and the other allele counted in the panel")
    add("--ambiguous-fraction", type=float, default=0.09,
        help="share of SNPs with the alleles A T or C G")
    add("--strand-fraction", type=float, default=0.67,
        help="share of shared A/T and C/G SNPs coded on the other strand in the panel")
    add("--ancestors", type=int, default=12, help="size of the ancestral haplotype pool")
    add("--ld-scale", type=float, default=100_000.0,
        help="mean distance in bp between two switches of ancestor")
    add("--tree-bp", type=int, default=200_000,
        help="length in bp of the stretches that share one genealogy of the ancestors")
    add("--mutation", type=float, default=0.002, help="chance of a flipped allele per haplotype")
    add("--names", choices=("rs", "pos"), default="rs",
        help="rs: rs<random number>; pos: <chrom-prefix><position>")
    add("--chrom-prefix", default="chr1:", help="prefix of the names with --names pos")
    add("--sparse", action="append", default=[], type=sparse_range, metavar="START-END:KEEP",
        help="inside positions START to END (both included) place SNPs at the density KEEP "
             "(a share, e.g. 0.02) of that elsewhere; repeatable, overlapping shares multiply")
    add("--truth", action="store_true",
        help="also write truth.dat: the study's complete genotypes at every SNP, "
             "including those that the study does not type")
    args = p.parse_args(argv)
    if args.panel_missing is None:
        args.panel_missing = args.missing
    check_args(p, args)
    return args


def check_args(parser, a):
    """Stops with a usage error on values the generator cannot honour."""
    counts = (a.panel_snps, a.study_only, a.study_individuals, a.trios, a.duos,
              a.singletons, a.hap_missing)
    if min(counts) < 0:
        parser.error("counts must not be negative")
    for name in ("study_fraction", "missing", "panel_missing", "rare_fraction", "swap_fraction",
                 "recode_fraction", "ambiguous_fraction", "strand_fraction"):
        if not 0.0 <= getattr(a, name) <= 1.0:
            parser.error(f"--{name.replace('_', '-')} must lie between 0 and 1")
    if a.swap_fraction + a.recode_fraction > 1.0:
        parser.error("--swap-fraction plus --recode-fraction exceeds 1")
    if a.study_individuals < 1 or a.trios + a.duos + a.singletons < 1:
        parser.error("the study and the panel need at least one member each")
    if not 1 <= a.ancestors <= 255:
        parser.error("--ancestors must lie between 1 and 255")
    if a.ld_scale <= 0 or a.tree_bp < 1 or not 0.0 <= a.mutation < 1.0:
        parser.error("--ld-scale must be positive and --mutation below 1")
    if a.panel_snps + a.study_only < 1:
        parser.error("the region needs at least one SNP")
    if a.hap_missing > a.panel_snps:
        parser.error("--hap-missing exceeds --panel-snps")
    if a.panel_snps + a.study_only > a.region_bp:
        parser.error("more SNPs than base pairs in the region")
    if a.panel_snps + a.study_only > room(a.start_pos, a.region_bp, a.sparse):
        parser.error("more SNPs than base pairs outside the --sparse ranges that keep none")
    if a.start_pos <= -300_000_000 or a.start_pos + a.region_bp >= 300_000_000:
        parser.error("positions must lie strictly between -300000000 and 300000000")
    members = 3 * a.trios + 2 * a.duos + a.singletons
    if 2 * max(members, a.study_individuals, 4 * a.trios + 3 * a.duos + 2 * a.singletons) \
            + 60 > MAX_LINE:
        parser.error("too many columns: lines would exceed 99,999 characters")


def sparse_range(text):
    """START-END:KEEP of --sparse as (start, end, keep)."""
    m = re.fullmatch(r"(-?\d+)-(-?\d+):([0-9.eE+-]+)", text.strip())
    try:
        start, end, keep = int(m.group(1)), int(m.group(2)), float(m.group(3))
    except (AttributeError, ValueError):
        raise argparse.ArgumentTypeError(f"'{text}' is not START-END:KEEP") from None
    if start > end or not 0.0 <= keep <= 1.0:
        raise argparse.ArgumentTypeError(f"'{text}': START must not exceed END and KEEP "
                                         f"must lie between 0 and 1")
    return start, end, keep


def keep_share(pos, sparse):
    """Relative SNP density at a position: the product of the KEEP of its --sparse ranges."""
    keep = 1.0
    for start, end, k in sparse:
        if start <= pos <= end:
            keep *= k
    return keep


def room(start_pos, region_bp, sparse):
    """Positions of the region that can hold a SNP (those not in a range that keeps none)."""
    end_pos = start_pos + region_bp - 1
    closed = sorted((max(s, start_pos), min(e, end_pos)) for s, e, k in sparse if k == 0.0)
    free, at = region_bp, start_pos
    for s, e in closed:
        s = max(s, at)
        if s <= e:
            free -= e - s + 1
            at = e + 1
    return free


def place(a, rng, n):
    """n distinct sorted positions in the region, uniform except in the --sparse ranges,
    where a drawn position stays only with the chance of its keep share."""
    if not a.sparse:
        return sorted(rng.sample(range(a.start_pos, a.start_pos + a.region_bp), n))
    taken = set()
    while len(taken) < n:
        pos = rng.randrange(a.start_pos, a.start_pos + a.region_bp)
        if pos not in taken and rng.random() < keep_share(pos, a.sparse):
            taken.add(pos)
    return sorted(taken)


def share(fraction, n):
    """Number of items that a share of n stands for, rounded half up."""
    return int(fraction * n + 0.5)


def design_snps(a, rng):
    """Places the SNPs and decides for each which files hold it and how it is coded."""
    n = a.panel_snps + a.study_only
    positions = place(a, rng, n)
    if a.names == "rs":
        names = [f"rs{k}" for k in rng.sample(range(1000, 1_000_000_000), n)]
    else:
        names = [f"{a.chrom_prefix}{p}" for p in positions]
    if any(len(s) > MAX_NAME or not s or any(c.isspace() for c in s) for s in names):
        sys.exit("make_dataset: SNP names must be single tokens of 1 to 29 characters")
    snps = [Snp(p, s) for p, s in zip(positions, names)]
    study_only = set(rng.sample(range(n), a.study_only))
    panel = [i for i in range(n) if i not in study_only]
    typed = set(rng.sample(panel, share(a.study_fraction, a.panel_snps)))
    off_hap = set(rng.sample(panel, a.hap_missing))
    for i, snp in enumerate(snps):
        snp.in_panel = i not in study_only
        snp.in_study = i in study_only or i in typed
        snp.in_hap = snp.in_panel and i not in off_hap
    assign_cases(a, rng, snps)
    assign_frequencies(a, rng, snps)
    return snps


def assign_cases(a, rng, snps):
    """Chooses letters and coding cases: exact shares, drawn at random positions."""
    shared = [s for s in snps if s.in_study and s.in_panel]
    single = [s for s in snps if not (s.in_study and s.in_panel)]
    order = rng.sample(shared, len(shared))
    n_amb = share(a.ambiguous_fraction, len(shared))
    n_other = share(a.strand_fraction, n_amb)
    n_drop = (n_other + 1) // 2
    n_swap = share(a.swap_fraction, len(shared))
    n_recode = share(a.recode_fraction, len(shared))
    plan = (["amb_drop"] * n_drop + ["amb_fix"] * (n_other - n_drop)
            + ["amb_same"] * (n_amb - n_other) + ["swap"] * n_swap + ["recode"] * n_recode)
    for snp, case in zip(order, plan):
        snp.case = case
    for snp in rng.sample(single, share(a.ambiguous_fraction, len(single))):
        snp.case = "amb_same"
    for snp in snps:
        if snp.case.startswith("amb"):
            snp.letters = rng.choice(AMBIGUOUS)
        else:
            pair = rng.choice(PAIRS)
            snp.letters = pair if rng.random() < 0.5 else pair[::-1]


def assign_frequencies(a, rng, snps):
    """Gives every SNP a minor allele frequency: many rare ones, a skewed common spread."""
    rare = set(rng.sample(range(len(snps)), share(a.rare_fraction, len(snps))))
    for i, snp in enumerate(snps):
        u = rng.random()
        if snp.case.startswith("amb"):
            snp.maf = 0.08 + 0.22 * u  # used only if the SNP falls back to plain letters
        elif i in rare:
            snp.maf = 0.003 + 0.046 * u
        else:
            snp.maf = 0.05 + 0.45 * u * u


def ambiguous_maf(rng, case):
    """Minor allele frequency for one attempt at an A/T or C/G SNP."""
    if case == "amb_drop":
        return 0.43 + 0.04 * rng.random()
    return 0.08 + 0.22 * rng.random()


def pick(indices):
    """A function that takes the given positions out of a byte sequence, as bytes."""
    get = operator.itemgetter(*indices)
    if len(indices) == 1:
        return lambda seq: bytes([get(seq)])
    return lambda seq: bytes(get(seq))


class Layout:
    """Where each person's two haplotypes stand among all simulated haplotypes."""

    def __init__(self, a, rng):
        n_study = a.study_individuals
        self.study = (slice(0, 2 * n_study, 2), slice(1, 2 * n_study, 2))
        self.hap_cols = slice(2 * n_study, None)  # the panel founders, in file order
        first, second = [], []
        h = 2 * n_study
        for _ in range(a.trios):
            first += [h, h + 2, h + rng.randrange(2)]
            second += [h + 1, h + 3, h + 2 + rng.randrange(2)]
            h += 4
        for _ in range(a.duos):
            first += [h, h + rng.randrange(2)]
            second += [h + 1, h + 2]
            h += 3
        for _ in range(a.singletons):
            first.append(h)
            second.append(h + 1)
            h += 2
        self.n_haps = h
        self.panel = (pick(first), pick(second))
        self.n_members = len(first)


def genotypes(first, second):
    """Per-person allele counts (bytes 0..2) from two aligned 0/1 byte strings."""
    total = int.from_bytes(first, "big") + int.from_bytes(second, "big")  # no carries
    return total.to_bytes(len(first), "big")


def coded(counts, flipped, missing):
    """ASCII genotype codes, counting the other allele when flipped, 9 at missing."""
    codes = bytearray(counts.translate(FLIP_DIGITS if flipped else CODE_DIGITS))
    for i in missing:
        codes[i] = ord("9")
    return codes


def frequency(codes):
    """Counted-allele frequency among the non-missing codes, as the reader works it out."""
    cnt = len(codes) - codes.count(b"9")
    if cnt == 0:
        return float("nan")
    total = float(codes.count(b"1") + 2 * codes.count(b"2"))
    return total / (2 * cnt)


def alignment(study_letters, panel_letters, recode, fs, fe):
    """What the program's alignment does: (study row kept, number of panel flips)."""
    flips = 1 if recode == 1 else 0
    if panel_letters[0] != study_letters[0]:
        return True, flips + 1
    if panel_letters in ("CG", "AT"):
        d = (fe - 0.5) * (fs - 0.5)
        if fe > 0.4 and fe < 0.6 and fs > 0.4 and fs < 0.6 and d < 0:
            return False, flips
        if d < 0:
            return True, flips + 1
    return True, flips


def spaced(codes):
    """The codes separated by single blanks."""
    out = bytearray(b" ") * (2 * len(codes) - 1)
    out[0::2] = codes
    return out


class Writer:
    """Builds the lines of the files in SNP order and counts what went where."""

    def __init__(self, a, rng, snps):
        self.a = a
        self.rng = rng
        self.layout = Layout(a, rng)
        self.pop = Population(a, rng, self.layout.n_haps, snps[0].pos, snps[-1].pos)
        self.study, self.panel, self.hap, self.truth = [], [], [], []
        self.outcome = {c: 0 for c in SHARED_CASES}
        self.outcome.update(fallback=0, study_missing=0, panel_missing=0)

    def add(self, snp):
        """Writes the lines of one SNP."""
        col = self.pop.column(snp.pos)
        lay, a, rng = self.layout, self.a, self.rng
        miss_s = scattered(rng, a.study_individuals, a.missing) if snp.in_study else []
        miss_p = scattered(rng, lay.n_members, a.panel_missing) if snp.in_panel else []
        for _ in range(MAX_RETRIES):
            lines = self.attempt(snp, col, miss_s, miss_p)
            if lines is not None:
                break
        else:
            self.outcome["fallback"] += 1
            snp.case, snp.letters = "same", rng.choice(PAIRS)
            lines = self.attempt(snp, col, miss_s, miss_p)
        self.outcome["study_missing"] += len(miss_s)
        self.outcome["panel_missing"] += len(miss_p)
        if snp.in_study and snp.in_panel:
            self.outcome[snp.case] += 1
        for store, line in zip((self.study, self.panel, self.hap, self.truth), lines):
            if line is not None:
                store.append(line)

    def attempt(self, snp, col, miss_s, miss_p):
        """The four lines (or None where a file lacks the SNP); None if the draw misses
        the intended alignment outcome of an A/T or C/G SNP."""
        a, lay, rng = self.a, self.layout, self.rng
        if snp.case.startswith("amb"):
            maf = ambiguous_maf(rng, snp.case)
            alleles = exact_alleles(rng, self.pop, col, maf if rng.random() < 0.5 else 1.0 - maf)
        else:
            alleles = clade_alleles(rng, self.pop, col, snp.pos, snp.maf)
            if rng.random() < 0.5:
                alleles = bytearray(alleles.translate(BIT_FLIP))
        mutate(rng, alleles, a.mutation)
        l1, l2 = snp.letters
        study_counts = genotypes(alleles[lay.study[0]], alleles[lay.study[1]])
        panel_flipped = snp.case in PANEL_FLIPPED
        s_codes = coded(study_counts, False, miss_s) if snp.in_study else None
        p_codes = None
        hap_flip = False
        if snp.in_panel:
            counts = genotypes(lay.panel[0](alleles), lay.panel[1](alleles))
            p_codes = coded(counts, panel_flipped, miss_p)
            if snp.in_study:
                ok, hap_flip = self.check(snp, s_codes, p_codes, panel_flipped)
                if not ok:
                    return None
        recode = 1 if snp.case == "recode" else 0
        panel_letters = l2 + l1 if snp.case == "swap" else l1 + l2
        head = f"{snp.name} {snp.pos}"
        study = (f"{head} {recode} {l1} {l2} ".encode() + spaced(s_codes)
                 if s_codes is not None else None)
        panel = (f"{head} {panel_letters[0]} {panel_letters[1]} ".encode() + spaced(p_codes)
                 if p_codes is not None else None)
        hap = None
        if snp.in_hap:
            values = bytes(alleles[lay.hap_cols]).translate(HAP_FLIP if hap_flip else HAP_DIGITS)
            hap = f"{snp.name} ".encode() + spaced(values)
        truth = None
        if a.truth:
            truth = f"{head} {l1} {l2} ".encode() + spaced(study_counts.translate(CODE_DIGITS))
        return study, panel, hap, truth

    def check(self, snp, s_codes, p_codes, panel_flipped):
        """Whether the program's alignment of a shared SNP gives the intended result,
        and whether the aligned panel codes then count the other allele."""
        letters = snp.letters[::-1] if snp.case == "swap" else snp.letters
        recode = 1 if snp.case == "recode" else 0
        kept, flips = alignment(snp.letters, letters, recode, frequency(s_codes),
                                frequency(p_codes))
        final_flipped = panel_flipped != (flips % 2 == 1)
        if snp.case == "amb_drop":
            return not kept, final_flipped
        return kept and not final_flipped, False


def write_file(path, lines):
    """Writes the lines, each ending with a line break, checking their length."""
    for line in lines:
        if len(line) > MAX_LINE:
            sys.exit(f"make_dataset: a line of '{path}' would hold {len(line)} characters")
    with open(path, "wb") as f:
        f.write(b"\n".join(lines))
        if lines:
            f.write(b"\n")


def report(a, w, snps):
    """Prints what was written."""
    n_study = len(w.study)
    o = w.outcome
    cells_s = max(1, n_study * a.study_individuals)
    cells_p = max(1, len(w.panel) * w.layout.n_members)
    print(f"genotype.dat: {n_study} SNPs, {a.study_individuals} individuals, "
          f"{100.0 * o['study_missing'] / cells_s:.2f} % missing codes")
    print(f"external.dat: {len(w.panel)} SNPs, {a.trios} trios, {a.duos} duos, "
          f"{a.singletons} singletons ({w.layout.n_members} columns), "
          f"{100.0 * o['panel_missing'] / cells_p:.2f} % missing codes")
    print(f"haplotype.dat: {len(w.hap)} SNPs, {w.layout.n_haps - 2 * a.study_individuals} "
          f"haplotypes")
    print(f"SNPs in both: {sum(o[c] for c in SHARED_CASES)} (same coding {o['same']}, "
          f"letters swapped {o['swap']}, recode flag {o['recode']}, A/T or C/G same strand "
          f"{o['amb_same']}, other strand fixed by frequency {o['amb_fix']}, other strand "
          f"near 0.5 removed {o['amb_drop']}, redrawn as plain SNPs {o['fallback']})")
    print(f"study-only SNPs: {sum(1 for s in snps if s.in_study and not s.in_panel)}, "
          f"panel SNPs not in the haplotype file: "
          f"{sum(1 for s in snps if s.in_panel and not s.in_hap)}")


def main(argv=None):
    a = parse_args(argv)
    rng = random.Random(a.seed)
    snps = design_snps(a, rng)
    w = Writer(a, rng, snps)
    for snp in snps:
        w.add(snp)
    os.makedirs(a.outdir, exist_ok=True)
    write_file(os.path.join(a.outdir, "genotype.dat"), w.study)
    write_file(os.path.join(a.outdir, "external.dat"), w.panel)
    write_file(os.path.join(a.outdir, "haplotype.dat"), w.hap)
    if a.truth:
        write_file(os.path.join(a.outdir, "truth.dat"), w.truth)
    report(a, w, snps)


if __name__ == "__main__":
    main()
