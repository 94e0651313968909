#!/usr/bin/env python3
"""Snakemake --cluster-status for SLURM: prints running, success or failed for one job.

The state comes from `scontrol show job`, which needs no accounting database;
sacct is asked only when the controller no longer knows the job (it forgets
finished jobs after MinJobAge, 300 s by default, while Snakemake asks every
few seconds). A job that neither knows is reported failed, with the reason on
stderr, so that Snakemake never waits for it forever. A controller that does
not answer counts as running: the next check asks again.
"""
import re
import subprocess
import sys

RUNNING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "REQUEUED",
           "REQUEUE_FED", "REQUEUE_HOLD", "RESIZING", "RESV_DEL_HOLD", "SIGNALING",
           "STAGE_OUT", "STOPPED", "SPECIAL_EXIT"}
SUCCESS = {"COMPLETED"}


def verdict(state):
    state = state.split()[0].rstrip("+") if state else ""
    if state in SUCCESS:
        return "success"
    if state in RUNNING:
        return "running"
    return "failed"  # FAILED, CANCELLED, TIMEOUT, OUT_OF_MEMORY, NODE_FAIL, BOOT_FAIL, ...


def main():
    jobid = sys.argv[1].split(";")[0].strip()  # sbatch --parsable: ID[;CLUSTER]
    try:
        sc = subprocess.run(["scontrol", "show", "job", "-o", jobid], capture_output=True,
                            text=True, timeout=60)
    except subprocess.TimeoutExpired:
        print("running")
        return
    if sc.returncode == 0:
        m = re.search(r"\bJobState=(\S+)", sc.stdout)
        if m:
            print(verdict(m.group(1)))
            return
    if "Invalid job id" not in sc.stderr and sc.returncode != 0:
        print(f"status.py: scontrol on job {jobid}: {sc.stderr.strip()}", file=sys.stderr)
        print("running")
        return
    try:
        sa = subprocess.run(["sacct", "-n", "-X", "-P", "-o", "State", "-j", jobid],
                            capture_output=True, text=True, timeout=60)
        states = [s for s in sa.stdout.split("\n") if s.strip()] if sa.returncode == 0 else []
    except (OSError, subprocess.TimeoutExpired):
        states = []
    if states:
        print(verdict(states[0]))
        return
    print(f"status.py: SLURM no longer knows job {jobid} and sacct cannot tell its end;"
          " counted as failed (rerun the same command to redo it)", file=sys.stderr)
    print("failed")


if __name__ == "__main__":
    main()
