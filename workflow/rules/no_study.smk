# The per-site lines of the panel's contigs that the study lacks. A whole run
# lists their SNPs in its per-site file (fate no-study-contig), after the
# study's contigs, in the panel's order; so does the workflow, unless
# `contigs` names the contigs to impute.


def panel_sources():
    """(name, staged file) of each panel file: the one file ("panel"), or every
    file that the pattern names (the pattern's part of its name)."""
    if "{contig}" not in PANEL_IN:
        return [("panel", staged(PANEL_IN, "panel"))]
    return [(name, staged(path, f"panel.{name}")) for name, path in pattern_files(PANEL_IN)]


checkpoint panel_only:
    input:
        contigs=f"{OUT}/plan/contigs.txt",
        panels=lambda wc: [path for _, path in panel_sources()],
        indexes=lambda wc: [index_of(path) for _, path in panel_sources()],
    output:
        f"{OUT}/plan/panel_only.tsv",
    params:
        script=os.path.join(SCRIPTS, "panel_only.py"),
        panels=lambda wc: " ".join(f"--panel {shlex.quote(name)} {shlex.quote(path)}"
                                   for name, path in panel_sources()),
    resources:
        mem_mb=res("plan", "mem_mb", 1000),
        runtime=res("plan", "runtime", 60),
    shell:
        "python3 {params.script:q} --study-contigs {input.contigs:q} {params.panels} > {output:q}"


def panel_only_contigs():
    """(contig, panel file's name, records, samples) of each panel contig
    without study, in order; "panel" names the one panel file."""
    if CFG.contigs:
        return []
    rows = []
    with open(checkpoints.panel_only.get().output[0]) as fh:
        for line in fh:
            if line.strip() and not line.startswith("#"):
                contig, name, records, samples = line.rstrip("\n").split("\t")
                rows.append((contig, name, int(records), int(samples)))
    return rows


def no_study_inputs(wc):
    name = {row[0]: row[1] for row in panel_only_contigs()}[wc.contig]
    files = {}
    with_index(files, "study", study())
    with_index(files, "panel", staged(PANEL_IN, "panel") if name == "panel" else panel(name))
    if HAPS_IN:
        with_index(files, "haplotypes", haplotypes(wc.contig))
    if PED:
        files["ped"] = PED
    return files


def no_study_cells(wc):
    """Millions of panel genotypes on the contig."""
    rows = {row[0]: row for row in panel_only_contigs()}
    return rows[wc.contig][2] * rows[wc.contig][3] / 1e6 if wc.contig in rows else 0.0


rule no_study_sites:
    # The contig's lines of a whole run's per-site file: a whole run on the
    # contig's panel records (and haplotype records), with a placeholder study.
    input:
        unpack(no_study_inputs),
    output:
        f"{OUT}/no_study/{{contig}}.sites.tsv",
    log:
        f"{OUT}/logs/no_study/{{contig}}.log",
    resources:
        mem_mb=lambda wc, attempt: tessellar_mem(no_study_cells(wc), attempt),
        runtime=lambda wc: tessellar_runtime(no_study_cells(wc)),
    params:
        script=os.path.join(SCRIPTS, "no_study_sites.sh"),
        tessellar=TESSELLAR,
        ped=optional("-ped", "ped"),
        haplotypes=optional("-hfile", "haplotypes"),
        engine="-engine hmm" if ENGINE == "hmm" else "",
        options=OPTIONS,
    shell:
        "log={log:q}; what={wildcards.contig:q};"
        " bash {params.script:q} {wildcards.contig:q} {input.study:q} {input.panel:q}"
        " {params.tessellar:q} {output:q} {params.haplotypes} {params.ped} {params.engine} {params.options}"
        " > \"$log\" 2>&1" + ON_FAILURE
