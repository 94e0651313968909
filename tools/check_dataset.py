#!/usr/bin/env python3
"""Checks a Tessellar dataset (genotype.dat, external.dat, haplotype.dat) against the
input rules and the allele coding, and prints its LD decay and frequency spectrum.
Python 3 standard library only. Exit status 1 when a rule is broken.

Coding check: the SNPs go through Tessellar's union, name matching, speed filter and
allele alignment; then every panel founder's aligned code must equal the sum of its
two haplotype values, every child's code must fit its parents' haplotypes, and the
aligned panel frequency must lie on the study's side of 0.5 at clearly polar SNPs.
"""

import argparse
import os
import sys

MAX_LINE = 99_998


class Table:
    """One input file: per row name, position, recode flag, letters, values."""

    def __init__(self, path, kind, errors):
        self.path, self.rows = path, []
        with open(path, "rb") as f:
            data = f.read()
        if data and not data.endswith(b"\n"):
            errors.append(f"{path}: the last line has no line break")
        fixed = {"study": 5, "panel": 4, "hap": 1}[kind]
        for k, raw in enumerate(data.split(b"\n")[:-1] if data else [], start=1):
            line = raw.decode("ascii")
            if len(line) > MAX_LINE:
                errors.append(f"{path} line {k}: {len(line)} characters")
            if line != " ".join(line.split(" ")) or "  " in line or line.endswith(" "):
                errors.append(f"{path} line {k}: blanks other than single separators")
            f_ = line.split(" ")
            name = f_[0]
            if not 1 <= len(name) <= 29:
                errors.append(f"{path} line {k}: name '{name}' of {len(name)} characters")
            pos = int(f_[1]) if kind != "hap" else None
            recode = int(f_[2]) if kind == "study" else 0
            letters = "".join(f_[fixed - 2:fixed]) if kind != "hap" else ""
            values = [int(x) for x in f_[fixed:]]
            self.rows.append((name, pos, recode, letters, values))


def check_files(s, p, h, n_members, n_haps, errors):
    """Format rules of each file and between files."""
    for t, width, allowed in ((s, None, {0, 1, 2, 9}), (p, n_members, {0, 1, 2, 9}),
                              (h, n_haps, {0, 1})):
        width = width if width is not None else len(t.rows[0][4]) if t.rows else 0
        names = [r[0] for r in t.rows]
        if len(set(names)) != len(names):
            errors.append(f"{t.path}: names repeat")
        for k, r in enumerate(t.rows, start=1):
            if len(r[4]) != width:
                errors.append(f"{t.path} line {k}: {len(r[4])} values, expected {width}")
            if not set(r[4]) <= allowed:
                errors.append(f"{t.path} line {k}: values outside {sorted(allowed)}")
            if r[1] is not None and k > 1 and r[1] <= t.rows[k - 2][1]:
                errors.append(f"{t.path} line {k}: position not above the previous one")
    panel_pos = {r[1]: r[0] for r in p.rows}
    for r in s.rows:
        if r[1] in panel_pos and panel_pos[r[1]] != r[0]:
            errors.append(f"study SNP {r[0]} shares its position with panel SNP "
                          f"{panel_pos[r[1]]}")


def frequency(values):
    cnt = sum(1 for v in values if v != 9)
    return sum(v for v in values if v != 9) / (2 * cnt) if cnt else float("nan")


def aligned_pairs(s, p, h):
    """Shared rows after the program's filters: (study row, panel row, aligned panel codes)
    and the aligned codes of every panel row that keeps a haplotype row."""
    by_pos = {r[1]: k for k, r in enumerate(s.rows)}
    hap_of, last = {}, -1
    names = [r[0] for r in h.rows]
    for k, r in enumerate(p.rows):
        for j in range(last + 1, len(names)):
            if names[j] == r[0]:
                hap_of[k], last = j, j
                break
    shared, kept = [], {}
    for k, r in enumerate(p.rows):
        if k not in hap_of:
            continue  # taken out by the speed filter
        codes = list(r[4])
        srow = by_pos.get(r[1])
        if srow is not None:
            st = s.rows[srow]
            flips = 1 if st[2] == 1 else 0
            fs, fe = frequency(st[4]), frequency(r[4])
            d = (fe - 0.5) * (fs - 0.5)
            if r[3][0] != st[3][0]:
                flips += 1
            elif r[3] in ("CG", "AT"):
                if 0.4 < fe < 0.6 and 0.4 < fs < 0.6 and d < 0:
                    srow = None
                elif d < 0:
                    flips += 1
            if flips % 2:
                codes = [v if v == 9 else 2 - v for v in codes]
            if srow is not None:
                shared.append((srow, k, codes))
        kept[k] = (hap_of[k], codes)
    return shared, kept


def check_coding(a, s, p, h, errors):
    """Aligned panel codes against the haplotypes and against the study frequencies."""
    shared, kept = aligned_pairs(s, p, h)
    bad_hap = bad_child = 0
    for k, (j, codes) in kept.items():
        hv = h.rows[j][4]
        col, hcol = 0, 0
        for unit, n in ((3, a.trios), (2, a.duos), (1, a.singletons)):
            for _ in range(n):
                haps = hv[hcol:hcol + {3: 4, 2: 3, 1: 2}[unit]]
                bad_hap += founder_mismatch(unit, codes[col:col + unit], haps)
                bad_child += child_mismatch(unit, codes[col:col + unit], haps)
                col += unit
                hcol += len(haps)
    polar = [(s.rows[sr][4], c) for sr, _, c in shared if abs(frequency(s.rows[sr][4]) - 0.5) > 0.2]
    wrong = sum(1 for sv, c in polar if (frequency(sv) - 0.5) * (frequency(c) - 0.5) < 0)
    if bad_hap or bad_child:
        errors.append(f"aligned panel codes disagree with the haplotypes: {bad_hap} founder "
                      f"codes, {bad_child} child codes")
    if wrong:
        errors.append(f"{wrong} of {len(polar)} polar shared SNPs have the panel frequency on "
                      f"the other side of 0.5 after alignment")
    print(f"coding: {len(kept)} panel SNPs with haplotype rows checked, {len(shared)} shared "
          f"SNPs kept, {len(polar) - wrong} of {len(polar)} polar ones agree")


def founder_mismatch(unit, codes, haps):
    """Founder codes that differ from the sum of their two haplotypes (codes 9 skipped)."""
    founders = [(codes[0], haps[0] + haps[1])]
    if unit == 3:
        founders.append((codes[1], haps[2] + haps[3]))
    return sum(1 for c, v in founders if c != 9 and c != v)


def child_mismatch(unit, codes, haps):
    """1 when the child's code fits no transmission from the founders' haplotypes."""
    if unit == 1 or codes[-1] == 9:
        return 0
    if unit == 3:
        fits = {x + y for x in haps[0:2] for y in haps[2:4]}
    else:
        fits = {x + haps[2] for x in haps[0:2]}
    return 0 if codes[-1] in fits else 1


def check_truth(path, s, errors):
    """Study codes must equal the complete genotypes of truth.dat wherever not 9."""
    truth = {}
    with open(path) as f:
        for line in f:
            x = line.split()
            truth[x[0]] = [int(v) for v in x[4:]]
    bad = sum(1 for r in s.rows for v, t in zip(r[4], truth[r[0]]) if v != 9 and v != t)
    if bad:
        errors.append(f"{bad} study codes differ from truth.dat")


def ld_report(p, h, max_rows=1500):
    """Mean haplotype r^2 between panel SNPs by distance, and the minor allele spectrum."""
    pos = {r[0]: r[1] for r in p.rows}
    rows = [(pos[r[0]], r[4]) for r in h.rows[:max_rows]]
    bins = [(0, 5_000), (5_000, 20_000), (20_000, 50_000), (50_000, 200_000),
            (200_000, 10**9)]
    sums = [[0.0, 0] for _ in bins]
    for i in range(len(rows)):
        for j in range(i + 1, min(len(rows), i + 40)):
            d = rows[j][0] - rows[i][0]
            r2 = r_squared(rows[i][1], rows[j][1])
            for b, (lo, hi) in enumerate(bins):
                if lo <= d < hi and r2 is not None:
                    sums[b][0] += r2
                    sums[b][1] += 1
    best = []
    for i, (pi, xi) in enumerate(rows):
        if not 0.05 <= sum(xi) / max(1, len(xi)) <= 0.95:
            continue
        near = [r_squared(xi, xj) for pj, xj in rows[max(0, i - 40):i + 40]
                if pj != pi and abs(pj - pi) <= 50_000]
        best.append(max([r for r in near if r is not None], default=0.0))
    best.sort()
    text = ", ".join(f"{lo // 1000}-{hi // 1000 if hi < 10**9 else 'inf'} kb {s / n:.3f} ({n})"
                     for (lo, hi), (s, n) in zip(bins, sums) if n)
    print(f"mean r^2 by distance: {text}")
    if best:
        print(f"common SNPs: median best r^2 within 50 kb {best[len(best) // 2]:.3f}, "
              f"{sum(1 for b in best if b >= 0.8)} of {len(best)} at 0.8 or more")
    mafs = [min(f, 1 - f) for f in (sum(v) / len(v) for _, v in rows if v)]
    rare = sum(1 for m in mafs if m < 0.05)
    print(f"haplotype MAF: {rare} of {len(mafs)} below 5 %, "
          f"{sum(1 for m in mafs if m >= 0.2)} at 20 % or more")


def r_squared(x, y):
    n = len(x)
    px, py = sum(x) / n, sum(y) / n
    if px in (0, 1) or py in (0, 1):
        return None
    pxy = sum(1 for a, b in zip(x, y) if a and b) / n
    d = pxy - px * py
    return d * d / (px * (1 - px) * py * (1 - py))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("dir", help="directory holding the three files")
    ap.add_argument("--trios", type=int, default=30)
    ap.add_argument("--duos", type=int, default=0)
    ap.add_argument("--singletons", type=int, default=0)
    a = ap.parse_args()
    errors = []
    s = Table(os.path.join(a.dir, "genotype.dat"), "study", errors)
    p = Table(os.path.join(a.dir, "external.dat"), "panel", errors)
    h = Table(os.path.join(a.dir, "haplotype.dat"), "hap", errors)
    n_members = 3 * a.trios + 2 * a.duos + a.singletons
    check_files(s, p, h, n_members, 4 * a.trios + 3 * a.duos + 2 * a.singletons, errors)
    check_coding(a, s, p, h, errors)
    truth = os.path.join(a.dir, "truth.dat")
    if os.path.exists(truth):
        check_truth(truth, s, errors)
    ld_report(p, h)
    for e in errors[:20]:
        print("ERROR:", e)
    print("ok" if not errors else f"{len(errors)} problem(s)")
    sys.exit(1 if errors else 0)


if __name__ == "__main__":
    main()
