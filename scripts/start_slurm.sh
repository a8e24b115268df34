#!/usr/bin/env bash
# A one-node SLURM cluster with accounting, on this host, for testing the workflow on it:
#   scripts/start_slurm.sh DIR         start munge, MariaDB, slurmdbd, slurmctld and slurmd
#   scripts/start_slurm.sh --stop DIR  stop them, by the pids the start recorded
# Everything (configuration, state, logs, sockets) lives in DIR; nothing under /etc changes.
# Commands that do not see SLURM_CONF (the srun that Snakemake runs inside a job) find the
# configuration where a configless slurmd would cache it, /run/slurm/conf, linked to DIR/etc.
# The daemons listen on 127.0.0.1 only. After a start, `. DIR/env` points SLURM's commands
# at this cluster (SLURM_CONF); its account is `ntpepmap`, its partition `ci`.
# Needs root and Debian's packages (slurm-wlm, slurmdbd, munge, mariadb-server; installed
# with apt-get when missing). Exits 77, saying why, where it cannot run.
set -euo pipefail

SKIP=77
PACKAGES=(slurm-wlm slurmdbd munge mariadb-server)
COMMANDS=(munged mariadbd mariadb-install-db slurmdbd slurmctld slurmd sacctmgr sinfo)
CLUSTER=ntpepmap
ACCOUNT=ntpepmap
PARTITION=ci

skip() { echo "start_slurm: skipped: $*" >&2; exit "$SKIP"; }
fail() { echo "start_slurm: $*" >&2; exit 1; }

running() {  # a zombie has ended: what adopted it may be slow to reap it
    [[ -r /proc/$1/stat ]] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null
}

stop() {
    local dir=$1 pid
    [[ -f $dir/pids ]] || return 0
    # In the reverse order of their start: slurmd first, munge last.
    for pid in $(tac "$dir/pids"); do
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 100); do running "$pid" || break; sleep 0.1; done
        running "$pid" && kill -9 "$pid" 2>/dev/null
    done
    rm -f "$dir/pids"
    if [[ $(readlink /run/slurm/conf) == "$dir/etc" ]]; then
        rm /run/slurm/conf
        rmdir /run/slurm 2>/dev/null || true
    fi
}

if [[ ${1:-} == --stop ]]; then
    stop "${2:?usage: start_slurm.sh --stop DIR}"
    exit 0
fi
DIR=${1:?usage: start_slurm.sh DIR}

[[ $(id -u) == 0 ]] || skip "needs root (it runs munged and MariaDB as their users)"
missing=0
for command in "${COMMANDS[@]}"; do
    PATH=$PATH:/usr/sbin command -v "$command" >/dev/null || missing=1
done
if ((missing)); then
    command -v apt-get >/dev/null || skip "no apt-get to install ${PACKAGES[*]}"
    # The packages' own services are not started: the daemons here are this script's.
    made_policy=0
    if [[ ! -e /usr/sbin/policy-rc.d ]]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
        made_policy=1
    fi
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${PACKAGES[@]}" >/dev/null; } || installed=$?
    ((made_policy)) && rm -f /usr/sbin/policy-rc.d
    [[ -z ${installed:-} ]] || skip "apt-get could not install ${PACKAGES[*]}"
fi
export PATH=$PATH:/usr/sbin

mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)
[[ ! -f $DIR/pids ]] || fail "$DIR: a cluster started there is still running (--stop it)"
mkdir -p "$DIR"/{etc,log,state,spool,munge,db}
chmod 755 "$DIR" "$DIR/log"  # the daemons' own users reach their folders through it
setpriv --reuid=munge --regid=munge --clear-groups test -x "$DIR" ||
    fail "$DIR: the munge user cannot reach it; give a folder whose parents all can (e.g. in /tmp)"
: >"$DIR/pids"
trap 'echo "start_slurm: failed; logs in $DIR/log" >&2; stop "$DIR"' ERR

free_ports() {  # $1 ports on 127.0.0.1 that nothing listens on now
    python3 -c 'import socket, sys
socks = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in socks: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))' "$1"
}
read -r CTLD_PORT SLURMD_PORT DBD_PORT DB_PORT < <(free_ports 4)
HOST=localhost  # resolves to 127.0.0.1 everywhere, which the daemons then bind to
CPUS=$(nproc)
MEMORY=$(( $(awk '/^MemTotal/ {print $2}' /proc/meminfo) / 1024 * 9 / 10 ))
MUNGE_SOCKET=$DIR/munge/munge.socket
DB_PASSWORD=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')

started() { echo "$1" >>"$DIR/pids"; }
wait_for() {  # what, then a command that succeeds once it is ready
    local what=$1 deadline=$((SECONDS + 30)); shift
    until timeout 5 "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || fail "$what did not come up within 30 s; logs in $DIR/log"
        sleep 0.1
    done
}

# munge: a random key, munged as the munge user.
head -c 1024 /dev/urandom >"$DIR/munge/munge.key"
chmod 711 "$DIR/munge" && chmod 400 "$DIR/munge/munge.key"  # clients reach the socket
chown -R munge:munge "$DIR/munge"
# setpriv, not runuser: it execs munged itself, so that the pid recorded is munged's.
setsid setpriv --reuid=munge --regid=munge --init-groups munged --foreground \
    --key-file="$DIR/munge/munge.key" --socket="$MUNGE_SOCKET" \
    --pid-file="$DIR/munge/munged.pid" --seed-file="$DIR/munge/munged.seed" \
    --log-file="$DIR/munge/munged.log" </dev/null >>"$DIR/log/munged.log" 2>&1 &
started $!
wait_for munged bash -c "munge -n -S '$MUNGE_SOCKET' | unmunge -S '$MUNGE_SOCKET'"

# MariaDB on 127.0.0.1 for slurmdbd.
chown mysql:mysql "$DIR/db"
mariadb-install-db --no-defaults --user=mysql --datadir="$DIR/db" --skip-test-db \
    --auth-root-authentication-method=socket >"$DIR/log/mariadb-install.log" 2>&1
setsid mariadbd --no-defaults --user=mysql --datadir="$DIR/db" --socket="$DIR/db/mysqld.sock" \
    --bind-address=127.0.0.1 --port="$DB_PORT" --skip-name-resolve \
    --pid-file="$DIR/db/mariadbd.pid" --log-error="$DIR/db/mariadb.log" \
    --innodb-buffer-pool-size=32M </dev/null >/dev/null 2>&1 &
started $!
wait_for MariaDB mariadb-admin --no-defaults -S "$DIR/db/mysqld.sock" ping
mariadb --no-defaults -S "$DIR/db/mysqld.sock" -e "
    CREATE USER 'slurm'@'127.0.0.1' IDENTIFIED BY '$DB_PASSWORD';
    GRANT ALL ON slurm_acct_db.* TO 'slurm'@'127.0.0.1';"

cat >"$DIR/etc/slurm.conf" <<EOF
ClusterName=$CLUSTER
SlurmctldHost=$HOST(127.0.0.1)
SlurmUser=root
SlurmctldPort=$CTLD_PORT
SlurmdPort=$SLURMD_PORT
CommunicationParameters=NoInAddrAny,NoCtldInAddrAny
AuthType=auth/munge
AuthInfo=socket=$MUNGE_SOCKET
CredType=cred/munge
StateSaveLocation=$DIR/state
SlurmdSpoolDir=$DIR/spool
SlurmctldPidFile=$DIR/state/slurmctld.pid
SlurmdPidFile=$DIR/spool/slurmd.pid
SlurmctldLogFile=$DIR/log/slurmctld.log
SlurmdLogFile=$DIR/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/linux
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
ReturnToService=2
MpiDefault=none
MailProg=/bin/true
AccountingStorageType=accounting_storage/slurmdbd
AccountingStorageHost=127.0.0.1
AccountingStoragePort=$DBD_PORT
AccountingStoragePass=$MUNGE_SOCKET
NodeName=$HOST NodeAddr=127.0.0.1 CPUs=$CPUS RealMemory=$MEMORY State=UNKNOWN
PartitionName=$PARTITION Nodes=$HOST Default=YES MaxTime=INFINITE State=UP
EOF
cat >"$DIR/etc/slurmdbd.conf" <<EOF
AuthType=auth/munge
AuthInfo=socket=$MUNGE_SOCKET
DbdHost=$HOST
DbdAddr=127.0.0.1
DbdPort=$DBD_PORT
CommunicationParameters=NoInAddrAny
SlurmUser=root
PidFile=$DIR/state/slurmdbd.pid
LogFile=$DIR/log/slurmdbd.log
StorageType=accounting_storage/mysql
StorageHost=127.0.0.1
StoragePort=$DB_PORT
StorageUser=slurm
StoragePass=$DB_PASSWORD
StorageLoc=slurm_acct_db
EOF
chmod 600 "$DIR/etc/slurmdbd.conf"
export SLURM_CONF=$DIR/etc/slurm.conf
echo "export SLURM_CONF=$SLURM_CONF" >"$DIR/env"
if [[ ! -e /etc/slurm/slurm.conf ]]; then
    [[ ! -e /run/slurm/conf ]] || fail "/run/slurm/conf: another cluster's configuration is there"
    mkdir -p /run/slurm && ln -s "$DIR/etc" /run/slurm/conf
fi

setsid slurmdbd -D </dev/null >>"$DIR/log/slurmdbd.log" 2>&1 &
started $!
wait_for slurmdbd sacctmgr -n list cluster
sacctmgr -i add cluster "$CLUSTER" >/dev/null
sacctmgr -i add account "$ACCOUNT" Cluster="$CLUSTER" Description=ci Organization=ci >/dev/null
sacctmgr -i add user root Account="$ACCOUNT" Cluster="$CLUSTER" >/dev/null

setsid slurmctld -D -i </dev/null >>"$DIR/log/slurmctld.log" 2>&1 &
started $!
wait_for slurmctld scontrol ping
setsid slurmd -D -N "$HOST" </dev/null >>"$DIR/log/slurmd.log" 2>&1 &
started $!
wait_for "the node" bash -c '[[ $(sinfo -h -N -o %t) == idle ]]'
# Listening anywhere but on 127.0.0.1 would open this host to the network: refused.
pids=$(paste -sd'|' "$DIR/pids")
if ss -ltnpH | grep -E "pid=($pids)," | awk '{print $4}' | grep -v '^127\.0\.0\.1:' >&2; then
    fail "a daemon listens beyond 127.0.0.1 (above); stopped"
fi
trap - ERR
echo "start_slurm: one node ($HOST, $CPUS CPUs) idle in partition $PARTITION; . $DIR/env"
