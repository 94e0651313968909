#!/usr/bin/env python3
"""How well the per-site quality figures predict the true accuracy of imputed
genotypes: for a dataset made with tools/make_dataset.py --truth, reads
Tessellar's VCF output and per-site file (made with -sites and -loo) and the
truth file, and prints per minor-allele-frequency bin of the imputed untyped
SNPs their number, mean INFO and the true dosage r2 (squared correlation of
the dosages with the true genotypes), and of the typed SNPs checked by the
leave-one-out check their number and mean ER2. Untyped SNPs are binned by
their true minor-allele frequency in the study, typed ones by the observed.
Standard library only.
Usage: calibration.py OUTPUT.vcf[.gz] SITES.tsv[.gz] TRUTH.dat
"""
import gzip
import sys

BINS = ((0.0, 0.01, "< 1 %"), (0.01, 0.05, "1 - 5 %"), (0.05, 0.20, "5 - 20 %"), (0.20, 0.51, "20 - 50 %"))


def lines(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt") as f:
        yield from f


def r2(x, y):
    n = len(x)
    if n == 0:
        return 0.0
    mx, my = sum(x) / n, sum(y) / n
    vx = sum((a - mx) ** 2 for a in x)
    vy = sum((b - my) ** 2 for b in y)
    if vx <= 0 or vy <= 0:
        return 0.0
    c = sum((a - mx) * (b - my) for a, b in zip(x, y))
    return c * c / (vx * vy)


def bin_of(maf):
    for lo, hi, name in BINS:
        if lo <= maf < hi:
            return name
    return BINS[-1][2]


def main(output, sites, truth_path):
    truth = {}
    for line in lines(truth_path):
        f = line.split()
        if f:
            truth[f[0]] = (f[2], f[3], [int(c) for c in f[4:]])
    fate = {}
    for line in lines(sites):
        if line.startswith("#"):
            continue
        f = line.rstrip("\n").split("\t")
        fate[f[2]] = f
    untyped = {name: [0, 0.0, 0.0] for _, _, name in BINS}
    checked = {name: [0, 0.0] for _, _, name in BINS}
    for line in lines(output):
        if line.startswith("#"):
            continue
        f = line.rstrip("\n").split("\t")
        name, ref, alt = f[2], f[3], f[4]
        if name not in truth or fate.get(name, [""] * 9)[8] != "imputed" or fate[name][5] == "1":
            continue
        a1, a2, codes = truth[name]
        if alt == a2:
            true = codes
        elif alt == a1:
            true = [2 - c for c in codes]
        else:
            continue
        dosage = [float(s.split(":")[1]) for s in f[9:]]
        info = dict(kv.split("=") for kv in f[7].split(";") if "=" in kv)
        freq = sum(true) / (2.0 * len(true))
        b = untyped[bin_of(min(freq, 1 - freq))]  # by the true frequency
        b[0] += 1
        b[1] += float(info.get("INFO", "nan"))
        b[2] += r2(dosage, true)
    for f in fate.values():
        if f[14] != ".":
            b = checked[bin_of(float(f[10]))]
            b[0] += 1
            b[1] += float(f[14])
    print("MAF bin      untyped  mean INFO  true r2   |  checked  mean ER2")
    for _, _, name in BINS:
        n, info, true_r2 = untyped[name]
        m, er2 = checked[name]
        print(f"{name:<10} {n:9d} {info / n if n else float('nan'):10.3f} {true_r2 / n if n else float('nan'):8.3f}"
              f"   | {m:8d} {er2 / m if m else float('nan'):9.3f}")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
