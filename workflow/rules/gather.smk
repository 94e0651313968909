# The chunks gathered: each contig's VCF, the merged per-site file, the summary.


def write_list(path, files):
    with open(path, "w") as fh:
        fh.writelines(f + "\n" for f in files)


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
    run:
        # The list goes through a file: a genome's worth of chunk names can be
        # longer than one command line may be.
        names = output.vcf + ".list"
        write_list(names, input.vcfs)
        shell("bcftools concat --naive --file-list {names:q} -Oz -o {output.vcf:q} 2> {log:q}"
              " && rm {names:q} && tabix -p vcf {output.vcf:q} 2>> {log:q}")


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
    run:
        names = output.tsv + ".list"
        write_list(names, input)
        shell("{{ head -n 1 \"$(head -n 1 {names:q})\";"
              " while IFS= read -r f; do tail -n +2 \"$f\"; done < {names:q}; }}"
              " | bgzip -c > {output.tsv:q} && rm {names:q} && tabix -s 1 -b 2 -e 2 {output.tsv:q}")


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
    resources:
        mem_mb=res("summary", "mem_mb", 1000),
        runtime=res("summary", "runtime", 30),
    run:
        names = output[0] + ".list"
        write_list(names, [f"{c}={OUT}/{c}.vcf.gz" for c in selected_contigs()])
        shell("python3 {params.script:q} --sites {input.sites:q} --vcf-list {names:q} > {output:q}"
              " && rm {names:q}")
