#!/bin/sh
# Runs the growth benchmark's daemon in private mount and network namespaces.
#  - /dev there is a small tmpfs with copies of the few nodes a daemon uses,
#    binds of the real /dev/pts and /dev/shm, and the simulated board under a
#    stable name, /dev/serial/by-id/qov-bench, a link to the simulator's
#    --link symlink (which follows it from pty to pty). The native daemon
#    names its port by a path its presence check lists; a pty gets a new
#    number on every replug, a by-id name does not.
#  - The network there is a loopback of its own: the HTTP check target runs
#    inside it, and an ICMP check of any other address fails at once
#    (network unreachable), so failed cycles cost no time and nothing can
#    leave the namespace.
# Nothing outside the namespaces changes. The command is exec'd, so it keeps
# this script's pid; the check target's pid goes to <scratch>/target.pid.
# Args: <scratch dir> <simulator link> <target port> <target control file> <target request log> <command...>
set -eu
scratch=$1 link=$2 port=$3 control=$4 requests=$5
shift 5
if [ -z "${QOV_BENCH_IN_NS:-}" ]; then
  export QOV_BENCH_IN_NS=1
  exec unshare --mount --net --propagation private "$0" "$scratch" "$link" "$port" "$control" "$requests" "$@"
fi
unset QOV_BENCH_IN_NS
ip link set lo up
newdev=$scratch/dev
mkdir -p "$newdev"
mount -t tmpfs -o mode=755,size=1m qov-bench-dev "$newdev"
for node in null zero full random urandom tty ptmx; do
  [ -e "/dev/$node" ] && cp -a "/dev/$node" "$newdev/"
done
for l in fd stdin stdout stderr; do
  [ -L "/dev/$l" ] && cp -a "/dev/$l" "$newdev/"
done
mkdir -p "$newdev/pts" "$newdev/shm" "$newdev/serial/by-id"
mount --bind /dev/pts "$newdev/pts"
[ -d /dev/shm ] && mount --bind /dev/shm "$newdev/shm"
ln -s "$link" "$newdev/serial/by-id/qov-bench"
mount --move "$newdev" /dev
rm -f "$scratch/target.port"
python3 "$(dirname "$0")/../tests/wine/check_target.py" --port "$port" --port-file "$scratch/target.port" \
  --control-file "$control" --request-log "$requests" </dev/null >"$scratch/target.out" 2>&1 &
echo $! >"$scratch/target.pid"
i=0
while [ ! -s "$scratch/target.port" ]; do
  i=$((i + 1))
  [ "$i" -lt 200 ] || { echo "growth_ns: the check target did not start" >&2; exit 1; }
  sleep 0.05
done
exec "$@"
