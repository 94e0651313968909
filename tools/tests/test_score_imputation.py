"""score_imputation.py and accuracy_data.py: hand-worked scores of tiny VCFs (which sites
count, allele orientation, bins, masked genotypes), the pooled sums against a two-pass
correlation, and the benchmark's data preparation."""

import os
import random
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path[:0] = [os.path.dirname(HERE)]
import accuracy_data  # noqa: E402
import score_imputation as si  # noqa: E402


def write_vcf(path, samples, records, contig="20"):
    """records: (position, REF, ALT, FORMAT, values per sample)."""
    with open(path, "w") as f:
        f.write(f"##fileformat=VCFv4.2\n##contig=<ID={contig}>\n")
        f.write("\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO",
                           "FORMAT"] + samples) + "\n")
        for pos, ref, alt, fmt, values in records:
            f.write("\t".join([contig, str(pos), f"s{pos}", ref, alt, ".", ".", ".", fmt]
                              + values) + "\n")
    return path


def panel_gts(alt_count, n=4):
    """n phased panel samples carrying `alt_count` ALT alleles in all."""
    alleles = ["1"] * alt_count + ["0"] * (2 * n - alt_count)
    return [alleles[2 * i] + "|" + alleles[2 * i + 1] for i in range(n)]


def two_pass_r2(xs, ys):
    n = len(xs)
    mx, my = sum(xs) / n, sum(ys) / n
    vx = sum((x - mx) ** 2 for x in xs)
    vy = sum((y - my) ** 2 for y in ys)
    c = sum((x - mx) * (y - my) for x, y in zip(xs, ys))
    return c * c / (vx * vy)


class Small(unittest.TestCase):
    def test_alt_count(self):
        for gt, n in (("0|1", 1), ("1/0", 1), ("1|1", 2), ("0/0", 0), ("./.", None),
                      (".", None), ("0/.", None), (".|1", None), ("1", 1), ("0|2", 1)):
            with self.subTest(gt=gt):
                self.assertEqual(si.alt_count(gt), n)

    def test_maf_bins(self):  # 600 alleles: MAC 3 is exactly 0.5 %, 6 is 1 %, 30 5 %, 120 20 %
        for ac, an, b in ((0, 600, None), (600, 600, None), (1, 600, 0), (2, 600, 0),
                          (3, 600, 1), (5, 600, 1), (6, 600, 2), (29, 600, 2), (30, 600, 3),
                          (119, 600, 3), (120, 600, 4), (300, 600, 4), (597, 600, 1),
                          (599, 600, 0), (480, 600, 4), (481, 600, 3)):
            with self.subTest(ac=ac, an=an):
                self.assertEqual(si.maf_bin(ac, an), b)

    def test_pooled_sums_match_two_pass(self):
        rng = random.Random(3)
        for _ in range(20):
            xs = [rng.uniform(0, 2) for _ in range(rng.randint(3, 40))]
            ys = [rng.randint(0, 2) for _ in xs]
            one, lists, flipped = si.Pooled(), si.Pooled(), si.Pooled()
            for x, y in zip(xs, ys):
                one.add(x, y)
            lists.add_lists(xs, ys)
            flipped.merge(lists, flip=True)
            expect = two_pass_r2(xs, ys) if len(set(ys)) > 1 else 0.0
            self.assertAlmostEqual(one.r2(), expect, places=10)
            self.assertAlmostEqual(lists.r2(), expect, places=10)
            direct = si.Pooled()
            direct.add_lists([2 - x for x in xs], [2 - y for y in ys])
            for a in ("n", "sx", "sy", "sxx", "syy", "sxy"):
                self.assertAlmostEqual(getattr(flipped, a), getattr(direct, a), places=9)

    def test_constant_values_score_zero(self):
        p = si.Pooled()
        p.add_lists([1.0, 1.0, 1.0], [0, 1, 2])
        self.assertEqual(p.r2(), 0.0)
        self.assertIsNone(si.Pooled().r2())


class Scores(unittest.TestCase):
    """Panel of 4 samples (8 alleles: MAC 1 is 12.5 %, a 5-20 % site; MAC 2-4 20-50 %);
    study and truth of 3 samples."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        d = self.tmp.name
        three = ["A", "B", "C"]
        self.panel = write_vcf(os.path.join(d, "panel.vcf"), ["P1", "P2", "P3", "P4"], [
            (100, "A", "G", "GT", panel_gts(1)),   # untyped, ALT minor, 5-20 %
            (200, "C", "T", "GT", panel_gts(7)),   # untyped, ALT major (MAC 1), 5-20 %
            (300, "G", "T", "GT", panel_gts(5)),   # typed (swapped in the study), ALT major
            (350, "C", "A", "GT", panel_gts(2)),   # typed, ALT minor
            (400, "A", "C", "GT", panel_gts(0)),   # monomorphic: not scored
            (500, "T", "C", "GT", panel_gts(4)),   # untyped, 20-50 %, missing from one file
            (600, "A", "AT", "GT", panel_gts(2)),  # indel: not scored
        ])
        self.truth = write_vcf(os.path.join(d, "truth.vcf"), three, [
            (100, "A", "G", "GT", ["0/0", "0/0", "0/1"]),
            (200, "T", "C", "GT", ["0/0", "0|0", "1/0"]),  # the panel's alleles swapped
            (300, "G", "T", "GT", ["0/1", "1/1", "0/0"]),
            (350, "C", "A", "GT", ["0/0", "0/1", "0/0"]),
            (400, "A", "C", "GT", ["0/0", "0/0", "0/0"]),
            (500, "T", "C", "GT", ["0/1", "./.", "1/1"]),
            (600, "A", "AT", "GT", ["0/1", "0/0", "0/0"]),
        ])
        self.study = write_vcf(os.path.join(d, "study.vcf"), three, [
            (300, "T", "G", "GT", ["./.", "0/0", "./."]),
            (350, "C", "A", "GT", ["./.", "./.", "0/0"]),
            (700, "C", "G", "GT", ["0/1", "0/0", "1/1"]),
        ])
        self.masked = os.path.join(d, "masked.tsv")
        with open(self.masked, "w") as f:
            for pos, ref, alt, sample in ((300, "T", "G", "A"), (300, "T", "G", "C"),
                                          (350, "C", "A", "A"), (350, "C", "A", "B")):
                f.write(f"20\t{pos}\t{ref}\t{alt}\t{sample}\n")  # the study's alleles

    def tearDown(self):
        self.tmp.cleanup()

    def imputed(self, records, samples=("A", "B", "C"), name="imp.vcf"):
        return write_vcf(os.path.join(self.tmp.name, name), list(samples), records)

    def truth_set(self):
        return si.Truth(self.truth, self.panel, self.study, self.masked)

    def test_sites_bins_and_genotype_counts(self):
        t = self.truth_set()
        self.assertEqual(t.untyped, [("20", 100, "A", "G"), ("20", 200, "C", "T"),
                                     ("20", 500, "T", "C")])
        self.assertEqual(t.genotypes, [0, 0, 0, 6, 2])  # one true call missing at 500
        self.assertEqual(t.masked[:2], [(("20", 300, "G", "T"), "A"), (("20", 300, "G", "T"), "C")])

    def test_minor_allele_orientation_pools_sites(self):
        # 100 (ALT minor): truth 0 0 1, dose 0 .5 .5; 200 (ALT major): truth 2 2 1, dose 2 1.5
        # 1.5, the same in minor-allele terms: pooled r2 = that of one site = 0.25.
        f = self.imputed([
            (100, "A", "G", "GT:DS", ["0/0:0", "0/0:0.5", "0/0:0.5"]),
            (200, "C", "T", "GT:DS", ["1/1:2", "1/1:1.5", "1/1:1.5"]),
            (300, "G", "T", "GT:DS", ["0/1:0.9", "1/1:2", "0/0:0"]),
            (350, "C", "A", "GT:DS", ["0/0:0.2", "0/1:0.8", "0/0:0"]),
            (500, "T", "C", "GT:DS", ["0/1:1", "0/1:1", "1/1:2"]),
        ])
        s = self.truth_set().score(f)
        self.assertAlmostEqual(s["r2 5-20%"], 0.25, places=12)
        self.assertAlmostEqual(s["r2 20-50%"], 1.0, places=12)  # 2 calls, both right
        self.assertAlmostEqual(s["mean_site_r2"], (0.25 + 0.25 + 1.0) / 3, places=12)
        # masked, minor allele: 300 (G) A 1.1 vs 1, C 2 vs 2; 350 (A) A 0.2 vs 0, B 0.8 vs 1:
        # cov 1.8, var x 1.6875, var y 2: r2 = 3.24 / 3.375
        self.assertEqual((s["masked_n"], s["missing_sites"]), (4, 0))
        self.assertAlmostEqual(s["masked_r2"], 0.96, places=12)
        self.assertIsNone(s["r2 <0.5%"])

    def test_swapped_alleles_gp_missing_site_and_sample_order(self):
        # 100 written with REF/ALT swapped, dosages from GP, samples in another order, the
        # extra sample ignored; 500 absent; 200 with constant dosages scores 0.
        f = self.imputed([
            (100, "G", "A", "GT:GP", ["0/0:0,0,1", "0/0:0,0,1", "0/0:0,1,0", "0/0:1,0,0"]),
            (200, "C", "T", "GT:DS", ["1/1:2", "1/1:2", "1/1:2", "1/1:2"]),
        ], samples=("C", "B", "A", "X"))
        s = self.truth_set().score(f)
        # minor-allele pairs: 100 -> dose (A 1, B 0, C 0), truth (0 0 1); 200 -> dose 0,
        # truth (0 0 1). x = 1 0 0 0 0 0, y = 0 0 1 0 0 1: cov -1/3, var x 5/6, var y 4/3,
        # r2 = (1/9) / (10/9).
        self.assertAlmostEqual(s["r2 5-20%"], 0.1, places=12)
        self.assertAlmostEqual(s["mean_site_r2"], 0.25 / 2, places=12)  # site 100: 0.25
        self.assertEqual((s["masked_n"], s["missing_sites"]), (0, 1))
        self.assertIsNone(s["r2 20-50%"])


class Preparation(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.d = self.tmp.name
        samples = [f"S{i}" for i in range(50)]
        rng = random.Random(9)
        gts = lambda: [rng.choice(["0|0", "0|1", "1|0", "1/1", "./."]) for _ in samples]  # noqa
        self.array = write_vcf(os.path.join(self.d, "array.vcf"), samples, [
            (100, "A", "G", "GT", gts()), (150, "A", "GT", "GT", gts()),
            (200, "C", "T", "GT", gts()), (300, "G", "C", "GT", gts())])
        self.truth = write_vcf(os.path.join(self.d, "truth.vcf"), ["T"], [
            (100, "A", "G", "GT", ["0/0"]), (200, "T", "C", "GT", ["0/0"])])

    def tearDown(self):
        self.tmp.cleanup()

    def study(self, fraction, seed, name):
        out, masked = os.path.join(self.d, name + ".vcf"), os.path.join(self.d, name + ".tsv")
        n = accuracy_data.make_study(self.array, self.truth, out, masked, fraction, seed)
        _, calls = si.read_genotypes(out)
        return n, calls, open(out).read(), open(masked).read()

    def test_study_unphased_masked_reproducibly(self):
        n0, calls0, text0, masked0 = self.study(0.0, 1, "none")
        self.assertEqual(n0, (3, 0))  # the indel dropped
        self.assertNotIn("|", text0.split("#CHROM")[1])
        self.assertNotIn("1/0", text0)
        _, all_calls, _, _ = self.study(1.0, 1, "all")
        for pos in (100, 200):  # at the truth's sites (200 swapped) every call is masked
            key = [k for k in all_calls if k[1] == pos][0]
            self.assertEqual(all_calls[key], [None] * 50)
        self.assertEqual(all_calls[("20", 300, "G", "C")], calls0[("20", 300, "G", "C")])
        a = self.study(0.2, 5, "a")
        self.assertEqual(a[2:], self.study(0.2, 5, "b")[2:])
        self.assertNotEqual(a[3], self.study(0.2, 6, "c")[3])
        for line in a[3].splitlines():  # each listed genotype was called and is now missing
            c, pos, ref, alt, s = line.split("\t")
            col = int(s[1:])
            self.assertIsNotNone(calls0[(c, int(pos), ref, alt)][col])
            self.assertIsNone(a[1][(c, int(pos), ref, alt)][col])
        called = sum(c is not None for k, v in calls0.items() if k[1] in (100, 200) for c in v)
        self.assertTrue(0.1 < a[0][1] / called < 0.3, (a[0], called))

    def test_phased_keeps_study_sites_and_missing_calls(self):
        study = write_vcf(os.path.join(self.d, "s.vcf"), ["A", "B"], [
            (100, "A", "G", "GT", ["0/1", "./."]), (200, "C", "T", "GT", ["0/1", "1/1"]),
            (400, "G", "T", "GT", ["0/0", "0/1"])])
        phased = write_vcf(os.path.join(self.d, "p.vcf"), ["B", "X", "A"], [
            (50, "A", "C", "GT:DS", ["0|1:1", "0|0:0", "1|1:2"]),
            (100, "A", "G", "GT:DS", ["1|1:2", "0|0:0", "1|0:1"]),
            (200, "T", "C", "GT:DS", ["0|0:0", "0|0:0", "0|1:1"])])
        out = os.path.join(self.d, "out.vcf")
        self.assertEqual(accuracy_data.make_phased(phased, study, out), 2)
        lines = [x.split("\t") for x in open(out).read().splitlines() if x[0] != "#"]
        self.assertEqual([x[1:5] + x[8:] for x in lines], [
            ["100", "s100", "A", "G", "GT", "1|0", ".|."],
            ["200", "s200", "C", "T", "GT", "1|0", "1|1"]])

    def test_map(self):
        gmap = os.path.join(self.d, "g.txt")
        with open(gmap, "w") as f:
            f.write("pos\tchr\tcM\n61795\t20\t0.000000\n63231\t20\t0.001056\n")
        out = os.path.join(self.d, "g.map")
        self.assertEqual(accuracy_data.make_map(gmap, out), 2)
        self.assertEqual(open(out).read(), "20\t.\t0.000000\t61795\n20\t.\t0.001056\t63231\n")


if __name__ == "__main__":
    unittest.main()
