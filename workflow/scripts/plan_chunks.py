#!/usr/bin/env python3
"""Chunk plan of one contig for the Tessellar workflow.

Writes a tab-separated table to standard output: a header line starting with
'#', then one line per chunk: contig, start, end (1-based, inclusive), study
records, panel records, panel samples. The chunks are 1..S, S+1..2S, ... for
a chunk size S; together they cover 1 to the contig's last study, panel or
haplotype position without gaps or overlaps (the last chunk ends there).

Positions come from `bcftools query` through the inputs' indexes (-r CONTIG),
the panel's and haplotype file's contig names from `bcftools index -s`; their
contig is the one whose name equals the study's with a "chr" prefix ignored,
as Tessellar matches them. A contig that the panel lacks has panel records 0.
"""
import argparse
import subprocess
import sys

import contigs
from contigs import bare


def run(cmd):
    return contigs.run(cmd, "plan_chunks")


def indexed_contigs(path):
    """Contig names that have records, from the file's index."""
    return [line.split("\t")[0] for line in run(["bcftools", "index", "-s", path]).splitlines() if line]


def positions(path, contig):
    """Record positions of one contig, streamed from bcftools query."""
    cmd = ["bcftools", "query", "-r", contig, "-f", "%POS\\n", path]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for line in proc.stdout:
        yield int(line)
    err = proc.stderr.read()
    if proc.wait() != 0:
        sys.exit("plan_chunks: `%s` failed (exit %d): %s"
                 % (" ".join(cmd), proc.returncode, err.strip()))


def count_by_chunk(path, contig, size, counts):
    """Adds the records of one contig per chunk index to counts; returns the last position."""
    last = 0
    for pos in positions(path, contig):
        i = (pos - 1) // size if pos >= 1 else 0
        counts[i] = counts.get(i, 0) + 1
        last = max(last, pos)
    return last


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--contig", required=True, help="the study's contig name")
    ap.add_argument("--chunk-size", type=int, required=True)
    ap.add_argument("--study", required=True, help="indexed study VCF/BCF")
    ap.add_argument("--panel", required=True, help="indexed panel VCF/BCF")
    ap.add_argument("--haplotypes", help="indexed haplotype VCF/BCF, if the run has one")
    args = ap.parse_args()
    if args.chunk_size < 1:
        sys.exit("plan_chunks: the chunk size must be 1 or more, not %d" % args.chunk_size)

    study_counts, panel_counts = {}, {}
    if args.contig not in indexed_contigs(args.study):
        sys.exit("plan_chunks: the study has no records on contig %s" % args.contig)
    last = count_by_chunk(args.study, args.contig, args.chunk_size, study_counts)

    for path, what, counts in ((args.panel, "panel", panel_counts),
                               (args.haplotypes, "haplotype file", {})):
        if path is None:
            continue
        matches = [c for c in indexed_contigs(path) if bare(c) == bare(args.contig)]
        if len(matches) > 1:
            sys.exit("plan_chunks: the %s has several contigs for %s: %s"
                     % (what, args.contig, ", ".join(matches)))
        if matches:
            last = max(last, count_by_chunk(path, matches[0], args.chunk_size, counts))
    samples = len(run(["bcftools", "query", "-l", args.panel]).split())

    out = sys.stdout
    out.write("#contig\tstart\tend\tstudy_records\tpanel_records\tpanel_samples\n")
    size = args.chunk_size
    n = (last + size - 1) // size
    for i in range(n):
        start, end = i * size + 1, min((i + 1) * size, last)
        out.write("%s\t%d\t%d\t%d\t%d\t%d\n" % (args.contig, start, end, study_counts.get(i, 0),
                                                panel_counts.get(i, 0), samples))


if __name__ == "__main__":
    main()
