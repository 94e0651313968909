# A private single-node SLURM cluster on this machine, for the workflow tests.
# Source this file, then:
#   slurm_start DIR   starts munged, slurmctld and slurmd with everything
#                     (key, socket, state, logs, slurm.conf) under DIR, and
#                     exports SLURM_CONF; returns non-zero with a reason on
#                     stderr if the daemons cannot be started
#   slurm_stop        cancels the cluster's jobs and stops the daemons it
#                     started, by their process ids
# Needs root and Debian's slurm-wlm (slurmctld, slurmd, slurm-client) and munge.

SLURM_PIDS=()

_slurm_free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

_slurm_wait() {  # _slurm_wait SECONDS COMMAND...: until COMMAND succeeds
    local limit=$1 i
    shift
    for ((i = 0; i < limit * 5; i++)); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

slurm_start() {
    local dir=$1 host mem cpus port_ctld port_d
    if [ "$(id -u)" -ne 0 ]; then
        echo "slurm_start: not root (the daemons run as root here)" >&2
        return 1
    fi
    for cmd in munged slurmctld slurmd sbatch scontrol; do
        if ! command -v "$cmd" > /dev/null && ! [ -x "/usr/sbin/$cmd" ]; then
            echo "slurm_start: $cmd is not installed" >&2
            return 1
        fi
    done
    export PATH="$PATH:/usr/sbin"
    mkdir -p "$dir"/munge "$dir"/state "$dir"/spool "$dir"/log
    chmod 700 "$dir" "$dir"/munge

    # munge: its own key and socket, nothing of the system's
    dd if=/dev/urandom of="$dir"/munge/munge.key bs=1024 count=1 status=none
    chmod 400 "$dir"/munge/munge.key
    munged --foreground --force --socket="$dir"/munge/socket --key-file="$dir"/munge/munge.key \
        --pid-file="$dir"/munge/munged.pid --log-file="$dir"/log/munged.log \
        --seed-file="$dir"/munge/seed > "$dir"/log/munged.out 2>&1 &
    SLURM_PIDS+=($!)
    if ! _slurm_wait 10 test -S "$dir"/munge/socket; then
        echo "slurm_start: munged did not start: $(tail -n 3 "$dir"/log/munged.log "$dir"/log/munged.out 2>/dev/null)" >&2
        return 1
    fi

    host=$(hostname -s)
    cpus=$(nproc)
    # RealMemory: what the node has, less 1 GiB, so that every request up to it can be met
    mem=$(awk '/^MemTotal:/ { printf "%d", $2 / 1024 - 1024 }' /proc/meminfo)
    port_ctld=$(_slurm_free_port)
    port_d=$(_slurm_free_port)
    cat > "$dir"/slurm.conf << EOF
ClusterName=tessellartest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port_ctld
SlurmdPort=$port_d
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/socket
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
SchedulerType=sched/builtin
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
MinJobAge=600
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
    export SLURM_CONF="$dir"/slurm.conf

    slurmctld -D -i -f "$SLURM_CONF" > "$dir"/log/slurmctld.out 2>&1 &
    SLURM_PIDS+=($!)
    if ! _slurm_wait 20 scontrol ping; then
        echo "slurm_start: slurmctld did not answer: $(tail -n 5 "$dir"/log/slurmctld.log "$dir"/log/slurmctld.out 2>/dev/null)" >&2
        return 1
    fi
    slurmd -D -f "$SLURM_CONF" -N "$host" > "$dir"/log/slurmd.out 2>&1 &
    SLURM_PIDS+=($!)
    if ! _slurm_wait 30 _slurm_node_idle "$host"; then
        echo "slurm_start: node $host did not come up: $(scontrol show node "$host" 2>&1 | grep -E 'State|Reason'; tail -n 5 "$dir"/log/slurmd.log "$dir"/log/slurmd.out 2>/dev/null)" >&2
        return 1
    fi
    return 0
}

_slurm_node_idle() {
    scontrol show node "$1" 2>/dev/null | grep -q 'State=IDLE'
}

slurm_stop() {
    local pid ids i
    if [ -n "${SLURM_CONF:-}" ] && [ ${#SLURM_PIDS[@]} -gt 0 ]; then
        # the jobs of this private cluster, then its daemons (slurmd, slurmctld, munged)
        ids=$(squeue -h -o %i 2> /dev/null || true)
        if [ -n "$ids" ]; then
            scancel $ids 2> /dev/null
            _slurm_wait 15 _slurm_no_jobs || true
        fi
    fi
    for ((i = ${#SLURM_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${SLURM_PIDS[$i]}
        kill "$pid" 2> /dev/null || continue
        _slurm_wait 10 _slurm_gone "$pid" || kill -9 "$pid" 2> /dev/null
    done
    SLURM_PIDS=()
}

_slurm_no_jobs() {
    [ -z "$(squeue -h -o %i 2> /dev/null)" ]
}

_slurm_gone() {
    ! kill -0 "$1" 2> /dev/null
}
