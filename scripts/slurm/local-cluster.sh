#!/usr/bin/env bash
# A scratch Slurm cluster of one machine, from Debian's slurm-wlm and munge,
# for trying the segment scripts and for the test suite. Everything it makes
# lives in DIR: the munge key and socket, slurm.conf, the controller's state,
# the node's spool, pid files and logs. No system configuration is touched.
#
#   scripts/slurm/local-cluster.sh start DIR   start munged, slurmctld, slurmd;
#                                              wait until the node is idle
#   scripts/slurm/local-cluster.sh stop DIR    stop them by their pid files
#   scripts/slurm/local-cluster.sh run DIR COMMAND [ARG...]
#                                              run a client (sbatch, squeue, a
#                                              submission script) against it
#
# Needs root (slurmd starts jobs as their user; munged runs as the munge
# user). Exit status 77 means the cluster cannot be had here (not root, the
# packages missing, no network namespaces), so a test can say it was
# skipped; daemons that fail to start are a failure (1).
#
# The daemons live in a network namespace of their own that holds nothing
# but loopback, so nothing they listen on is reachable from outside; its
# clients reach them through `run`, which enters it.
set -euo pipefail

readonly kCannotStart=77
readonly kStartSeconds=60
readonly kStopSeconds=20

usage() {
  echo "usage: $0 start|stop DIR, or $0 run DIR COMMAND [ARG...]" >&2
  exit 2
}

cannot_start() {
  echo "local-cluster: $*" >&2
  exit "$kCannotStart"
}

(($# >= 2)) || usage
action=$1
dir=$2
shift 2
case "$action" in start | stop) (($# == 0)) || usage ;; run) (($# > 0)) || usage ;; *) usage ;; esac
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
conf="$dir/slurm.conf"
netns="$dir/netns"

in_namespace() {
  SLURM_CONF=$conf nsenter --net="$netns" "$@"
}

# Sends TERM to the process named by a pid file, waits for it to go, and
# sends KILL if it will not.
stop_by_pid_file() {
  local file=$1 pid waited=0
  [[ -s "$file" ]] || return 0
  pid=$(<"$file")
  [[ "$pid" =~ ^[0-9]+$ ]] || return 0
  kill -TERM "$pid" 2>/dev/null || { rm -f "$file"; return 0; }
  while kill -0 "$pid" 2>/dev/null && ((waited < kStopSeconds * 10)); do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$file"
}

stop_cluster() {
  stop_by_pid_file "$dir/run/slurmd.pid"
  stop_by_pid_file "$dir/run/slurmctld.pid"
  stop_by_pid_file "$dir/munge/munged.pid"
  if mountpoint -q "$netns" 2>/dev/null; then
    umount "$netns"
  fi
  rm -f "$netns"
}

show_logs() {
  local log
  for log in "$dir"/log/*.log "$dir"/munge/munged.log; do
    [[ -s "$log" ]] || continue
    echo "--- $log" >&2
    tail -n 20 "$log" >&2
  done
}

write_config() {
  local host cpus
  host=$(hostname -s)
  cpus=$(nproc)
  cat >"$conf" <<EOF
# A one-machine cluster made by scripts/slurm/local-cluster.sh.
ClusterName=quillmere-local
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=6817
SlurmdPort=6818
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
# No cgroups here: processes are tracked through /proc, tasks not bound.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
MailProg=/bin/true
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
# Finished jobs stay visible to scontrol for this long.
MinJobAge=600
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
}

start_munge() {
  local munge_dir="$dir/munge"
  mkdir -p "$munge_dir"
  chmod 0700 "$munge_dir"
  dd if=/dev/urandom of="$munge_dir/munge.key" bs=1024 count=1 status=none
  chmod 0400 "$munge_dir/munge.key"
  chown -R munge:munge "$munge_dir"
  # The scratch folder may sit under a world-writable one such as /tmp,
  # which munged would otherwise refuse as insecure.
  runuser -u munge -- munged --force \
    --socket="$munge_dir/munge.socket" --key-file="$munge_dir/munge.key" \
    --pid-file="$munge_dir/munged.pid" --log-file="$munge_dir/munged.log" \
    --seed-file="$munge_dir/munged.seed"
  # Clients of every user reach the socket through its folder.
  chmod 0711 "$munge_dir"
}

wait_until_idle() {
  local deadline=$((SECONDS + kStartSeconds)) state=
  while ((SECONDS < deadline)); do
    state=$(in_namespace timeout 5 sinfo -h -N -o '%T' 2>/dev/null | head -n 1) || true
    [[ "$state" == idle ]] && return 0
    sleep 0.5
  done
  echo "local-cluster: the node did not become idle within ${kStartSeconds}s (state: ${state:-none})" >&2
  return 1
}

start_cluster() {
  ((EUID == 0)) || cannot_start "needs root (slurmd runs jobs as their users)"
  local command
  for command in munged slurmctld slurmd sbatch sinfo runuser unshare nsenter ip timeout; do
    command -v "$command" >/dev/null ||
      cannot_start "$command not found (apt-get install slurm-wlm munge)"
  done
  id munge >/dev/null 2>&1 || cannot_start "no munge user (apt-get install munge)"
  if [[ -s "$dir/run/slurmctld.pid" ]] && kill -0 "$(<"$dir/run/slurmctld.pid")" 2>/dev/null; then
    echo "local-cluster: already running in $dir" >&2
    exit 1
  fi
  stop_cluster
  rm -rf "$dir/state" "$dir/spool" "$dir/run" "$dir/log" "$dir/munge"
  mkdir -p "$dir/state" "$dir/spool" "$dir/run" "$dir/log"
  write_config
  touch "$netns"
  if ! unshare --net="$netns" true || ! nsenter --net="$netns" ip link set lo up ||
    ! nsenter --net="$netns" ip address add 127.0.0.2/32 dev lo; then
    stop_cluster
    cannot_start "cannot make a network namespace (unshare --net)"
  fi
  if ! runuser -u munge -- test -x "$dir"; then
    stop_cluster
    echo "local-cluster: the munge user cannot reach $dir: make it and the folders above it searchable (chmod o+x)" >&2
    exit 1
  fi
  if ! start_munge; then
    show_logs
    stop_cluster
    echo "local-cluster: munged did not start" >&2
    exit 1
  fi
  if ! in_namespace slurmctld -f "$conf" -c || ! in_namespace slurmd -f "$conf" ||
    ! wait_until_idle; then
    show_logs
    stop_cluster
    echo "local-cluster: the Slurm daemons did not start" >&2
    exit 1
  fi
  echo "local-cluster: running in $dir; reach it with: $0 run $dir COMMAND" >&2
}

case "$action" in
  start) start_cluster ;;
  stop) stop_cluster ;;
  run)
    [[ -e "$netns" ]] || { echo "local-cluster: no cluster runs in $dir" >&2; exit 1; }
    in_namespace "$@"
    ;;
esac
