# One Tessellar region run per chunk.


def mega_cells(wc):
    """Millions of panel genotypes in a chunk (panel records x panel samples)."""
    path = f"{OUT}/plan/{wc.contig}.tsv"
    if os.path.exists(path):
        for s, e, _, panel_n, samples in plan_rows(path):
            if s == int(wc.start) and e == int(wc.end):
                return panel_n * samples / 1e6
    return 0.0


def tessellar_mem(cells, attempt):
    """A Tessellar job's memory (MB) for millions of panel genotypes, on an attempt."""
    r = RES.get("tessellar") or {}
    mb = r.get("mem_mb") or (r.get("mem_mb_base", 500) + r.get("mem_mb_per_mcell", 8) * cells)
    return int(math.ceil(mb * attempt))


def tessellar_runtime(cells):
    """A Tessellar job's runtime (minutes) for millions of panel genotypes."""
    r = RES.get("tessellar") or {}
    return int(math.ceil(r.get("runtime") or (r.get("runtime_base", 10)
                                               + r.get("runtime_per_mcell", 0.05) * cells)))


def impute_inputs(wc):
    files = plan_inputs(wc)
    files["plan"] = f"{OUT}/plan/{wc.contig}.tsv"
    if PED:
        files["ped"] = PED
    if MAP and ENGINE == "hmm":
        files["map"] = MAP
    return files


def optional(option, name):
    """Shell words of an option that takes the input file name, if the job has one."""
    return lambda wc, input: f"{option} {shlex.quote(input[name])}" if name in input.keys() else ""


# Tessellar writes its run log and any Error line on stdout; on failure the
# Error line goes to stderr too (the job's log on a cluster).
ON_FAILURE = (" || {{ status=$?; echo \"Tessellar failed on $what (exit $status), log $log:\" >&2;"
              " grep -F 'Error:' \"$log\" >&2 || tail -n 20 \"$log\" >&2; exit 1; }}")


rule impute:
    input:
        unpack(impute_inputs),
    output:
        vcf=f"{OUT}/chunks/{{contig}}/{{start}}-{{end}}.vcf.gz",
        tbi=f"{OUT}/chunks/{{contig}}/{{start}}-{{end}}.vcf.gz.tbi",
        sites=f"{OUT}/chunks/{{contig}}/{{start}}-{{end}}.sites.tsv",
    log:
        f"{OUT}/logs/impute/{{contig}}/{{start}}-{{end}}.log",
    benchmark:
        f"{OUT}/benchmarks/impute/{{contig}}/{{start}}-{{end}}.tsv"
    threads: THREADS
    resources:
        mem_mb=lambda wc, attempt: tessellar_mem(mega_cells(wc), attempt),
        runtime=lambda wc: tessellar_runtime(mega_cells(wc)),
    params:
        tessellar=TESSELLAR,
        ped=optional("-ped", "ped"),
        haplotypes=optional("-hfile", "haplotypes"),
        region=lambda wc: f"{wc.contig}:{wc.start}-{wc.end}",
        engine="-engine hmm" if ENGINE == "hmm" else "",
        map=optional("-map", "map"),
        options=OPTIONS,
    shell:
        "log={log:q}; what={params.region:q};"
        " {params.tessellar:q} {params.engine} {params.map} -gfile {input.study:q} -efile {input.panel:q} {params.haplotypes}"
        " {params.ped} -region {params.region:q} -ofile {output.vcf:q} -sites {output.sites:q}"
        " -threads {threads} {params.options} > \"$log\" 2>&1" + ON_FAILURE
