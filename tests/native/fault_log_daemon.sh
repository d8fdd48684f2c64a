# Log faults seen by the running Linux daemon: its log on a small tmpfs this
# script mounts (as root; exits 77, skipped, without), the simulated board
# fed throughout. For every fault: the daemon keeps running, life messages
# keep reaching the board while the fault lasts, and logging resumes once it
# clears.
#
#   fault (daemon run)                      expected outcome
#   --------------------------------------  ------------------------------------------------------------
#   1 folder missing at start, made later   no log while missing; lines once it exists
#   1 disk full, then freed                 lines dropped while full; lines again once freed; the
#                                           line the disk filled in is taken back, every line whole
#   1 log renamed while open                lines go on in the renamed file; the next rotation starts a
#                                           new file at the path
#   1 log deleted while open                the next line goes to a new file at the path
#   2 the path is a folder, removed later   no log while it is a folder; lines once it is gone
#   3 read-only file system, then writable  no log while read-only; lines once writable
# Args: <daemon> <device simulator> <work dir>
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_log_faults
DISK=$WORK/disk
LOGDIR=$DISK/logs
LOG=$LOGDIR/qov.log

HERE=$(cd "$(dirname "$0")" && pwd)
TAG="log faults"
LOG_FILE=$LOG
source "$HERE/lib.sh"
if [ "$(id -u)" != 0 ]; then
  say "SKIP: needs root to mount a small tmpfs (mount -t tmpfs -o size=64k)"
  exit 77
fi
rm -rf "$WORK"
mkdir -p "$DISK"
mount -t tmpfs -o size=64k qov_log_faults "$DISK" || { say "SKIP: mount -t tmpfs failed"; exit 77; }

DAEMON_PID=
on_cleanup 'umount -l "$DISK"'
life_frames() { awk '$2 == "frame" && $3 == 5' "$WORK/frames" 2>/dev/null | wc -l; }
# Waits until `cond` (a shell command) holds, up to $2 seconds.
wait_for() {
  local cond=$1 limit=$2 what=$3 i
  for ((i = 0; i < limit * 10; i++)); do
    eval "$cond" && return 0
    sleep 0.1
  done
  fail "$what (not within ${limit}s)"
}
# While a fault lasts: the daemon runs and the board gets life messages.
still_feeding() {
  local before
  before=$(life_frames)
  wait_for "[ \$(life_frames) -ge $((before + 2)) ]" 20 "the board was not fed during: $1"
  kill -0 "$DAEMON_PID" 2>/dev/null || fail "the daemon ended during: $1"
}
# Logging goes on at the path: a life message logged after now.
logging_resumes() {
  local before
  before=$(messages "$LOG" | grep -cxF "Life message send ok" || true)
  wait_for "[ \$(messages \"$LOG\" | grep -cxF 'Life message send ok' || true) -gt $before ]" 30 \
    "logging did not resume after: $1"
}
start_daemon() {
  NOTIFY_SOCKET= LC_ALL=C QOV_STATE_DIR="$WORK/state" "$DAEMON" --config "$WORK/qov.reg" 2>>"$WORK/daemon.err" &
  DAEMON_PID=$!
  PIDS+=("$DAEMON_PID")
  wait_for "[ \$(life_frames) -ge $(($(life_frames) + 1)) ]" 30 "the daemon never fed the board"
}
stop_daemon() {
  kill -TERM "$DAEMON_PID"
  local rc=0
  wait "$DAEMON_PID" || rc=$?
  DAEMON_PID=
  [ "$rc" = 0 ] || fail "daemon exit $rc"
}

start_board
write_config "$WORK/qov.reg" \
  "$(reg_sz log_file_path "$LOG")" \
  "$(reg_dword log_file_max_size 4)" `# rotation past 2 KiB` \
  "$(reg_sz qov_com_port "$PTY")" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_sz check_addr_0 "ICMP - 127.0.0.1")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword life_beakon_period_ms 500)" \
  "$(reg_dword system_load_log_enable 1)" \
  "$(reg_dword system_load_log_period_s 1)"
mkdir -p "$WORK/state"

# Run 1: the folder missing at start.
start_daemon
still_feeding "the missing folder"
[ ! -e "$LOG" ] || fail "a log appeared without its folder"
mkdir -p "$LOGDIR"
logging_resumes "the folder was made"
say "missing folder: fed throughout, logging once it existed"

# The disk fills up.
dd if=/dev/zero of="$DISK/filler" bs=1k 2>/dev/null || true
size_full=$(stat -c %s "$LOG")
still_feeding "the full disk"
still_feeding "the full disk"
[ "$(stat -c %s "$LOG")" -le $((size_full + 4096)) ] || fail "the log grew on a full disk"
rm -f "$DISK/filler"
logging_resumes "space was freed"
cut=$(tr -d '\r' <"$LOG" | grep -cE '.+[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9:]{8} - ' || true)
[ "$cut" = 0 ] || fail "$cut line(s) cut where the disk filled, run into the next:" \
  "$(tr -d '\r' <"$LOG" | grep -E '.+[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9:]{8} - ' | sed -n 1,1p)"
say "disk full: fed throughout, logging again once freed, every line whole"

# Renamed while open: lines go on in the renamed file until a rotation
# brings a new file at the path.
mv "$LOG" "$LOG.moved"
still_feeding "the renamed log"
wait_for "[ -f '$LOG' ]" 60 "no new log at the path after the rename"
logging_resumes "the rename"
[ "$(messages "$LOG.moved" | grep -cxF 'Life message send ok')" -gt 0 ] || fail "nothing went on in the renamed file"
say "renamed: lines went on in the renamed file, then a new file at the path"

# Deleted while open: the next line goes to a new file at the path.
rm -f "$LOG"
wait_for "[ -f '$LOG' ]" 30 "no new log at the path after the deletion"
logging_resumes "the deletion"
say "deleted: the next line in a new file at the path"
stop_daemon
[ "$(messages "$LOG" | tail -n 1)" = "Service stopped" ] || fail "last line '$(messages "$LOG" | tail -n 1)'"

# Run 2: the path is a folder.
rm -rf "$LOGDIR"
mkdir -p "$LOG"
start_daemon
still_feeding "the path being a folder"
[ -d "$LOG" ] || fail "the folder at the log path was touched"
rmdir "$LOG"
logging_resumes "the folder was removed"
stop_daemon
say "path is a folder: fed throughout, logging once it was gone"

# Run 3: a read-only file system.
rm -rf "$LOGDIR"
mkdir -p "$LOGDIR"
mount -o remount,ro,size=64k "$DISK"
start_daemon
still_feeding "the read-only file system"
[ ! -e "$LOG" ] || fail "a log on a read-only file system"
mount -o remount,rw,size=64k "$DISK"
logging_resumes "the file system became writable"
stop_daemon
say "read-only file system: fed throughout, logging once writable"
say "PASS"
