"""What the workflow's scripts share: contig names as Tessellar pairs them, and
the output of the commands they run."""
import subprocess
import sys


def bare(name):
    """A contig's name without a leading "chr" (in any case), as Tessellar pairs contigs."""
    return name[3:] if len(name) > 3 and name[:3].lower() == "chr" else name


def run(cmd, script):
    """Stdout of a command as text; stops `script` with the command's error otherwise."""
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if proc.returncode != 0:
        sys.exit("%s: `%s` failed (exit %d): %s"
                 % (script, " ".join(cmd), proc.returncode, proc.stderr.strip()))
    return proc.stdout
