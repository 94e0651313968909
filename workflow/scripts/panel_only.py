#!/usr/bin/env python3
"""The panel's contigs that the study lacks, for the Tessellar workflow.

Writes a tab-separated table to standard output: a header line starting with
'#', then one line per contig with records in a panel file (from
`bcftools index -s`) whose name matches no study contig when a "chr" prefix
is ignored, as Tessellar pairs contigs: contig, the panel file's name (as
given with --panel), records, panel samples. Files in the order given, each
file's contigs in its index's order. A contig in two panel files stops the
script with an error.
"""
import argparse
import sys

import contigs
from contigs import bare


def run(cmd):
    return contigs.run(cmd, "panel_only")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--study-contigs", required=True, help="the study's contigs, one a line")
    ap.add_argument("--panel", nargs=2, action="append", required=True, metavar=("NAME", "FILE"),
                    help="an indexed panel file and its name; repeatable")
    args = ap.parse_args()

    with open(args.study_contigs) as fh:
        study = {bare(line.rstrip("\n")) for line in fh if line.strip()}
    seen = {}
    out = sys.stdout
    out.write("#contig\tpanel_file\trecords\tpanel_samples\n")
    for name, path in args.panel:
        samples = len(run(["bcftools", "query", "-l", path]).split())
        for line in run(["bcftools", "index", "-s", path]).splitlines():
            fields = line.split("\t")
            if len(fields) < 3 or bare(fields[0]) in study:
                continue
            if bare(fields[0]) in seen:
                sys.exit("panel_only: contig %s is in two panel files: %s and %s"
                         % (fields[0], seen[bare(fields[0])], path))
            seen[bare(fields[0])] = path
            out.write("%s\t%s\t%s\t%d\n" % (fields[0], name, fields[2], samples))


if __name__ == "__main__":
    main()
