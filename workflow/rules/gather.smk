# The chunks gathered: each contig's VCF, the merged per-site file, the
# summary; by workflow/scripts/gather.py, which takes file lists of any length
# and paths of any form (a run directive would not: Snakemake 7 starts its
# jobs with a cd to the working folder that a blank breaks).


rule concat:
    # The chunks of a contig in position order, concatenated as they are: its
    # inputs are every chunk of the plan, so it cannot run on a partial set.
    input:
        vcfs=lambda wc: chunk_files(wc.contig, ".vcf.gz"),
        tbis=lambda wc: chunk_files(wc.contig, ".vcf.gz.tbi"),
        plan=f"{OUT}/plan/{{contig}}.tsv",
    output:
        vcf=f"{OUT}/{{contig}}.vcf.gz",
        tbi=f"{OUT}/{{contig}}.vcf.gz.tbi",
    log:
        f"{OUT}/logs/concat/{{contig}}.log",
    resources:
        mem_mb=res("concat", "mem_mb", 1000),
        runtime=res("concat", "runtime", 120),
    script:
        "../scripts/gather.py"


def all_sites(wc):
    return ([f for c in selected_contigs() for f in chunk_files(c, ".sites.tsv")]
            + [f"{OUT}/no_study/{row[0]}.sites.tsv" for row in panel_only_contigs()])


rule merge_sites:
    # The first file's header line, then every file's data lines, in contig
    # and position order: the study's contigs, then the panel's without study.
    input:
        all_sites,
    output:
        tsv=f"{OUT}/sites.tsv.gz",
        tbi=f"{OUT}/sites.tsv.gz.tbi",
    resources:
        mem_mb=res("sites", "mem_mb", 1000),
        runtime=res("sites", "runtime", 60),
    script:
        "../scripts/gather.py"


def contig_outputs(wc):
    return [f"{OUT}/{c}.vcf.gz" for c in selected_contigs()]


rule summary:
    input:
        sites=f"{OUT}/sites.tsv.gz",
        vcfs=contig_outputs,
        tbis=lambda wc: [f + ".tbi" for f in contig_outputs(wc)],
    output:
        f"{OUT}/summary.tsv",
    params:
        script=os.path.join(SCRIPTS, "summary.py"),
        contigs=lambda wc: selected_contigs(),
    resources:
        mem_mb=res("summary", "mem_mb", 1000),
        runtime=res("summary", "runtime", 30),
    script:
        "../scripts/gather.py"
