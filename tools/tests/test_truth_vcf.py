"""truth_vcf.py: the truth's allele orientation in each coding case of to_vcf's tests, the
missing genotypes listed as masked, and a generated set whose typed genotypes must agree
with the truth written for it."""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path[:0] = [os.path.dirname(HERE), HERE]
import to_vcf  # noqa: E402
import truth_vcf  # noqa: E402
from test_to_vcf import CASES, TempDir, case_dataset, generate  # noqa: E402
from vcf_reading import alt_count, read_vcf  # noqa: E402

TRUTH = "0 1 2 2 0 1"  # the study's true counts of its second letter at rs1
FLIPPED_TRUTH = [2, 1, 0, 0, 2, 1]
OTHER_STRAND = {"C/G near 0.5 taken out"}  # the cases that the alignment takes out


def with_truth(directory, study, panel, bits):
    """A coding case of to_vcf's tests with its truth.dat and peer form."""
    case_dataset(directory, study, panel, bits)
    l1, l2 = study.split()[1:3]
    with open(os.path.join(directory, "truth.dat"), "w") as f:
        f.write(f"rs1 1000 {l1} {l2} {TRUTH}\nrs3 1500 T C 2 2 1 0 1 1\n"
                f"rs2 2000 C A 1 0 0 2 1 0\n")
    to_vcf.peer(directory)


def truth_table(directory):
    """{name: (REF ALT, ALT counts)} of DIR/truth.vcf and its sample names."""
    _, samples, recs = read_vcf(os.path.join(directory, "truth.vcf"))
    return samples, {r["id"]: (r["ref"] + " " + r["alt"], [alt_count(g) for g in r["gts"]])
                     for r in recs}


class CodingCases(TempDir):
    def test_truth_follows_the_peer_letters(self):
        for name, study, panel, bits, _, _, peer_letters, _ in CASES:
            with self.subTest(case=name):
                d = self.path(name)
                with_truth(d, study, panel, bits)
                truth_vcf.write(d)
                samples, table = truth_table(d)
                self.assertEqual(samples, [f"IND{k}" for k in range(1, 7)])
                counts = [int(c) for c in TRUTH.split()]
                expected = FLIPPED_TRUTH if name in OTHER_STRAND else counts
                self.assertEqual(table["rs1"], (peer_letters, expected))
                self.assertEqual(table["rs2"], ("C A", [1, 0, 0, 2, 1, 0]))
                self.assertEqual(table["rs3"], ("T C", [2, 2, 1, 0, 1, 1]))  # study only

    def test_missing_study_genotypes_at_typed_snps_are_masked(self):
        # (study line, masked entries): typed, typed with a recode flag, monomorphic in
        # the study (so not typed).
        for study, masked in (("0 A G 0 1 9 1 0 9", [(1000, "A", "G", "IND3"),
                                                     (1000, "A", "G", "IND6")]),
                              ("1 A G 9 1 2 1 0 0", [(1000, "A", "G", "IND1")]),
                              ("0 A G 2 2 9 2 2 2", [])):
            with self.subTest(study=study):
                d = self.path(study.replace(" ", "_"))
                with_truth(d, study, "A G 1 0 1 1 1 0", "1 0 0 1 1 0 0 0 1")
                self.assertEqual(truth_vcf.masked(d), masked)
                truth_vcf.write(d)
                with open(os.path.join(d, "masked.tsv")) as f:
                    self.assertEqual(f.read(), "".join(f"1\t{p}\t{r}\t{a}\t{s}\n"
                                                       for p, r, a, s in masked))

    def test_letters_that_do_not_match_stop(self):
        d = self.path("d")
        with_truth(d, f"0 A G {TRUTH}", "A G 1 0 1 1 1 0", "1 0 0 0 0 1 0 0 0")
        with open(os.path.join(d, "truth.dat"), "w") as f:
            f.write(f"rs1 1000 A T {TRUTH}\n")
        with self.assertRaisesRegex(to_vcf.ConversionError, "rs1 has the letters A T"):
            truth_vcf.write(d)
        self.assertFalse(os.path.exists(os.path.join(d, "truth.vcf")))


class GeneratedSet(TempDir):
    def test_typed_genotypes_agree_with_the_truth(self):
        d = self.path("set")
        generate(d, "--seed", "4", "--panel-snps", "400", "--study-fraction", "0.5",
                 "--study-individuals", "30", "--trios", "0", "--singletons", "40",
                 "--ambiguous-fraction", "0.3", "--missing", "0.05", "--truth")
        to_vcf.peer(d)
        truth_vcf.write(d)
        _, _, truth = read_vcf(os.path.join(d, "truth.vcf"))
        _, _, target = read_vcf(os.path.join(d, "target.vcf"))
        _, _, ref = read_vcf(os.path.join(d, "ref.vcf"))
        by_pos = {r["pos"]: r for r in truth}
        with open(os.path.join(d, "truth.dat")) as f:
            self.assertEqual(len(truth), sum(1 for line in f if line.strip()))
        for r in ref:
            self.assertEqual((by_pos[r["pos"]]["ref"], by_pos[r["pos"]]["alt"]),
                             (r["ref"], r["alt"]))
        masked = []
        for r in target:
            true = [alt_count(g) for g in by_pos[r["pos"]]["gts"]]
            for k, code in enumerate(alt_count(g) for g in r["gts"]):
                if code == 9:
                    masked.append((r["pos"], r["ref"], r["alt"], f"IND{k + 1}"))
                else:
                    self.assertEqual(code, true[k], f"position {r['pos']}, sample {k}")
        self.assertGreater(len(masked), 0)
        self.assertEqual(truth_vcf.masked(d), masked)
        self.assertGreater(len(truth_vcf.other_strand(d)), 0)  # the set has such SNPs


if __name__ == "__main__":
    unittest.main()
