#!/usr/bin/env python3
"""Scores imputed genotypes against the truth as the field reports imputation accuracy.

  score_imputation.py --truth T.vcf.gz --panel P.vcf.gz --study S.vcf.gz [--masked M.tsv]
                      [--times TIMES.tsv] [--tsv OUT.tsv] LABEL=IMPUTED.vcf.gz ...

Untyped sites: the biallelic SNPs of the panel (REF and ALT single bases) that the truth
holds, that the study does not type (no study SNP at the same contig and position with the
same or swapped alleles) and whose ALT count in the panel is neither 0 nor AN. Each goes to
a bin of its minor-allele frequency in the panel (<0.5 %, 0.5-1 %, 1-5 %, 5-20 %, 20-50 %).
Dosages (DS, or P(1) + 2 P(2) from GP) and true ALT counts are turned to the panel's minor
allele. Per bin: the pooled r2, the squared Pearson correlation of dosage and true count
over all genotypes of the bin's sites, and the number of those genotypes. Over all untyped
sites: the mean per-site r2 (0 where a site's dosages or true counts are constant). The
masked genotypes (M.tsv: contig, position, REF, ALT, sample; typed genotypes that the
study's VCF holds as missing) give the masked r2, pooled over all of them.

Sites and samples match by name: contig (a leading "chr" ignored), position, REF and ALT,
also swapped (the dosage then counts the other allele). A scored site that an imputed file
lacks is counted in its row's "missing" column and left out of its figures; so is a
genotype whose true call is missing. LABEL=- gives a row of n/a (a run that did not run).
TIMES.tsv (label, wall seconds, CPU seconds, peak MB, note) adds those to the label's row.
The table is printed; --tsv writes the same rows tab-separated. Standard library only.
"""

import argparse
import gzip
import operator
import sys

BINS = ("<0.5%", "0.5-1%", "1-5%", "5-20%", "20-50%")
BIN_EDGES = (50, 100, 500, 2000)  # upper MAF bounds in basis points, each bin [low, high)
BASES = frozenset("ACGT")
COLUMNS = ("label",) + tuple("r2 " + b for b in BINS) + (
    "mean_site_r2", "masked_r2", "masked_n", "missing_sites", "wall_s", "cpu_s", "peak_MB",
    "note")


def open_text(path):
    """A text stream of a plain, gzipped or bgzipped file."""
    with open(path, "rb") as f:
        magic = f.read(2)
    if magic == b"\x1f\x8b":
        return gzip.open(path, "rt")
    return open(path)


def contig_name(name):
    return name[3:] if name.startswith("chr") else name


class Vcf:
    """A VCF's sample names and its records as lists of tab-separated fields (the line
    without its newline, split); reading stops with the file."""

    def __init__(self, path):
        self.path = path
        self.samples = None
        self._f = open_text(path)
        for line in self._f:
            if line.startswith("#CHROM"):
                self.samples = line.rstrip("\n").split("\t")[9:]
                break
        if self.samples is None:
            raise ValueError(f"{path}: no #CHROM header line")

    def records(self):
        with self._f:
            for line in self._f:
                yield line.rstrip("\n").split("\t")


def site_key(fields):
    """(contig, position, REF, ALT) of a record's fields."""
    return contig_name(fields[0]), int(fields[1]), fields[3], fields[4]


def is_snp(ref, alt):
    return len(ref) == 1 and len(alt) == 1 and ref in BASES and alt in BASES


def swapped(key):
    return key[0], key[1], key[3], key[2]


class _AltCounts(dict):
    """GT string -> ALT count (phased or not, any ploidy), None if an allele is missing;
    filled on first use."""

    def __missing__(self, gt):
        if gt is None:
            return None
        alleles = gt.replace("|", "/").split("/")
        n = None if "." in alleles or "" in alleles else sum(a != "0" for a in alleles)
        self[gt] = n
        return n


_ALT_COUNTS = _AltCounts()
alt_count = _ALT_COUNTS.__getitem__


def format_fields(fields, name):
    """The values of FORMAT field `name` of a record's samples (None where a sample's
    value is absent); None if FORMAT lacks it."""
    keys = fields[8].split(":")
    if name not in keys:
        return None
    if len(keys) == 1:
        return fields[9:]
    i, k = keys.index(name), len(keys)
    parts = ":".join(fields[9:]).split(":")
    if len(parts) == k * (len(fields) - 9):
        return parts[i::k]
    return [p[i] if len(p) > i else None for p in (s.split(":") for s in fields[9:])]


def gt_strings(fields):
    """The GT strings of a record's samples."""
    gts = format_fields(fields, "GT")
    if gts is None:
        raise ValueError(f"{fields[0]}:{fields[1]}: no GT in FORMAT")
    return gts


def read_panel_counts(path):
    """{site key: (ALT count, allele count)} of the biallelic SNPs of a panel VCF."""
    counts = {}
    for fields in Vcf(path).records():
        if not is_snp(fields[3], fields[4]):
            continue
        text = "\t".join(gt_strings(fields))
        ac = text.count("1")
        counts[site_key(fields)] = (ac, ac + text.count("0"))
    return counts


def keyed_values(path, wanted, values_of, flipped):
    """(sample names, {site key: values_of(record)}) of the biallelic SNPs of a VCF: every
    one when `wanted` is None, else those whose key or swapped key is in it, under that
    key (a swapped record's values, None where missing, turned by `flipped`)."""
    vcf = Vcf(path)
    table = {}
    for fields in vcf.records():
        if not is_snp(fields[3], fields[4]):
            continue
        key = site_key(fields)
        if wanted is None or key in wanted:
            table[key] = values_of(fields)
        elif swapped(key) in wanted:
            table[swapped(key)] = [None if v is None else flipped(v) for v in values_of(fields)]
    return vcf.samples, table


def read_genotypes(path, wanted=None):
    """(sample names, {site key: ALT counts per sample, None where missing}), as
    keyed_values gives them."""
    return keyed_values(path, wanted, lambda f: list(map(alt_count, gt_strings(f))),
                        lambda c: 2 - c)


def read_sites(path):
    """The site keys of the biallelic SNPs of a VCF."""
    return {site_key(f) for f in Vcf(path).records() if is_snp(f[3], f[4])}


def dosages_of(fields):
    """Dosages of a record's samples from DS, or from GP; None where missing."""
    ds = format_fields(fields, "DS")
    if ds is not None:
        try:
            return list(map(float, ds))
        except (TypeError, ValueError):
            return [None if d in (None, ".") else float(d) for d in ds]
    gp = format_fields(fields, "GP")
    if gp is None:
        raise ValueError(f"{fields[0]}:{fields[1]}: neither DS nor GP in FORMAT")
    out = []
    for g in gp:
        p = (g or ".").split(",")
        out.append(float(p[1]) + 2 * float(p[2]) if len(p) == 3 else None)
    return out


def read_dosages(path, wanted):
    """(sample names, {site key: dosages of the key's ALT}) of the records of an imputed VCF
    whose key, or swapped key, is in `wanted`."""
    return keyed_values(path, wanted, dosages_of, lambda d: 2.0 - d)


def maf_bin(ac, an):
    """Index of the MAF bin of a site with `ac` ALT alleles among `an`; None if monomorphic."""
    mac = min(ac, an - ac)
    if mac <= 0:
        return None
    for i, edge in enumerate(BIN_EDGES):
        if mac * 10000 < edge * an:
            return i
    return len(BIN_EDGES)


class Pooled:
    """Sums for the Pearson correlation of pairs (x, y), added pair by pair or a list of
    pairs at a time."""

    def __init__(self):
        self.n = 0
        self.sx = self.sy = self.sxx = self.syy = self.sxy = 0.0

    def add(self, x, y):
        self.n += 1
        self.sx += x
        self.sy += y
        self.sxx += x * x
        self.syy += y * y
        self.sxy += x * y

    def add_lists(self, xs, ys):
        """Adds the pairs of two equally long lists, or of 2 - x and 2 - y with `flip`."""
        self.n += len(xs)
        self.sx += sum(xs)
        self.sy += sum(ys)
        self.sxx += sum(map(operator.mul, xs, xs))
        self.syy += sum(map(operator.mul, ys, ys))
        self.sxy += sum(map(operator.mul, xs, ys))

    def merge(self, other, flip=False):
        """Adds another's pairs, as (2 - x, 2 - y) with `flip`."""
        n, sx, sy, sxx, syy, sxy = other.n, other.sx, other.sy, other.sxx, other.syy, other.sxy
        if flip:
            sxx, syy = 4 * n - 4 * sx + sxx, 4 * n - 4 * sy + syy
            sxy = 4 * n - 2 * sx - 2 * sy + sxy
            sx, sy = 2 * n - sx, 2 * n - sy
        self.n += n
        self.sx += sx
        self.sy += sy
        self.sxx += sxx
        self.syy += syy
        self.sxy += sxy

    def r2(self):
        """Squared correlation; 0 when x or y is constant, None without pairs."""
        if self.n == 0:
            return None
        vx = self.sxx - self.sx * self.sx / self.n
        vy = self.syy - self.sy * self.sy / self.n
        if vx <= 1e-12 * max(1.0, self.sxx) or vy <= 1e-12 * max(1.0, self.syy):
            return 0.0
        c = self.sxy - self.sx * self.sy / self.n
        return min(1.0, c * c / (vx * vy))


class Truth:
    """What every imputed file is scored against: the untyped sites with their bin and
    minor-allele orientation, the true counts, the masked genotypes."""

    def __init__(self, truth_path, panel_path, study_path, masked_path=None):
        panel = read_panel_counts(panel_path)
        typed = set()
        for key in read_sites(study_path):
            typed.add(key)
            typed.add(swapped(key))
        self.masked = [(key if key in panel or swapped(key) not in panel else swapped(key), s)
                       for key, s in (read_masked(masked_path) if masked_path else [])]
        masked_sites = {key for key, _ in self.masked}
        self.sites = {}  # key -> (bin, flip): flip when ALT is the panel's major allele
        for key, (ac, an) in panel.items():
            b = maf_bin(ac, an)
            if key in masked_sites:
                self.sites.setdefault(key, (b, 2 * ac > an))
            if b is not None and key not in typed:
                self.sites[key] = (b, 2 * ac > an)
        self.untyped = sorted(k for k in self.sites if k not in typed)  # a fixed sum order
        self.samples, self.calls = read_genotypes(truth_path, set(self.sites))
        self.column = {s: i for i, s in enumerate(self.samples)}
        self.genotypes = [0] * len(BINS)
        for key in self.untyped:
            if key in self.calls:
                calls = self.calls[key]
                self.genotypes[self.sites[key][0]] += len(calls) - calls.count(None)

    def score(self, path):
        """Figures of one imputed VCF: {r2 per bin, mean_site_r2, masked_r2, masked_n,
        missing_sites}."""
        samples, doses = read_dosages(path, set(self.sites))
        pairs = [(i, self.column[s]) for i, s in enumerate(samples) if s in self.column]
        if samples == self.samples:
            pairs = None
        bins = [Pooled() for _ in BINS]
        site_r2_sum, sites, missing = 0.0, 0, 0
        for key in self.untyped:
            truth = self.calls.get(key)
            if truth is None:
                continue
            if key not in doses:
                missing += 1
                continue
            b, flip = self.sites[key]
            site = Pooled()
            site.add_lists(*paired(doses[key], truth, pairs))
            bins[b].merge(site, flip)
            site_r2_sum += site.r2() or 0.0
            sites += 1
        masked = Pooled()
        dose_column = {s: i for i, s in enumerate(samples)}
        for key, sample in self.masked:
            truth, dose = self.calls.get(key), doses.get(key)
            if truth is None or dose is None or sample not in dose_column:
                continue
            x, y = dose[dose_column[sample]], truth[self.column[sample]]
            if x is None or y is None:
                continue
            if self.sites[key][1]:
                x, y = 2.0 - x, 2 - y
            masked.add(x, y)
        figures = {"r2 " + name: bins[i].r2() for i, name in enumerate(BINS)}
        figures.update(mean_site_r2=site_r2_sum / sites if sites else None,
                       masked_r2=masked.r2(), masked_n=masked.n, missing_sites=missing)
        return figures


def paired(doses, truth, pairs):
    """(dosages, true counts) of the samples that both files hold, where neither is
    missing; `pairs` gives (dosage column, truth column) per such sample, None when the
    two files have the same samples in the same order."""
    if pairs is None:
        xs, ys = doses, truth
    else:
        xs = [doses[i] for i, _ in pairs]
        ys = [truth[j] for _, j in pairs]
    if None in xs or None in ys:
        kept = [(x, y) for x, y in zip(xs, ys) if x is not None and y is not None]
        xs, ys = [x for x, _ in kept], [y for _, y in kept]
    return xs, ys


def read_masked(path):
    """[(site key, sample)] of a masked-genotype list (contig, position, REF, ALT, sample)."""
    out = []
    with open_text(path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            c, pos, ref, alt, sample = line.rstrip("\n").split("\t")
            out.append(((contig_name(c), int(pos), ref, alt), sample))
    return out


def read_times(path):
    """{label: (wall seconds, CPU seconds, peak MB, note)} of a times file."""
    times = {}
    with open(path) as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if parts and parts[0]:
                parts += [""] * (5 - len(parts))
                times[parts[0]] = tuple(parts[1:5])
    return times


def fmt(value, digits=3):
    if value is None or value == "":
        return "n/a"
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def table_lines(rows, genotypes):
    """The printed table: a header, one line per row, the genotypes per bin."""
    head = ("run",) + BINS + ("site r2", "masked", "wall s", "CPU s", "peak MB")
    width = max([len(r["label"]) for r in rows] + [len("run")])
    line = "{:<%d}" % width + " {:>8}" * (len(head) - 1)
    out = [line.format(*head)]
    for r in rows:
        cells = [fmt(r.get("r2 " + b)) for b in BINS]
        cells += [fmt(r.get("mean_site_r2")), fmt(r.get("masked_r2")),
                  r.get("wall_s") or "n/a", r.get("cpu_s") or "n/a", r.get("peak_MB") or "n/a"]
        notes = [r["note"]] if r.get("note") else []
        if "masked_n" in r:
            notes.append(f"{r['masked_n']} masked")
        if r.get("missing_sites"):
            notes.append(f"{r['missing_sites']} untyped sites missing")
        out.append(line.format(r["label"], *cells) + "  " + "; ".join(notes))
    out.append(line.format("genotypes", *[str(g) for g in genotypes], "", "", "", "", ""))
    return out


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--truth", required=True)
    p.add_argument("--panel", required=True)
    p.add_argument("--study", required=True)
    p.add_argument("--masked")
    p.add_argument("--times")
    p.add_argument("--tsv")
    p.add_argument("runs", nargs="+", metavar="LABEL=FILE")
    a = p.parse_args(argv)
    truth = Truth(a.truth, a.panel, a.study, a.masked)
    times = read_times(a.times) if a.times else {}
    rows = []
    for run in a.runs:
        label, _, path = run.partition("=")
        row = {"label": label}
        if path and path != "-":
            row.update(truth.score(path))
        wall, cpu, peak, note = times.get(label, ("", "", "", ""))
        row.update(wall_s=wall, cpu_s=cpu, peak_MB=peak, note=note)
        rows.append(row)
    print("\n".join(table_lines(rows, truth.genotypes)))
    if a.tsv:
        with open(a.tsv, "w") as f:
            f.write("\t".join(COLUMNS) + "\n")
            for r in rows:
                cells = [fmt(r.get(c), 4) for c in COLUMNS[:-1]] + [r.get("note", "")]
                f.write("\t".join(cells) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
