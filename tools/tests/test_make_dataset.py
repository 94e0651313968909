"""make_dataset.py: the bundled example made again byte for byte, the panel's own share of
missing codes, sparse stretches, and a truth file that covers every SNP."""

import contextlib
import io
import os
import re
import shlex
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.dirname(HERE)
ROOT = os.path.dirname(TOOLS)
sys.dont_write_bytecode = True
sys.path.insert(0, TOOLS)
import make_dataset  # noqa: E402

FILES = ("genotype.dat", "external.dat", "haplotype.dat")


def example_command():
    """The generator's options in the command of examples/README.md, without --outdir."""
    with open(os.path.join(ROOT, "examples", "README.md")) as f:
        text = f.read()
    block = re.search(r"```sh\n(python3 tools/make_dataset.py .*?)\n```", text, re.S).group(1)
    argv = shlex.split(block.replace("\\\n", " "))[2:]
    k = argv.index("--outdir")
    return argv[:k] + argv[k + 2:]


def rows(path):
    with open(path) as f:
        return [line.split() for line in f]


class Generated(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="make_dataset_test_")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def generate(self, name, *argv):
        out = os.path.join(self.tmp, name)
        with contextlib.redirect_stdout(io.StringIO()):
            make_dataset.main(["--outdir", out, *argv])
        return out

    def read(self, out, name):
        return rows(os.path.join(out, name))

    def test_example_made_again_byte_for_byte(self):
        for name, extra in (("documented", []), ("panel-missing as --missing",
                                                 ["--panel-missing", "0.02"])):
            with self.subTest(command=name):
                out = self.generate(name, *example_command(), *extra)
                for f in FILES:
                    with open(os.path.join(out, f), "rb") as a, \
                            open(os.path.join(ROOT, "examples", f), "rb") as b:
                        self.assertEqual(a.read(), b.read(), f)

    def test_panel_and_study_missing_shares(self):
        cases = [
            # --missing, --panel-missing, (low, high) share of 9 among study codes, panel codes
            ("0.1", None, (0.07, 0.13), (0.07, 0.13)),
            ("0.1", "0", (0.07, 0.13), (0.0, 0.0)),
            ("0", "0.2", (0.0, 0.0), (0.16, 0.24)),
        ]
        for missing, panel_missing, study_share, panel_share in cases:
            with self.subTest(missing=missing, panel_missing=panel_missing):
                extra = ["--panel-missing", panel_missing] if panel_missing else []
                out = self.generate(f"m{missing}_{panel_missing}", "--seed", "4", "--trios",
                                    "4", "--duos", "3", "--singletons", "5", "--missing",
                                    missing, *extra)
                for name, fixed, (low, high) in (("genotype.dat", 5, study_share),
                                                 ("external.dat", 4, panel_share)):
                    codes = [c for r in self.read(out, name) for c in r[fixed:]]
                    share = codes.count("9") / len(codes)
                    self.assertTrue(low <= share <= high, f"{name}: {share:.3f}")

    def test_sparse_stretches(self):
        base = ["--seed", "8", "--panel-snps", "1500", "--study-only", "20",
                "--region-bp", "1000000", "--start-pos", "1000000", "--trios", "2"]
        cases = [
            # --sparse ranges, (range, lowest and highest SNP count inside)
            (["1200000-1599999:0.05"], (1200000, 1599999, 10, 70)),
            (["1200000-1599999:0"], (1200000, 1599999, 0, 0)),
            (["1100000-1399999:0.5", "1300000-1399999:0.2"], (1300000, 1399999, 5, 40)),
        ]
        for sparse, (lo, hi, fewest, most) in cases:
            with self.subTest(sparse=sparse):
                argv = list(base)
                for s in sparse:
                    argv += ["--sparse", s]
                out = self.generate("_".join(sparse), *argv)
                panel, study = self.read(out, "external.dat"), self.read(out, "genotype.dat")
                self.assertEqual(len(panel), 1500)
                self.assertEqual(len({r[1] for r in study} - {r[1] for r in panel}), 20)
                inside = sum(1 for r in panel if lo <= int(r[1]) <= hi)
                self.assertTrue(fewest <= inside <= most, inside)
                outside = sum(1 for r in panel if 1000000 <= int(r[1]) < 1100000)
                self.assertGreater(outside, 150)  # about 1500 / 0.72 * 0.1 elsewhere

    def test_bad_sparse_ranges_are_refused(self):
        for value in ("1200000-1100000:0.1", "1-5:1.5", "a-b:0.1", "1-5", "1-5:x"):
            with self.subTest(value=value), self.assertRaises(SystemExit), \
                    contextlib.redirect_stderr(io.StringIO()):
                make_dataset.parse_args(["--sparse", value])
        with self.assertRaises(SystemExit), contextlib.redirect_stderr(io.StringIO()):
            make_dataset.parse_args(["--region-bp", "1000", "--panel-snps", "600",
                                     "--sparse", "1000000-1000499:0"])

    def test_truth_covers_every_snp(self):
        out = self.generate("truth", "--seed", "9", "--truth", "--duos", "2", "--singletons",
                            "3", "--hap-missing", "10")
        study, panel = self.read(out, "genotype.dat"), self.read(out, "external.dat")
        truth = self.read(out, "truth.dat")
        by_name = {r[0]: r for r in truth}
        self.assertEqual(set(by_name), {r[0] for r in study} | {r[0] for r in panel})
        self.assertEqual([int(r[1]) for r in truth], sorted(int(r[1]) for r in truth))
        n = len(study[0]) - 5
        self.assertTrue(all(len(r) == 4 + n for r in truth))
        for r in study:
            t = by_name[r[0]]
            self.assertEqual((t[1], t[2], t[3]), (r[1], r[3], r[4]))
            self.assertTrue(all(c in ("9", v) for c, v in zip(r[5:], t[4:])), r[0])
        untyped = [by_name[r[0]] for r in panel if r[1] not in {s[1] for s in study}]
        self.assertGreater(len(untyped), 100)
        codes = [c for t in untyped for c in t[4:]]
        self.assertNotIn("9", codes)
        self.assertEqual(set(codes), {"0", "1", "2"})
        for r in panel:
            if r[0] in {t[0] for t in untyped}:
                self.assertEqual(by_name[r[0]][2:4], r[2:4])


if __name__ == "__main__":
    unittest.main()
