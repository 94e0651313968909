"""The workflow's configuration, checked: every key known, every value of the
right kind and range, every input present; the first fault stops the run
with one line that names the key, what it takes and what was found.

  settings = checked(config)   # a Settings; raises ConfigError
"""
import os
import re
import shlex
import shutil
from dataclasses import dataclass, field

from snakemake.exceptions import WorkflowError

# Tessellar options that the workflow sets itself, and the key that sets each.
OWN_OPTIONS = {"-gfile": "study", "-efile": "panel", "-hfile": "haplotypes", "-ped": "ped",
               "-threads": "threads", "-region": "the chunk plan", "-ofile": "outdir",
               "-sites": "outdir", "-engine": "engine", "-map": "map"}
RESOURCE_RULES = {
    "tessellar": ("mem_mb", "mem_mb_base", "mem_mb_per_mcell", "runtime", "runtime_base",
                  "runtime_per_mcell"),
    "index": ("mem_mb", "runtime"), "plan": ("mem_mb", "runtime"),
    "concat": ("mem_mb", "runtime"), "sites": ("mem_mb", "runtime"),
    "summary": ("mem_mb", "runtime"),
}
KEYS = ("study", "panel", "haplotypes", "ped", "tessellar", "engine", "map", "options", "threads",
        "chunk_size", "outdir", "contigs", "resources")
ENGINES = ("tags", "hmm")
VCF_NAME = re.compile(r"\.(vcf|vcf\.gz|bcf)$")


class ConfigError(WorkflowError):
    """A configuration value that the workflow cannot run with; the message says which."""


@dataclass
class Settings:
    study: str
    panel: str  # a file, or a pattern with {contig}
    haplotypes: str  # "" (none), a file, or a pattern with {contig}
    ped: str  # "" (none)
    tessellar: str
    options: list  # Tessellar's extra arguments, one word each
    threads: int
    chunk_size: int
    outdir: str
    contigs: list  # study contig names; empty: all
    resources: dict = field(default_factory=dict)
    engine: str = "tags"  # the imputation engine (-engine)
    map: str = ""  # the hmm engine's genetic map (-map); "" (none)


def _shown(value):
    return repr(value) if isinstance(value, str) else str(value)


def _norm(path):
    return path if os.path.isabs(path) else os.path.normpath(path)


def _text(config, key, required):
    """A string value; "" for an absent or empty optional one."""
    value = config.get(key)
    if value is None or value == "":
        if required:
            raise ConfigError(f"key {key}: a value is needed (none given)")
        return ""
    if isinstance(value, (dict, list, bool)):
        raise ConfigError(f"key {key}: expected a path, found {_shown(value)}")
    return str(value)


def _whole(config, key, low, high=None):
    """A whole number in range; 1e6 (a float without fraction) counts as one."""
    value = config.get(key)
    if isinstance(value, float) and value.is_integer():
        value = int(value)
    if isinstance(value, bool) or not isinstance(value, int) or value < low or (
            high is not None and value > high):
        span = f"from {low} to {high}" if high is not None else f"{low} or more"
        raise ConfigError(f"key {key}: expected a whole number {span}, found {_shown(value)}")
    return value


def _input(config, key, required, pattern_ok, vcf):
    path = _text(config, key, required)
    if not path:
        return ""
    path = _norm(path)
    if vcf and not VCF_NAME.search(path):
        raise ConfigError(f"key {key}: {path}: the workflow takes .vcf.gz, .bcf or .vcf files")
    if pattern_ok and "{contig}" in path:
        if not os.path.isdir(os.path.dirname(path) or "."):
            raise ConfigError(f"key {key}: the folder of {path} does not exist")
        return path
    if not os.path.isfile(path):
        raise ConfigError(f"key {key}: {path} does not exist or is not a file")
    return path


def _engine(config):
    value = config.get("engine")
    if value is None or value == "":
        return "tags"
    if value not in ENGINES:
        raise ConfigError(f"key engine: expected one of {', '.join(ENGINES)}, found {_shown(value)}")
    return value


def _binary(config):
    name = _text(config, "tessellar", True)
    found = name if "/" in name else shutil.which(name)
    if found is None or not (os.path.isfile(found) and os.access(found, os.X_OK)):
        where = "is not an executable file" if "/" in name else "is not on PATH"
        raise ConfigError(f"key tessellar: {name} {where}"
                          " (build it, or give the binary's path)")
    return name


def _options(config):
    text = config.get("options") or ""
    if not isinstance(text, str):
        raise ConfigError(f"key options: expected one string of options, found {_shown(text)}")
    try:
        words = shlex.split(text)
    except ValueError as err:
        raise ConfigError(f"key options: {text!r} cannot be split into words: {err}")
    for word in words:
        if word in OWN_OPTIONS:
            raise ConfigError(f"key options: {word} is set by the workflow"
                              f" (from {OWN_OPTIONS[word]}); leave it out of options")
    return words


def _contigs(config):
    value = config.get("contigs")
    if value is None or value == "" or value == []:
        return []
    items = value if isinstance(value, list) else [value]
    names = []
    for item in items:
        if isinstance(item, (dict, list, bool)) or item is None or str(item).strip() == "":
            raise ConfigError("key contigs: expected a list of contig names such as"
                              f" [chr1, chr2], found {_shown(value)}")
        names.append(str(item))
    return names


def _figure(text):
    """A number given as text (snakemake --config passes nested values as text), or None."""
    if text in ("", "~", "null", "Null", "NULL"):
        return None
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def _resources(config):
    """The resources mapping, its figures numbers or None."""
    value = config.get("resources") or {}
    if not isinstance(value, dict):
        raise ConfigError(f"key resources: expected a mapping of rules, found {_shown(value)}")
    checked_rules = {}
    for rule, figures in value.items():
        if rule not in RESOURCE_RULES:
            raise ConfigError(f"key resources: unknown rule {rule!r} (known: "
                              + ", ".join(RESOURCE_RULES) + ")")
        if figures is None or figures == "null":
            continue
        if not isinstance(figures, dict):
            raise ConfigError(f"key resources.{rule}: expected a mapping such as"
                              f" {{mem_mb: 1000}}, found {_shown(figures)}")
        checked_rules[rule] = {}
        for name, figure in figures.items():
            if name not in RESOURCE_RULES[rule]:
                raise ConfigError(f"key resources.{rule}: unknown figure {name!r} (known: "
                                  + ", ".join(RESOURCE_RULES[rule]) + ")")
            number = _figure(figure) if isinstance(figure, str) else figure
            if number is not None and (isinstance(number, bool)
                                       or not isinstance(number, (int, float)) or number < 0):
                raise ConfigError(f"key resources.{rule}.{name}: expected a number, 0 or"
                                  f" more, or null, found {_shown(figure)}")
            checked_rules[rule][name] = number
    return checked_rules


def checked(config):
    """The configuration as Settings; raises ConfigError at the first fault."""
    unknown = [key for key in config if key not in KEYS]
    if unknown:
        raise ConfigError(f"key {unknown[0]}: not a key of this workflow (its keys: "
                          + ", ".join(KEYS) + ")")
    outdir = _text(config, "outdir", True)
    return Settings(
        study=_input(config, "study", True, False, True),
        panel=_input(config, "panel", True, True, True),
        haplotypes=_input(config, "haplotypes", False, True, True),
        ped=_input(config, "ped", False, False, False),
        tessellar=_binary(config),
        options=_options(config),
        threads=_whole(config, "threads", 1, 256),
        chunk_size=_whole(config, "chunk_size", 1),
        outdir=_norm(outdir.rstrip("/") or "/"),
        contigs=_contigs(config),
        resources=_resources(config),
        engine=_engine(config),
        map=_input(config, "map", False, False, False),
    )
