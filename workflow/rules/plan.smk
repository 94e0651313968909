# The plan: the study's contigs and each contig's chunks.


checkpoint contigs:
    # The study's contigs in file order (the order of a whole run).
    input:
        study=study(),
    output:
        f"{OUT}/plan/contigs.txt",
    resources:
        mem_mb=res("plan", "mem_mb", 1000),
        runtime=res("plan", "runtime", 60),
    shell:
        "bcftools query -f '%CHROM\\n' {input.study:q} | awk '!seen[$0]++' > {output:q}"


def study_contigs():
    with open(checkpoints.contigs.get().output[0]) as fh:
        return [line.rstrip("\n") for line in fh if line.strip()]


def selected_contigs():
    order = study_contigs()
    wanted = CFG.contigs
    missing = [c for c in wanted if c not in order]
    if missing:
        raise WorkflowError("contigs not in the study: " + ", ".join(missing)
                            + " (the study has: " + ", ".join(order) + ")")
    chosen = [c for c in order if c in wanted] if wanted else order
    return chosen


def with_index(files, name, path):
    files[name] = path
    files[name + "_index"] = index_of(path)


def plan_inputs(wc):
    files = {}
    with_index(files, "study", study())
    with_index(files, "panel", panel(wc.contig))
    if HAPS_IN:
        with_index(files, "haplotypes", haplotypes(wc.contig))
    return files


checkpoint plan:
    input:
        unpack(plan_inputs),
    output:
        f"{OUT}/plan/{{contig}}.tsv",
    params:
        chunk_size=CHUNK_SIZE,
        script=os.path.join(SCRIPTS, "plan_chunks.py"),
        haplotypes=lambda wc, input: ("--haplotypes " + shlex.quote(input.haplotypes)
                                      if HAPS_IN else ""),
    resources:
        mem_mb=res("plan", "mem_mb", 1000),
        runtime=res("plan", "runtime", 60),
    shell:
        "python3 {params.script:q} --contig {wildcards.contig:q} --chunk-size {params.chunk_size}"
        " --study {input.study:q} --panel {input.panel:q} {params.haplotypes} > {output:q}"


_plans = {}


def chunks(contig):
    """(start, end, study records, panel records, panel samples) of each chunk, in order."""
    path = checkpoints.plan.get(contig=contig).output[0]
    return plan_rows(path)


def plan_rows(path):
    if path not in _plans:
        rows = []
        with open(path) as fh:
            for line in fh:
                if line.startswith("#") or not line.strip():
                    continue
                f = line.rstrip("\n").split("\t")
                rows.append(tuple(int(x) for x in f[1:6]))
        _plans[path] = rows
    return _plans[path]


def chunk_files(contig, suffix):
    return [f"{OUT}/chunks/{contig}/{s}-{e}{suffix}" for s, e, *_ in chunks(contig)]
