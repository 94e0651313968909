"""The gathering jobs of the Tessellar workflow, run by Snakemake's script
directive (the `snakemake` object gives the job): `concat` joins a contig's
chunks, `merge_sites` the per-site files, `summary` writes the summary table.
Lists of files go through list files, since a genome's worth of chunk names
can be longer than a command line may be; commands get their arguments as
lists, so that no path is split at a blank.
"""
import os
import shutil
import subprocess
import sys


def write_list(path, lines):
    with open(path, "w") as fh:
        fh.writelines(line + "\n" for line in lines)


def concat(job):
    """The chunks of a contig in position order, concatenated as they are."""
    vcf = job.output.vcf
    names = vcf + ".list"
    write_list(names, job.input.vcfs)
    with open(job.log[0], "w") as log:
        subprocess.run(["bcftools", "concat", "--naive", "--file-list", names, "-Oz", "-o", vcf],
                       stderr=log, check=True)
        os.remove(names)
        subprocess.run(["tabix", "-p", "vcf", vcf], stderr=log, check=True)


def merge_sites(job):
    """The first file's header line, then every file's data lines, bgzipped and indexed."""
    tsv = job.output.tsv
    with open(tsv, "wb") as out:
        bgzip = subprocess.Popen(["bgzip", "-c"], stdin=subprocess.PIPE, stdout=out)
        for n, path in enumerate(job.input):
            with open(path, "rb") as fh:
                header = fh.readline()
                if n == 0:
                    bgzip.stdin.write(header)
                shutil.copyfileobj(fh, bgzip.stdin)
        bgzip.stdin.close()
        if bgzip.wait() != 0:
            sys.exit(f"bgzip failed on {tsv}")
    subprocess.run(["tabix", "-s", "1", "-b", "2", "-e", "2", tsv], check=True)


def summary(job):
    """summary.py on the merged per-site file and each contig's VCF."""
    names = job.output[0] + ".list"
    write_list(names, [f"{contig}={vcf}" for contig, vcf in zip(job.params.contigs, job.input.vcfs)])
    with open(job.output[0], "w") as out:
        subprocess.run([sys.executable, job.params.script, "--sites", job.input.sites,
                        "--vcf-list", names], stdout=out, check=True)
    os.remove(names)


if __name__ == "__main__":
    {"concat": concat, "merge_sites": merge_sites, "summary": summary}[snakemake.rule](snakemake)  # noqa: F821
