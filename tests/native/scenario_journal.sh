# The daemon's events in the journal: with event_log_enable each event is
# one journal entry with its text, priority, MESSAGE_ID and QOV_EVENT_ID.
# The journal is stood in for by a listener on its socket path, in a mount
# namespace of the test's own (as root; exits 77, skipped, without), so the
# machine's journal is never touched. Without a journal the events go to
# stderr, one line each.
# Args: <daemon> <device simulator> <work dir>
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_journal
HERE=$(cd "$(dirname "$0")" && pwd)
TAG=journal
source "$HERE/lib.sh"

if [ "${QOV_JOURNAL_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null; then
    say "SKIP: needs root for a mount namespace (unshare -m)"
    exit 77
  fi
  rm -rf "$WORK"
  mkdir -p "$WORK"
  # A private /run in a namespace of our own: the journal's socket path is ours there.
  QOV_JOURNAL_INSIDE=1 exec unshare -m --propagation private bash "$0" "$@"
fi

mount -t tmpfs qov_run /run
export QOV_STATE_DIR=$WORK/state  # the daemon's state and control FIFO
mkdir -p /run/systemd/journal

start_board
# Nothing listens on port 9: every cycle fails, the second one resets the modem.
write_config "$WORK/qov.reg" \
  "$(reg_dword event_log_enable 1)" \
  "$(reg_sz log_file_path "$WORK/qov.log")" \
  "$(reg_sz qov_com_port "$PTY")" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:9/")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword life_beakon_period_ms 10000)"

run_daemon_until_modem_reset() {
  "$DAEMON" --config "$WORK/qov.reg" 2>"$WORK/daemon.err" &
  local pid=$!
  PIDS+=("$pid")
  wait_log "modem reset ok" 30
  kill -TERM "$pid"
  wait "$pid" || fail "daemon exit $?"
}
# Waits until the file $1 holds the text $2, up to $3 seconds.
wait_for_text() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$1 never showed '$2' within $3 s"
}

# 1. No journal: one stderr line per event.
run_daemon_until_modem_reset
for line in "qov_lumo_service: event 1000 (information): The service started." \
  "qov_lumo_service: event 1200 (warning): Connectivity checks have failed for 1 cycles in a row." \
  "qov_lumo_service: event 1300 (warning): A modem reset was requested (2 failed cycles in a row, 0 modem resets)." \
  "qov_lumo_service: event 1001 (information): The service stopped."; do
  grep -qxF -- "$line" "$WORK/daemon.err" || fail "stderr lacks '$line'"
done
say "without a journal: $(grep -c ': event ' "$WORK/daemon.err") events on stderr"

# 2. A journal: the same events as entries with their fields, none on stderr.
python3 "$HERE/notify_listener.py" /run/systemd/journal/socket "$WORK/journal.log" &
PIDS+=($!)
for _ in $(seq 100); do [ -S /run/systemd/journal/socket ] && break; sleep 0.05; done
rm -f "$WORK/qov.log"
run_daemon_until_modem_reset
wait_for_text "$WORK/journal.log" "QOV_EVENT_ID=1001" 10
grep -q ': event ' "$WORK/daemon.err" && fail "events went to stderr too: $(cat "$WORK/daemon.err")"
entry() { grep -F "|QOV_EVENT_ID=$1|" "$WORK/journal.log" | sed -n 1p; }
[ "$(entry 1000)" = "MESSAGE=The service started.|PRIORITY=6|MESSAGE_ID=6d1f0a4c93b84e27a5c0e3b9000003e8|QOV_EVENT_ID=1000|SYSLOG_IDENTIFIER=qov_lumo_service|" ] ||
  fail "start entry: $(entry 1000)"
entry 1300 | grep -F "MESSAGE=A modem reset was requested (2 failed cycles in a row, 0 modem resets).|PRIORITY=4|" >/dev/null ||
  fail "modem reset entry: $(entry 1300)"
# 1002: resets with a start-up delay of 1 s.
[ "$(grep -o 'QOV_EVENT_ID=[0-9]*' "$WORK/journal.log" | sed -n 1,4p | tr '\n' ' ')" = "QOV_EVENT_ID=1000 QOV_EVENT_ID=1002 QOV_EVENT_ID=1200 QOV_EVENT_ID=1300 " ] ||
  fail "order: $(grep -o 'QOV_EVENT_ID=[0-9]*' "$WORK/journal.log" | tr '\n' ' ')"
say "journal entries: $(grep -o 'QOV_EVENT_ID=[0-9]*' "$WORK/journal.log" | tr '\n' ' ')"
say "PASS"
