# The inputs as the jobs read them. Tessellar reads bgzipped VCF or BCF
# through their indexes: a plain .vcf is bgzipped into OUTDIR/inputs/; a file
# without an index gets one beside it.


def staged(path, key):
    """The file the jobs read for a user's input file."""
    if path.endswith(".vcf"):
        return f"{OUT}/inputs/{key}.vcf.gz"
    return path


def index_of(path):
    """The index of a staged input: an existing one, or the one the rules make."""
    kinds = (".csi",) if path.endswith(".bcf") else (".tbi", ".csi")
    for ext in kinds:
        if os.path.exists(path + ext):
            return path + ext
    return path + kinds[0]


def bare(name):
    """A contig name as Tessellar pairs it across inputs: without a "chr" prefix."""
    return name[3:] if len(name) > 3 and name[:3].lower() == "chr" else name


def contig_file(pattern, contig, key):
    """The user's file of a contig for the key (panel, haplotypes): the one
    file, or the pattern with {contig} made the contig's name, else that
    name without or with its "chr" prefix."""
    if "{contig}" not in pattern:
        return pattern
    names = [contig, bare(contig), "chr" + bare(contig)]
    for name in names:
        path = pattern.replace("{contig}", name)
        if os.path.exists(path):
            return path
    raise WorkflowError(f"no {key} file for contig {contig}: tried "
                        + ", ".join(pattern.replace("{contig}", n) for n in names))


def pattern_files(pattern):
    """(name, path) of each file that a pattern with {contig} names, in name order."""
    whole = re.compile(re.escape(pattern).replace(re.escape("{contig}"), "([^/]+)"))
    found = []
    for path in sorted(glob.glob(pattern.replace("{contig}", "*"))):
        m = whole.fullmatch(path)
        if m:
            found.append((m.group(1), path))
    return found


def study():
    return staged(STUDY_IN, "study")


def per_contig(pattern, key, contig):
    one = "{contig}" not in pattern
    return staged(contig_file(pattern, contig, key), key if one else f"{key}.{contig}")


def panel(contig):
    return per_contig(PANEL_IN, "panel", contig)


def haplotypes(contig):
    return per_contig(HAPS_IN, "haplotypes", contig)


def user_file(key):
    """The user's file behind a staged key: study, panel[.CONTIG], haplotypes[.CONTIG]."""
    if key == "study":
        return STUDY_IN
    kind, _, contig = key.partition(".")
    pattern = PANEL_IN if kind == "panel" else HAPS_IN
    return contig_file(pattern, contig, kind) if contig else pattern


# The index rules may write only these files' indexes: the user's inputs that
# have none now, and the staged copies in OUTDIR/inputs/.
def _unindexed_inputs():
    paths = [STUDY_IN]
    for pattern in (PANEL_IN, HAPS_IN):
        if "{contig}" in pattern:
            paths += [path for _, path in pattern_files(pattern)]
        elif pattern:
            paths.append(pattern)
    return [p for p in paths if not p.endswith(".vcf")
            and not any(os.path.exists(p + ext) for ext in (".tbi", ".csi"))]


INDEXABLE = "|".join([re.escape(p) for p in _unindexed_inputs()]
                     + [re.escape(f"{OUT}/inputs/") + r"[^/]+"])


wildcard_constraints:
    contig=r"[^/]+",
    start=r"\d+",
    end=r"\d+",


def res(rule, key, default):
    return (RES.get(rule) or {}).get(key) or default


rule bgzip_input:
    # A plain VCF copied as bgzipped VCF (the same bytes once decompressed).
    input:
        lambda wc: user_file(wc.key),
    output:
        f"{OUT}/inputs/{{key}}.vcf.gz",
    wildcard_constraints:
        key=r"study|panel|haplotypes|(?:panel|haplotypes)\.[^/]+",
    resources:
        mem_mb=res("index", "mem_mb", 1000),
        runtime=res("index", "runtime", 60),
    shell:
        "bgzip -c {input:q} > {output:q}"


rule index_vcf:
    # An index beside the file, as tabix makes it (the user's file is not changed).
    input:
        "{path}",
    output:
        "{path}.tbi",
    wildcard_constraints:
        path=rf"(?:{INDEXABLE})(?<!\.bcf)",
    resources:
        mem_mb=res("index", "mem_mb", 1000),
        runtime=res("index", "runtime", 60),
    shell:
        "tabix -p vcf {input:q}"


rule index_bcf:
    input:
        "{path}",
    output:
        "{path}.csi",
    wildcard_constraints:
        path=rf"(?:{INDEXABLE})(?<=\.bcf)",
    resources:
        mem_mb=res("index", "mem_mb", 1000),
        runtime=res("index", "runtime", 60),
    shell:
        "bcftools index {input:q}"
