"""to_vcf.py: hand-worked allele coding cases, the refusals, and round trips of generated
datasets through the VCF form against the text alignment of check_dataset.py."""

import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.dirname(HERE)
ROOT = os.path.dirname(TOOLS)
sys.dont_write_bytecode = True
sys.path[:0] = [TOOLS, HERE]
import check_dataset  # noqa: E402
import make_dataset  # noqa: E402
import to_vcf  # noqa: E402
from vcf_reading import aligned_vcf, read_vcf  # noqa: E402


def write_dataset(directory, study, panel, haps):
    os.makedirs(directory, exist_ok=True)
    for name, lines in (("genotype.dat", study), ("external.dat", panel),
                        ("haplotype.dat", haps)):
        with open(os.path.join(directory, name), "w") as f:
            f.write("".join(line + "\n" for line in lines))


def generate(directory, *options):
    with contextlib.redirect_stdout(io.StringIO()):
        make_dataset.main(["--outdir", directory, *options])


# The hand-worked datasets: six study individuals; a panel of one trio, one duo and one
# singleton, columns T1_P1 T1_P2 T1_C D1_P D1_C U1, haplotype columns T1_P1 (2), T1_P2
# (2), D1_P (2), D1_C's untransmitted one, U1 (2). Each holds the shared SNP rs1 of the
# case at 1000, the study-only rs3 at 1500 and the panel-only rs2 at 2000.
PLAIN = "0 1 2 1 0 0"
AWAY = "0 0 1 1 0 0"      # study frequency 1/6
NEAR = "1 1 1 1 1 0"      # study frequency 5/12
COUNTS = "1 0 1 1 1 0"    # panel codes of the allele that the haplotype values mark
OTHER = "1 2 1 1 1 2"     # the same genotypes counting the other allele
NEAR_P = "1 1 2 1 1 1"    # panel frequency 7/12
BITS = "1 0 0 0 0 1 0 0 0"
NEAR_BITS = "1 0 0 1 1 0 0 0 1"
# (panel GTs, haplotype VCF GTs) worked out by hand.
AS_IS = ("1|0 0|0 0/1 0|1 1|0 0|0", "1|0 0|0 0|1 0 0|0")      # COUNTS with BITS
FLIPPED = ("0|1 1|1 0/1 1|0 0|1 1|1", "0|1 1|1 1|0 1 1|1")    # OTHER with BITS flipped
NEAR_GTS = ("1|0 0|1 1/1 1|0 1|0 0|1", "1|0 0|1 1|0 0 0|1")   # NEAR_P with NEAR_BITS

CASES = [
    # name, study line after the position, panel line after the position, haplotype
    # values, panel REF ALT, expected GTs, peer ref.vcf letters, study row kept
    ("same coding", f"0 A G {PLAIN}", f"A G {COUNTS}", BITS, "A G", AS_IS, "A G", True),
    ("letters swapped", f"0 A G {PLAIN}", f"G A {OTHER}", BITS, "G A", FLIPPED, "A G", True),
    ("recode flag", f"1 A G {PLAIN}", f"A G {OTHER}", BITS, "G A", FLIPPED, "A G", True),
    ("recode flag, letters swapped", f"1 A G {PLAIN}", f"G A {COUNTS}", BITS, "A G", AS_IS,
     "A G", True),
    ("A/T same side of 0.5", f"0 A T {AWAY}", f"A T {COUNTS}", BITS, "A T", AS_IS, "A T", True),
    ("A/T flipped by frequency", f"0 A T {AWAY}", f"A T {OTHER}", BITS, "A T", FLIPPED, "A T",
     True),
    ("C/G near 0.5 taken out", f"0 C G {NEAR}", f"C G {NEAR_P}", NEAR_BITS, "C G", NEAR_GTS,
     "C G", False),
    ("swapped, study monomorphic", "0 A G 2 2 2 2 2 2", f"G A {OTHER}", BITS, "G A", FLIPPED,
     "A G", True),
]

PED_1_1_1 = """T1 T1_P1 0 0 1 -9
T1 T1_P2 0 0 2 -9
T1 T1_C T1_P1 T1_P2 0 -9
D1 D1_P 0 0 1 -9
D1 D1_C D1_P 0 0 -9
U1 U1 0 0 0 -9
"""


def case_dataset(directory, study, panel, bits):
    write_dataset(directory, [f"rs1 1000 {study}", f"rs3 1500 0 T C 2 2 1 0 9 1"],
                  [f"rs1 1000 {panel}", f"rs2 2000 C A {COUNTS}"],
                  [f"rs1 {bits}", f"rs2 {BITS}"])


class TempDir(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="to_vcf_test_")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)


class CodingCases(TempDir):
    def test_each_allele_coding_case(self):
        for name, study, panel, bits, letters, (pgts, hgts), _, _ in CASES:
            for mode in ("separate", "panel"):
                with self.subTest(case=name, mode=mode):
                    data, out = self.path(name, "text"), self.path(name, mode)
                    case_dataset(data, study, panel, bits)
                    to_vcf.convert([("1", data)], out, mode, (1, 1, 1))
                    _, samples, recs = read_vcf(os.path.join(out, "study.vcf"))
                    self.assertEqual(samples, [f"IND{k}" for k in range(1, 7)])
                    self.assertEqual([(r["id"], r["ref"], r["alt"]) for r in recs],
                                     [("rs1", *study.split()[1:3]), ("rs3", "T", "C")])
                    codes = " ".join(study.split()[3:])
                    gt = {"0": "0/0", "1": "0/1", "2": "1/1"}
                    self.assertEqual(recs[0]["gts"], [gt[c] for c in codes.split()])
                    self.assertEqual(recs[1]["gts"], "1/1 1/1 0/1 0/0 ./. 0/1".split())
                    _, samples, recs = read_vcf(os.path.join(out, "panel.vcf"))
                    self.assertEqual(samples, "T1_P1 T1_P2 T1_C D1_P D1_C U1".split())
                    self.assertEqual([(r["id"], r["pos"], r["ref"] + " " + r["alt"])
                                      for r in recs], [("rs1", 1000, letters),
                                                       ("rs2", 2000, "C A")])
                    self.assertEqual(recs[0]["gts"], pgts.split())
                    self.assertEqual(recs[1]["gts"], AS_IS[0].split())
                    with open(os.path.join(out, "panel.ped")) as f:
                        self.assertEqual(f.read(), PED_1_1_1)
                    hap_path = os.path.join(out, "haplotypes.vcf")
                    if mode == "panel":
                        self.assertFalse(os.path.exists(hap_path))
                        continue
                    _, samples, recs = read_vcf(hap_path)
                    self.assertEqual(samples, "T1_P1 T1_P2 D1_P D1_C U1".split())
                    self.assertEqual([(r["id"], r["ref"] + " " + r["alt"], r["gts"])
                                      for r in recs],
                                     [("rs1", letters, hgts.split()),
                                      ("rs2", "C A", AS_IS[1].split())])

    def test_peer_form_of_each_case(self):
        for name, study, panel, bits, _, _, peer_letters, kept in CASES:
            with self.subTest(case=name):
                data = self.path(name)
                case_dataset(data, study, panel, bits)
                to_vcf.peer(data)
                _, _, ref = read_vcf(os.path.join(data, "ref.vcf"))
                self.assertEqual([(r["id"], r["ref"] + " " + r["alt"]) for r in ref],
                                 [("rs1", peer_letters), ("rs2", "C A")])
                values = bits.split()
                self.assertEqual(ref[0]["gts"], [f"{values[k]}|{values[k + 1]}"
                                                 for k in range(0, 8, 2)])
                _, _, target = read_vcf(os.path.join(data, "target.vcf"))
                polymorphic = len(set(study.split()[3:])) > 1
                self.assertEqual([r["id"] for r in target],
                                 ["rs1"] if kept and polymorphic else [])

    def test_missing_and_disagreeing_codes_stay_unphased_in_separate_mode(self):
        # T1_P2 missing, T1_C missing, U1 coded 2 against haplotypes 0 0, D1_C coded 2
        # against an untransmitted 1 (fits) and D1_P coded 0 against 0 1 (does not).
        case_dataset(self.path("d"), f"0 A G {PLAIN}", "A G 1 9 9 0 2 2", "1 0 0 0 0 1 1 0 0")
        to_vcf.convert([("1", self.path("d"))], self.path("out"), "separate", (1, 1, 1))
        _, _, recs = read_vcf(self.path("out", "panel.vcf"))
        self.assertEqual(recs[0]["gts"], "1|0 ./. ./. 0/0 1|1 1/1".split())
        _, _, recs = read_vcf(self.path("out", "haplotypes.vcf"))
        self.assertEqual(recs[0]["gts"], "1|0 0|0 0|1 1 0|0".split())


class Refusals(TempDir):
    REFUSED = [
        # name, panel codes, haplotype values, words that the message must hold
        ("parent missing", "1 9 1 1 1 0", BITS, ["rs1", "T1_P2", "code 9"]),
        ("singleton disagrees", "1 0 1 1 1 2", BITS, ["rs1", "U1", "code 2", "0|0"]),
        ("duo parent disagrees", "1 0 1 2 1 0", BITS, ["rs1", "D1_P", "code 2", "0|1"]),
        ("duo child beyond its untransmitted", "1 0 1 1 2 0", BITS,
         ["rs1", "D1_C", "code 2", "untransmitted 0"]),
        ("duo child below its untransmitted", "1 0 1 1 0 0", "1 0 0 0 0 1 1 0 0",
         ["rs1", "D1_C", "code 0", "untransmitted 1"]),
        ("duo child missing", "1 0 1 1 9 0", BITS, ["rs1", "D1_C", "code 9"]),
    ]

    def test_panel_mode_refuses_codes_that_one_phased_gt_cannot_hold(self):
        for name, codes, bits, words in self.REFUSED:
            with self.subTest(case=name):
                data, out = self.path(name), self.path(name, "out")
                case_dataset(data, f"0 A G {PLAIN}", f"A G {codes}", bits)
                with self.assertRaises(to_vcf.ConversionError) as cm:
                    to_vcf.convert([("1", data)], out, "panel", (1, 1, 1))
                for word in words + ["--haplotypes separate"]:
                    self.assertIn(word, str(cm.exception))
                self.assertFalse(os.path.exists(os.path.join(out, "study.vcf")))
                self.assertFalse(os.path.exists(os.path.join(out, "panel.vcf.part")))
                to_vcf.convert([("1", data)], out, "separate", (1, 1, 1))

    def test_panel_mode_takes_a_missing_trio_child_and_snps_without_haplotypes(self):
        case_dataset(self.path("d"), f"0 A G {PLAIN}", "A G 1 0 9 1 1 0", BITS)
        with open(self.path("d", "haplotype.dat"), "w") as f:
            f.write(f"rs1 {BITS}\n")
        with open(self.path("d", "external.dat"), "a") as f:
            f.write("rs4 3000 A C 9 9 9 9 9 9\n")
        to_vcf.convert([("1", self.path("d"))], self.path("out"), "panel", (1, 1, 1))
        _, _, recs = read_vcf(self.path("out", "panel.vcf"))
        self.assertEqual([r["gts"] for r in recs],
                         ["1|0 0|0 ./. 0|1 1|0 0|0".split(), "0/1 0/0 0/1 0/1 0/1 0/0".split(),
                          ["./."] * 6])

    def test_datasets_that_vcf_cannot_hold_alike(self):
        cases = [
            # name, study rs1 line, panel rs1 line, words of the message
            ("recode A/T", f"1 A T {AWAY}", f"A T {OTHER}", ["rs1", "recode", "A T"]),
            ("recode C/G swapped", f"1 C G {AWAY}", f"G C {COUNTS}", ["rs1", "recode"]),
            ("recode, other letters", f"1 A G {PLAIN}", f"C T {OTHER}",
             ["rs1", "align differently"]),
            ("not a base", f"0 A G {PLAIN}", f"A N {COUNTS}", ["rs1", "A N"]),
        ]
        for name, study, panel, words in cases:
            with self.subTest(case=name):
                case_dataset(self.path(name), study, panel, BITS)
                with self.assertRaises(to_vcf.ConversionError) as cm:
                    to_vcf.convert([("1", self.path(name))], self.path(name, "out"), "separate",
                                   (1, 1, 1))
                for word in words:
                    self.assertIn(word, str(cm.exception))

    def test_positions_below_one_and_haplotype_rows_out_of_order(self):
        case_dataset(self.path("pos"), f"0 A G {PLAIN}", f"A G {COUNTS}", BITS)
        with open(self.path("pos", "genotype.dat"), "w") as f:
            f.write(f"rs0 0 0 A G {PLAIN}\n")
        case_dataset(self.path("order"), f"0 A G {PLAIN}", f"A G {COUNTS}", BITS)
        with open(self.path("order", "haplotype.dat"), "w") as f:
            f.write(f"rs2 {BITS}\nrs1 {BITS}\n")
        for name, words in (("pos", ["rs0", "position 0"]), ("order", ["rs1", "order"])):
            with self.subTest(case=name), self.assertRaises(to_vcf.ConversionError) as cm:
                to_vcf.convert([("1", self.path(name))], self.path("out"), "separate",
                               (1, 1, 1))
            for word in words:
                self.assertIn(word, str(cm.exception))


class PanelStructure(unittest.TestCase):
    def test_trios_duos_and_singletons_from_the_column_counts(self):
        cases = [
            # panel columns, haplotype columns, --panel, expected (None: refused)
            (90, 120, None, (30, 0, 0)),
            (300, 600, None, (0, 0, 300)),
            (29, 44, None, None),          # 5 4 6 and others fit
            (29, 44, (5, 4, 6), (5, 4, 6)),
            (29, 44, (5, 4, 7), None),
            (5, 20, None, None),           # nothing fits
            (6, None, None, None),         # no haplotype rows to tell
            (6, None, (1, 1, 1), (1, 1, 1)),
        ]
        for members, haps, given, expected in cases:
            with self.subTest(members=members, haps=haps, given=given):
                if expected is None:
                    with self.assertRaises(to_vcf.ConversionError):
                        to_vcf.infer_structure(members, haps, given)
                else:
                    self.assertEqual(to_vcf.infer_structure(members, haps, given), expected)

    def test_sample_names_and_ped_of_a_larger_panel(self):
        st = to_vcf.Structure(2, 2, 2)
        self.assertEqual(st.names, "T1_P1 T1_P2 T1_C T2_P1 T2_P2 T2_C D1_P D1_C D2_P D2_C "
                                   "U1 U2".split())
        self.assertEqual(st.ped[3:], [
            "T2 T2_P1 0 0 1 -9", "T2 T2_P2 0 0 2 -9", "T2 T2_C T2_P1 T2_P2 0 -9",
            "D1 D1_P 0 0 1 -9", "D1 D1_C D1_P 0 0 -9", "D2 D2_P 0 0 1 -9",
            "D2 D2_C D2_P 0 0 -9", "U1 U1 0 0 0 -9", "U2 U2 0 0 0 -9"])
        self.assertEqual(st.n_haps, 4 * 2 + 3 * 2 + 2 * 2)


class RoundTrip(TempDir):
    """Generated datasets through the VCF form and back, aligned by letters, against
    check_dataset's alignment of the text files."""

    SIZE = ["--panel-snps", "300", "--study-individuals", "30", "--trios", "3", "--duos", "4",
            "--singletons", "5", "--swap-fraction", "0.1", "--recode-fraction", "0.1",
            "--ambiguous-fraction", "0.3", "--strand-fraction", "0.7", "--study-only", "10"]

    def text_alignment(self, data):
        errors = []
        s = check_dataset.Table(os.path.join(data, "genotype.dat"), "study", errors)
        p = check_dataset.Table(os.path.join(data, "external.dat"), "panel", errors)
        h = check_dataset.Table(os.path.join(data, "haplotype.dat"), "hap", errors)
        self.assertEqual(errors, [])
        shared, kept = check_dataset.aligned_pairs(s, p, h)
        return s, p, h, shared, kept

    def round_trip(self, data, out, hap_name):
        s, p, h, shared, kept = self.text_alignment(data)
        study, panel, vcf_kept = aligned_vcf(out, hap_name=hap_name)
        self.assertEqual(study, {r[0]: r[4] for r in s.rows})
        with_haps = {name for name, (_, row) in panel.items() if row is not None}
        self.assertEqual(with_haps, {p.rows[k][0] for k in kept})
        self.assertEqual(vcf_kept & with_haps, {p.rows[k][0] for _, k, _ in shared})
        for k, (j, codes) in kept.items():
            name = p.rows[k][0]
            self.assertEqual(panel[name], (codes, h.rows[j][4]), name)
        # the data hold every case of the alignment
        shared_pos = {r[1] for r in s.rows} & {r[1] for r in p.rows}
        paired = {r[0] for r in p.rows if r[1] in shared_pos}
        self.assertTrue(paired - vcf_kept, "no SNP taken out of the study")
        cases = {(p.rows[k][3], s.rows[sr][2], p.rows[k][3][0] == s.rows[sr][3][0],
                  p.rows[k][4] == codes) for sr, k, codes in shared}
        self.assertTrue(any(c[0] in ("AT", "CG") and not c[3] for c in cases), "no A/T flip")
        self.assertTrue(any(c[1] == 1 for c in cases), "no recode flag")
        self.assertTrue(any(not c[2] for c in cases), "no swapped letters")

    def test_separate_haplotypes_with_missing_codes(self):
        for seed in ("2", "5"):
            with self.subTest(seed=seed):
                data, out = self.path(seed), self.path(seed, "vcf")
                generate(data, "--seed", seed, *self.SIZE)
                to_vcf.convert([("1", data)], out, "separate", (3, 4, 5))
                self.round_trip(data, out, "haplotypes.vcf")

    def test_haplotypes_in_the_panel_without_missing_panel_codes(self):
        data, out = self.path("d"), self.path("vcf")
        generate(data, "--seed", "3", "--panel-missing", "0", *self.SIZE)
        to_vcf.convert([("1", data)], out, "panel", (3, 4, 5))
        self.round_trip(data, out, None)
        # the same data written separately hold the same haplotypes
        to_vcf.convert([("1", data)], self.path("sep"), "separate", (3, 4, 5))
        self.assertEqual(aligned_vcf(out, hap_name=None),
                         aligned_vcf(self.path("sep"), hap_name="haplotypes.vcf"))

    def test_contigs_from_several_datasets(self):
        generate(self.path("a"), "--seed", "2", *self.SIZE)
        generate(self.path("b"), "--seed", "4", *self.SIZE)
        to_vcf.convert([("chrB", self.path("b")), ("chrA", self.path("a"))], self.path("ab"),
                       "separate", (3, 4, 5))
        for name in ("a", "b"):
            to_vcf.convert([("1", self.path(name))], self.path(name + "1"), "separate",
                           (3, 4, 5))
        for vcf in ("study.vcf", "panel.vcf", "haplotypes.vcf"):
            contigs, samples, recs = read_vcf(self.path("ab", vcf))
            self.assertEqual(contigs, ["chrB", "chrA"])
            single = []
            for name, contig in (("b", "chrB"), ("a", "chrA")):
                _, alone, part = read_vcf(self.path(name + "1", vcf))
                self.assertEqual(samples, alone)
                single += [dict(r, chrom=contig) for r in part]
            self.assertEqual(recs, single)
        generate(self.path("c"), "--seed", "2", *self.SIZE[:3], "31", *self.SIZE[4:])
        with self.assertRaises(to_vcf.ConversionError):
            to_vcf.convert([("chrA", self.path("a")), ("chrC", self.path("c"))],
                           self.path("ac"), "separate", (3, 4, 5))


@unittest.skipUnless(shutil.which("bgzip") and shutil.which("tabix") and shutil.which("bcftools"),
                     "needs bgzip, tabix and bcftools (Debian packages tabix, bcftools)")
class Htslib(TempDir):
    def test_bcftools_reads_every_file(self):
        generate(self.path("d"), "--seed", "6", *RoundTrip.SIZE)
        to_vcf.convert([("1", self.path("d"))], self.path("plain"), "separate", (3, 4, 5))
        paths = to_vcf.convert([("chr1", self.path("d")), ("chr2", self.path("d"))],
                               self.path("gz"), "separate", (3, 4, 5), bgzip=True)
        vcfs = [p for p in paths if ".vcf" in p]
        self.assertEqual(len(vcfs), 3)
        for path in vcfs + [self.path("plain", f) for f in ("study.vcf", "panel.vcf",
                                                            "haplotypes.vcf")]:
            with self.subTest(path=path):
                run = subprocess.run(["bcftools", "view", "-H", path], capture_output=True,
                                     text=True)
                self.assertEqual((run.returncode, run.stderr), (0, ""))
                self.assertTrue(run.stdout)
        for path in vcfs:
            self.assertTrue(os.path.exists(path + ".tbi"))
            run = subprocess.run(["bcftools", "view", "-H", "-r", "chr2", path],
                                 capture_output=True, text=True, check=True)
            self.assertEqual({line.split("\t")[0] for line in run.stdout.splitlines()},
                             {"chr2"})

    def test_example_files_are_made_again(self):
        to_vcf.convert([("1", os.path.join(ROOT, "examples"))], self.path("ex"), "separate",
                       None, bgzip=True)
        version = subprocess.run(["bgzip", "--version"], capture_output=True, text=True).stdout
        names = ["study.vcf.gz", "panel.vcf.gz", "haplotypes.vcf.gz"]
        for name in names:
            with self.subTest(name=name):
                self.assertEqual(read_vcf(self.path("ex", name)),
                                 read_vcf(os.path.join(ROOT, "examples", name)))
        with open(self.path("ex", "panel.ped")) as f, \
                open(os.path.join(ROOT, "examples", "panel.ped")) as g:
            self.assertEqual(f.read(), g.read())
        if "htslib) 1.16" not in version:
            self.skipTest("the bytes of the example files are those of bgzip 1.16")
        for name in names + [n + ".tbi" for n in names]:
            with open(self.path("ex", name), "rb") as f, \
                    open(os.path.join(ROOT, "examples", name), "rb") as g:
                self.assertEqual(f.read(), g.read(), name)


class CommandLine(TempDir):
    def test_forms_of_the_command_line(self):
        cases = [
            (["d", "o"], [("1", "d")], "o"),
            (["d", "o", "--contig", "chr7"], [("chr7", "d")], "o"),
            (["o", "--contig", "x=d1", "--contig", "y=d2"], [("x", "d1"), ("y", "d2")], "o"),
            (["d"], None, None),
            (["d", "o", "--contig", "x=d1"], None, None),
            (["o", "--contig", "x"], None, None),
            (["o", "--contig", "x=d1", "--contig", "x=d2"], None, None),
            (["d", "o", "--contig", "chr 1"], None, None),
            (["--peer", "d", "--bgzip"], None, None),
        ]
        for argv, sets, out in cases:
            with self.subTest(argv=argv):
                if sets is None:
                    with self.assertRaises(SystemExit), \
                            contextlib.redirect_stderr(io.StringIO()):
                        to_vcf.parse_args(argv)
                else:
                    a = to_vcf.parse_args(argv)
                    self.assertEqual((a.sets, a.out), (sets, out))

    def test_script_reports_a_refusal_in_one_line(self):
        case_dataset(self.path("d"), f"0 A G {PLAIN}", "A G 1 9 1 1 1 0", BITS)
        run = subprocess.run([sys.executable, os.path.join(TOOLS, "to_vcf.py"), self.path("d"),
                              self.path("o"), "--haplotypes", "panel", "--panel", "1", "1", "1"],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(len(run.stderr.splitlines()), 1)
        self.assertTrue(run.stderr.startswith("to_vcf: "))


if __name__ == "__main__":
    unittest.main()
