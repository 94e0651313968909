#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Valid seeds are a few lines and columns cut from the bundled example
(examples/*.dat, examples/*.vcf.gz) and the hand-typed end-to-end case; the
malformed ones each break one rule of an input format. Run from anywhere:
    python3 fuzz/make_seeds.py
The layout of each target's input (its first bytes choose modes and options)
is described at the top of fuzz/<target>.cpp.
"""
import gzip
import os
import shutil

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EX = os.path.join(ROOT, "examples")
OUT = os.path.join(ROOT, "fuzz", "corpus")


def lines_of(name):
    path = os.path.join(EX, name)
    opener = gzip.open if name.endswith(".gz") else open
    with opener(path, "rt") as f:
        return f.read().splitlines()


def cut_text(lines, nrows, fixed, ncols):
    """The first nrows lines with the fixed fields and ncols columns after them."""
    out = []
    for line in lines[:nrows]:
        f = line.split()
        out.append(" ".join(f[:fixed + ncols]))
    return "\n".join(out) + "\n"


def cut_vcf(lines, nrows, samples=None, keep=None):
    """Header lines and the first nrows records with the sample columns picked
    by index list `samples` (all when None); keep(fields) filters records."""
    head = [l for l in lines if l.startswith("##")]
    cols = next(l for l in lines if l.startswith("#CHROM")).split("\t")
    pick = list(range(9, len(cols))) if samples is None else [9 + s for s in samples]
    out = head + ["\t".join(cols[:9] + [cols[i] for i in pick])]
    n = 0
    for l in lines:
        if l.startswith("#"):
            continue
        f = l.split("\t")
        if keep is not None and not keep(f):
            continue
        out.append("\t".join(f[:9] + [f[i] for i in pick]))
        n += 1
        if n == nrows:
            break
    return "\n".join(out) + "\n"


def write(target, name, data):
    d = os.path.join(OUT, target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def main():
    if os.path.isdir(OUT):
        shutil.rmtree(OUT)
    study = lines_of("genotype.dat")
    panel = lines_of("external.dat")
    haps = lines_of("haplotype.dat")
    svcf = lines_of("study.vcf.gz")
    pvcf = lines_of("panel.vcf.gz")
    hvcf = lines_of("haplotypes.vcf.gz")
    ped = lines_of("panel.ped")

    # ---- study text: the file
    s6 = cut_text(study, 6, 5, 10)
    write("fuzz_study", "example_head", s6)
    write("fuzz_study", "hand_typed", "rsA 100 0 A G 2 0 2 0 9 2 0\nrsT 200 0 C T 2 0 2 0 9 9 9\n")
    write("fuzz_study", "crlf_tabs_recode",
          "rsA\t100\t1\tA\tG\t2 0 1\r\nrsB  150 0 C T 01 +1 9\r\n\n   \nrsC 150 -1 G T 0 0 0")
    write("fuzz_study", "bad_code", "rsA 100 0 A G 2 0 3\n")
    write("fuzz_study", "long_first_code", "rsA 100 0 A G 02 0 1\n")
    write("fuzz_study", "position_overflow", "rsA 300000000 0 A G 2 0 1\nrsB 99999999999 0 A G 1 1 1\n")
    write("fuzz_study", "decreasing", "rsA 200 0 A G 2 0 1\nrsB 100 0 A G 1 1 1\n")
    write("fuzz_study", "short_last_row", "rsA 100 0 A G 2 0 1\nrsB 200 0 A G 1 1\n")
    write("fuzz_study", "long_name", "rs0123456789012345678901234567 100 0 A G 2 0 1\n")
    write("fuzz_study", "fields_over_lines", "rsA 100\n0 A G 2 0 1\nrsB 200 0 A G 1 1 1\n")
    write("fuzz_study", "blank", "  \n\t\n")

    # ---- panel text: the structure byte (trios, duos, singletons: 2 bits each), then the file
    p6 = cut_text(panel, 6, 4, 6)
    write("fuzz_panel", "two_trios", b"\x02" + p6.encode())
    write("fuzz_panel", "trio_duo_single", b"\x15" + cut_text(panel, 5, 4, 6).encode())
    write("fuzz_panel", "wrong_columns", b"\x01" + cut_text(panel, 3, 4, 4).encode())
    write("fuzz_panel", "bad_allele", b"\x10rsA 100 AC G 1\n")
    write("fuzz_panel", "no_codes", b"\x10rsA 100 A G\nrsB 200 A G 1\n")

    # ---- haplotype text: the file
    h6 = cut_text(haps, 6, 1, 8)
    write("fuzz_haplotypes", "example_head", h6)
    write("fuzz_haplotypes", "value_two", "rsA 0 1 2 1\n")
    write("fuzz_haplotypes", "long_first_value", "rsA 0 01 1\nrsB 0 1 1\n")
    write("fuzz_haplotypes", "short_row", "rsA 0 1 1 1\nrsB 0 1\n")
    write("fuzz_haplotypes", "name_only", "rsA\nrsB 0 1\n")

    # ---- text across the block boundary: reader and boundary byte, structure byte, the file
    # byte 0 = reader | how << 2 | line << 4 (see fuzz_text_block.cpp)
    write("fuzz_text_block", "study_break_first_in_block", bytes([0 | 0 << 2 | 0 << 4, 0]) + s6.encode())
    write("fuzz_text_block", "study_break_last_in_block", bytes([0 | 1 << 2 | 2 << 4, 0]) + s6.encode())
    write("fuzz_text_block", "panel_break_second_in_block", bytes([1 | 2 << 2 | 3 << 4, 2]) + p6.encode())
    write("fuzz_text_block", "haplotypes_mid_line", bytes([2 | 3 << 2 | 1 << 4, 0]) + h6.encode())
    write("fuzz_text_block", "study_no_final_break_at_block_end",
          bytes([0 | 3 << 2 | 15 << 4, 0]) + b"rsA 100 0 A G 2 0 1")

    # ---- ped: the sample ids, then the file
    ids = "T1_P1 T1_P2 T1_C T2_P1 T2_P2 T2_C S1 S2\n"
    fam = "\n".join(ped[:6]) + "\n"
    write("fuzz_ped", "two_trios_two_singles", ids + fam)
    write("fuzz_ped", "duo_and_outside_parent",
          ids + "# comment\nF T1_C T1_P1 X9 0 -9\nF S1 0 T2_P2 2 -9\n\nF S2 0 0 0 0\n")
    write("fuzz_ped", "five_fields", ids + "F T1_C T1_P1 T1_P2 0\n")
    write("fuzz_ped", "unknown_individual", ids + "F NOBODY 0 0 0 0\n")
    write("fuzz_ped", "listed_again", ids + "F S1 0 0 0 0\nG S1 0 0 0 0\n")
    write("fuzz_ped", "own_parent", ids + "F S1 S1 0 0 0\n")
    write("fuzz_ped", "two_units", ids + "F T1_C T1_P1 T1_P2 0 0\nF T2_C T1_P1 T2_P2 0 0\n")

    # ---- VCF: mode byte, the file, optionally "===" and a ped file
    sv = cut_vcf(svcf, 5, samples=range(5))
    pv = cut_vcf(pvcf, 5, samples=range(6))
    hv = cut_vcf(hvcf, 5, samples=range(4))
    pedv = "\n".join(ped[:6]) + "\n"
    for mode, name in ((0, "study"), (4, "study_bgzf"), (8, "study_bcf"), (12, "study_bcf_bgzf")):
        write("fuzz_vcf", name, bytes([mode]) + sv.encode())
    for mode, name in ((1, "panel"), (0x21, "panel_ped"), (0x31, "panel_ped_own"),
                       (0x11, "panel_own"), (0x39, "panel_ped_own_bcf"), (0x25, "panel_ped_bgzf")):
        write("fuzz_vcf", name, bytes([mode]) + (pv + "===\n" + pedv).encode())
    for mode, name in ((0x42, "haplotypes"), (0x0a, "haplotypes_bcf"), (0x06, "haplotypes_bgzf")):
        write("fuzz_vcf", name, bytes([mode]) + hv.encode())
    head = ("##fileformat=VCFv4.2\n##contig=<ID=chr1,length=2000>\n##contig=<ID=2>\n"
            "##FILTER=<ID=q10,Description=\"low\">\n"
            "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
            "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\n")
    odd = head + (
        "chr1\t10\trs1;rs1b\tA\tG\t.\tPASS\t.\tGT\t0/1\t1/1\n"
        "chr1\t11\t.\tA\tG,T\t.\tPASS\t.\tGT\t0/2\t1/1\n"
        "chr1\t12\t.\tAC\tG\t.\t.\t.\tGT\t0/1\t1/1\n"
        "chr1\t13\t.\tA\t<DEL>\t.\t.\t.\tGT\t0/1\t1/1\n"
        "chr1\t14\t.\tc\tt\t.\tq10\t.\tGT\t0/1\t1/1\n"
        "chr1\t15\t.\tC\t*\t.\t.\t.\tGT\t0/1\t1/1\n"
        "chr1\t16\t.\tN\tA\t.\t.\t.\tGT\t./.\t1|1\n"
        "2\t5\t.\tg\tc\t.\t.\t.\tGT\t0|1\t.|1\n")
    for mode, name in ((0, "skips_study"), (0x11, "skips_panel_own"), (2, "skips_haplotypes"),
                       (8, "skips_study_bcf")):
        write("fuzz_vcf", name, bytes([mode]) + odd.encode())
    write("fuzz_vcf", "mixed_ploidy_haplotypes", b"\x02" + (head + (
        "chr1\t10\t.\tA\tG\t.\tPASS\t.\tGT\t0\t0|1\n"
        "chr1\t20\t.\tA\tG\t.\tPASS\t.\tGT\t1\t1|1\n")).encode())
    write("fuzz_vcf", "contig_comes_back", b"\x00" + (head + (
        "chr1\t10\t.\tA\tG\t.\tPASS\t.\tGT\t0/1\t1/1\n"
        "2\t10\t.\tA\tG\t.\tPASS\t.\tGT\t0/1\t1/1\n"
        "chr1\t20\t.\tA\tG\t.\tPASS\t.\tGT\t0/1\t1/1\n")).encode())
    write("fuzz_vcf", "out_of_order", b"\x00" + (head + (
        "chr1\t20\t.\tA\tG\t.\tPASS\t.\tGT\t0/1\t1/1\n"
        "chr1\t10\t.\tA\tG\t.\tPASS\t.\tGT\t0/1\t1/1\n")).encode())
    write("fuzz_vcf", "undefined_contig", b"\x00" + (head + (
        "3\t20\t.\tA\tG\t.\tPASS\t.\tGT\t0/1\t1/1\n")).encode())
    write("fuzz_vcf", "truncated_header", b"\x00" + head[:120].encode())
    write("fuzz_vcf", "no_samples", b"\x00" + (
        "##fileformat=VCFv4.2\n##contig=<ID=1>\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n"
        "1\t5\t.\tA\tG\t.\t.\t.\n").encode())
    write("fuzz_vcf", "no_gt", b"\x01" + (head + "chr1\t10\t.\tA\tG\t.\tPASS\t.\t.\t.\t.\n").encode())

    # ---- whole run: 4 option bytes, study === panel === haplotypes === ped
    # byte 0: -tag 4 (3), .out; byte 1: -panel 2 0 0; byte 2: -max 15; byte 3: -window 50000 -min 8
    prow = panel[:14]
    names = {l.split()[0] for l in prow}
    last = int(prow[-1].split()[1])
    srows = [l for l in study if int(l.split()[1]) <= last]
    hrows = [l for l in haps if l.split()[0] in names]
    st = cut_text(srows, len(srows), 5, 8)
    pt = cut_text(prow, len(prow), 4, 6)
    ht = cut_text(hrows, len(hrows), 1, 8)
    text_run = st + "===\n" + pt + "===\n" + ht
    write("fuzz_run", "text_trios", bytes([3, 2, 0xF0, 0x68]) + text_run.encode())
    write("fuzz_run", "text_trios_vcfgz_threads", bytes([3 | 2 << 3 | 0x20, 2, 0xF0, 0x68]) + text_run.encode())
    write("fuzz_run", "text_trios_bcf_tag2", bytes([1 | 3 << 3, 2, 0x80, 0x44]) + text_run.encode())
    write("fuzz_run", "text_trios_vcf_nofix", bytes([2 | 1 << 3 | 0x40 | 0x80, 2, 0xF0, 0x68]) + text_run.encode())
    hand = ("rsA 100 0 A G 2 0 2 0 9 2 0\nrsT 200 0 C T 2 0 2 0 9 9 9\n===\n"
            "rsA 100 A G 1 1\nrsT 200 C T 1 1\n===\nrsA 0 0 1 1\nrsT 0 0 1 1\n")
    write("fuzz_run", "hand_typed", bytes([0, 0x20, 0xF0, 0x68]) + hand.encode())
    write("fuzz_run", "panel_mismatch", bytes([3, 1, 0xF0, 0x68]) + text_run.encode())
    keep = lambda f: int(f[1]) <= last
    sv = cut_vcf(svcf, 40, samples=range(8), keep=keep)
    pv = cut_vcf(pvcf, 14, samples=range(6))
    hv = cut_vcf(hvcf, 14, samples=range(4), keep=keep)
    pedv = "\n".join(ped[:6]) + "\n"
    vcf_run = sv + "===\n" + pv + "===\n" + hv + "===\n" + pedv
    # -ped (byte 2 bit 3), no -panel (byte 1 bit 6)
    write("fuzz_run", "vcf_ped", bytes([3, 0x40, 0xF8, 0x68]) + vcf_run.encode())
    write("fuzz_run", "vcf_ped_vcfgz", bytes([3 | 2 << 3, 0x40, 0xF8 | 7, 0x68]) + vcf_run.encode())
    # the panel's own haplotypes: no -hfile (byte 1 bit 7)
    write("fuzz_run", "vcf_own_haplotypes", bytes([3 | 3 << 3, 0xC0, 0xF8, 0x68]) + vcf_run.encode())
    write("fuzz_run", "vcf_singletons", bytes([3, 0x40, 0xF0, 0x68]) + vcf_run.encode())
    mixed = st + "===\n" + pv + "===\n" + hv + "===\n" + pedv
    write("fuzz_run", "text_study_vcf_panel", bytes([3 | 1 << 3, 0x40, 0xF8, 0x68]) + mixed.encode())

    # ---- region runs: 4 option bytes, study === panel === haplotypes === ped
    # byte 0: study form | panel form << 3 | 0x40 no -hfile | 0x80 -ped; byte 1: haplotype
    # form | contig << 3 ("1", "chr1", "2", "X") | window << 5 (0 10 1000 5000 50000 ...);
    # byte 2: start | length << 4 (indexes into the tables of fuzz_region.cpp); byte 3:
    # -min | (-max - 4) << 4. Forms: 0 VCF, 1 VCF.gz + tbi, 2 BCF + csi, 3 VCF.gz,
    # 4 BCF, 5 pipe of text, 6 pipe of VCF.gz, 7 VCF.gz + an index older than it.
    every = lambda n: (lambda f, c=[0]: (c.__setitem__(0, c[0] + 1), c[0] % n == 1 or n == 1)[1])
    rp = cut_vcf(pvcf, 30, samples=range(6), keep=every(7))
    at_panel = {l.split("\t")[1] for l in rp.splitlines() if not l.startswith("#")}
    third = every(3)
    rs = cut_vcf(svcf, 30, samples=range(6), keep=lambda f: third(f) or f[1] in at_panel)
    rh = cut_vcf(hvcf, 30, samples=range(4), keep=lambda f: f[1] in at_panel)
    region_run = (rs + "===\n" + rp + "===\n" + rh + "===\n" + pedv).encode()
    seeds = {
        "indexed": (1 | 1 << 3 | 0x80, 1 | 4 << 5, 8 | 9 << 4, 8 | 15 << 4),
        "unindexed_to_contig_end": (0 | 0 << 3 | 0x80, 0 | 4 << 5, 12 | 15 << 4, 8 | 15 << 4),
        "piped_panel": (2 | 5 << 3 | 0x80, 3 | 4 << 5, 9 | 7 << 4, 8 | 15 << 4),
        "piped_study_stale_panel": (6 | 7 << 3 | 0x80, 5 | 1 << 3 | 4 << 5, 4 | 11 << 4,
                                    8 | 15 << 4),
        "own_haplotypes_unknown_contig": (0 | 4 << 3 | 0xC0, 2 << 3 | 4 << 5, 0 | 15 << 4,
                                          8 | 15 << 4),
        "widening": (1 | 3 << 3 | 0x80, 6 | 2 << 5, 10 | 5 << 4, 12 | 15 << 4),
    }
    for name, option_bytes in seeds.items():
        write("fuzz_region", name, bytes(option_bytes) + region_run)


if __name__ == "__main__":
    main()
