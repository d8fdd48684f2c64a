# A log disk that stalls under the running Linux daemon: its log on a small
# ext4 image this script loop-mounts and then freezes (fsfreeze), as root;
# exits 77, skipped, without root or without loop devices. Every write to
# the frozen file system waits until it is thawed, as on a stalled SD card
# or network share.
#
#   fault (daemon run)                      expected outcome
#   --------------------------------------  ------------------------------------------------------------
#   the log's file system frozen, thawed    the board is fed throughout; once thawed, every life message
#                                           of the frozen time is in the log; the stop logs
#                                           "Service stopped" last
# Args: <daemon> <device simulator> <work dir>
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_log_stall
DISK=$WORK/disk
LOG=$DISK/qov.log

HERE=$(cd "$(dirname "$0")" && pwd)
TAG="log stall"
LOG_FILE=$LOG
source "$HERE/lib.sh"
if [ "$(id -u)" != 0 ]; then
  say "SKIP: needs root to loop-mount and freeze a file system"
  exit 77
fi
for tool in mkfs.ext4 fsfreeze; do
  command -v "$tool" >/dev/null || { say "SKIP: no $tool"; exit 77; }
done
rm -rf "$WORK"
mkdir -p "$DISK" "$WORK/state"
truncate -s 16M "$WORK/disk.img"
mkfs.ext4 -q -F "$WORK/disk.img" || { say "SKIP: mkfs.ext4 failed"; exit 77; }
mount -o loop "$WORK/disk.img" "$DISK" 2>"$WORK/mount.err" || { say "SKIP: loop mount failed: $(cat "$WORK/mount.err")"; exit 77; }
on_cleanup 'umount -l "$DISK"'
# Thawed before anything is ended: a process waiting on the frozen disk
# cannot end before, and the cleanup would wait for it forever.
trap 'rc=$?; set +e; fsfreeze -u "$DISK" 2>/dev/null; (exit $rc); native_cleanup' EXIT

life_frames() { awk '$2 == "frame" && $3 == 5' "$WORK/frames" 2>/dev/null | wc -l; }
life_lines() { messages "$LOG" | grep -cxF "Life message send ok" || true; }
wait_for() {
  local cond=$1 limit=$2 what=$3 i
  for ((i = 0; i < limit * 10; i++)); do
    eval "$cond" && return 0
    sleep 0.1
  done
  fail "$what (not within ${limit}s)"
}

start_board
write_config "$WORK/qov.reg" \
  "$(reg_sz log_file_path "$LOG")" \
  "$(reg_sz qov_com_port "$PTY")" \
  "$(reg_dword wait_time_after_start_s 600)" \
  "$(reg_dword life_beakon_period_ms 200)"
NOTIFY_SOCKET= LC_ALL=C QOV_STATE_DIR="$WORK/state" "$DAEMON" --config "$WORK/qov.reg" 2>>"$WORK/daemon.err" &
DAEMON_PID=$!
PIDS+=("$DAEMON_PID")
wait_for "[ \$(life_lines) -ge 2 ]" 30 "no life message logged"

before_lines=$(life_lines)
before_frames=$(life_frames)
fsfreeze -f "$DISK"
say "log disk frozen"
# Fed for several seconds while every log write waits: about 15 life messages.
wait_for "[ \$(life_frames) -ge $((before_frames + 15)) ]" 20 "the board was not fed while the log disk was frozen"
kill -0 "$DAEMON_PID" 2>/dev/null || fail "the daemon ended while the log disk was frozen"
frozen_frames=$(( $(life_frames) - before_frames ))
fsfreeze -u "$DISK"
say "log disk thawed after $frozen_frames life messages"

# The lines of the frozen time were queued, not lost (the queue holds far more).
wait_for "[ \$(life_lines) -ge $((before_lines + frozen_frames - 1)) ]" 30 \
  "the life messages of the frozen time did not reach the log"
kill -TERM "$DAEMON_PID"
rc=0
wait "$DAEMON_PID" || rc=$?
DAEMON_PID=
[ "$rc" = 0 ] || fail "daemon exit $rc"
[ "$(messages "$LOG" | tail -n 1)" = "Service stopped" ] || fail "last line '$(messages "$LOG" | tail -n 1)'"
say "PASS"
