#!/usr/bin/env bash
# A one-node Slurm cluster on this machine runs tools/slurm-run on
# examples/theophylline_12 (four shards of --separately with starts,
# profiles and a bootstrap, then the merge), and the merged tables must
# equal the run done at once, bit for bit. The test starts munged (with a
# key made here and a socket of its own), slurmctld and slurmd on
# localhost, all as root with their configuration, state and logs in a
# temporary directory, and stops them by their pid files when it ends,
# also on failure. Without root or the programs (slurm-wlm, munge) it
# skips (exit 77). Usage: slurm_test.sh IDENTIFY SOURCE_DIR
set -euo pipefail
identify=$1
source_dir=$2
for program in munged slurmctld slurmd sbatch scontrol sinfo; do
  if ! command -v "$program" >/dev/null; then
    echo "slurm test skipped: $program not installed (slurm-wlm, munge)"
    exit 77
  fi
done
if [ "$(id -u)" != 0 ]; then
  echo "slurm test skipped: the daemons need root"
  exit 77
fi

tmp=$(mktemp -d /tmp/identify-slurm.XXXXXX)
chmod 700 "$tmp"
stop_daemons() {
  for pidfile in "$tmp/slurmd.pid" "$tmp/slurmctld.pid" "$tmp/munged.pid"; do
    [ -s "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  sleep 1
  rm -rf "$tmp"
}
trap stop_daemons EXIT
fail() {
  echo "slurm test FAILED: $*" >&2
  for log in "$tmp"/*.log "$tmp"/split/problem.shards/slurm-*.out; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -20 "$log" >&2; }
  done
  exit 1
}

# munged with its own key, socket, pid and log files.
dd if=/dev/urandom of="$tmp/munge.key" bs=1024 count=1 status=none
chmod 400 "$tmp/munge.key"
munged --force --key-file="$tmp/munge.key" --socket="$tmp/munge.socket" \
  --pid-file="$tmp/munged.pid" --log-file="$tmp/munged.log" \
  --seed-file="$tmp/munge.seed" || fail "munged did not start"

# Ports of this run's own, away from a cluster that may run here.
port=$((20000 + $$ % 20000))
node=$(slurmd -C | head -1)
host=$(echo "$node" | sed 's/^NodeName=\([^ ]*\).*/\1/')
mkdir -p "$tmp/state" "$tmp/spool"
cat >"$tmp/slurm.conf" <<CONF
ClusterName=identifytest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/munge.socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SchedulerType=sched/backfill
ReturnToService=2
MpiDefault=none
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=identify Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$tmp/slurm.conf
slurmctld -f "$SLURM_CONF" || fail "slurmctld did not start"
slurmd -f "$SLURM_CONF" || fail "slurmd did not start"

# The node must be up before jobs go to it.
for _ in $(seq 60); do
  sinfo -h -o %T 2>/dev/null | grep -qE '^(idle|mixed|allocated)' && break
  sleep 1
done
sinfo -h -o %T | grep -qE '^(idle|mixed|allocated)' ||
  fail "the node did not come up within 60 s"

options=(--separately --starts 3 --profile --bootstrap 20 -q)
mkdir "$tmp/whole" "$tmp/split"
cp "$source_dir"/examples/theophylline_12/* "$tmp/whole/"
cp "$source_dir"/examples/theophylline_12/* "$tmp/split/"
(cd "$tmp/whole" &&
  "$identify" problem.yaml "${options[@]}" >/dev/null 2>"$tmp/whole.log") ||
  fail "the run at once failed"
cd "$tmp/split"
read -r array merge < <(IDENTIFY=$identify \
  "$source_dir/tools/slurm-run" problem.yaml 4 "${options[@]}") ||
  fail "tools/slurm-run did not submit"
echo "array job $array, merge job $merge"

state=
for _ in $(seq 120); do
  state=$(scontrol show job "$merge" 2>/dev/null |
    sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p')
  case $state in
  COMPLETED | FAILED | CANCELLED | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY) break ;;
  esac
  sleep 1
done
[ "$state" = COMPLETED ] ||
  fail "the merge job $merge ended as '${state:-unknown}' (waited at most 120 s)"

for table in parameters fit profiles bootstrap; do
  cmp "$tmp/whole/problem.$table.tsv" "problem.$table.tsv" ||
    fail "problem.$table.tsv of the Slurm run differs from the run at once"
done
echo "slurm test passed: 4 shards and the merge equal the run at once"
