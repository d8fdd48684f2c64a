# Commissioning against the running daemon: "-TEST MODEM" makes the
# simulated board receive the modem-reset frame and exits 0, also in a dry
# run; a board that does not acknowledge makes it exit 1; "-TEST COMPUTER"
# sends nothing unless YES is typed or -SILENT given; without the daemon the
# command exits 3, and (as root) a user other than root is refused. The
# computer test is not stored for the reboot-loop guard.
# Args: <daemon> <device simulator> <work dir>
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_test_command
HERE=$(cd "$(dirname "$0")" && pwd)
TAG=test_command
source "$HERE/lib.sh"
rm -rf "$WORK"
mkdir -p "$WORK/state"
export QOV_STATE_DIR=$WORK/state

# Runs the command with the words in "$@" (stdin from the caller); sets RC.
test_cmd() { RC=0; "$DAEMON" "$@" >"$WORK/cmd.out" 2>"$WORK/cmd.err" || RC=$?; }
expect_rc() { [ "$RC" = "$1" ] || fail "$2: exit $RC, $(cat "$WORK/cmd.out" "$WORK/cmd.err")"; }
count_frames() { local n=0 f; for f in $(frames); do [ "$f" = "$1" ] && n=$((n + 1)); done; echo "$n"; }

test_cmd -TEST MODEM </dev/null
expect_rc 3 "without the daemon"
grep -q "The service is not running" "$WORK/cmd.err" || fail "not running: $(cat "$WORK/cmd.err")"
test_cmd -TEST ROUTER </dev/null
expect_rc 2 "an unknown target"

start_board
write_config "$WORK/qov.reg" \
  "$(reg_sz log_file_path "$WORK/qov.log")" \
  "$(reg_sz metrics_file_path "$WORK/qov.prom")" \
  "$(reg_dword metrics_period_s 1)" \
  "$(reg_sz qov_com_port "$PTY")" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_sz check_addr_0 "ICMP - 127.0.0.1")" \
  "$(reg_dword check_ok_period_s 5)" \
  "$(reg_dword reset_comp_max_per_day 1)" \
  "$(reg_dword reset_dry_run 1)" \
  "$(reg_dword life_beakon_period_ms 60000)"
"$DAEMON" --config "$WORK/qov.reg" 2>"$WORK/daemon.err" &
DAEMON_PID=$!
PIDS+=("$DAEMON_PID")
wait_log "QOV timer init ok" 10
for _ in $(seq 50); do [ -p "$WORK/state/control" ] && break; sleep 0.1; done
[ -p "$WORK/state/control" ] || fail "no control FIFO: $(ls -la "$WORK/state")"
[ "$(stat -c %a "$WORK/state/control")" = 600 ] || fail "FIFO mode $(stat -c %a "$WORK/state/control")"

# 1. The modem: sent even in a dry run, acknowledged, exit 0.
test_cmd -TEST MODEM </dev/null
expect_rc 0 "-TEST MODEM"
[ "$(count_frames 2)" = 1 ] || fail "modem-reset frames: $(frames)"
messages | grep -A1 -xF "modem reset requested by test" | grep -xF "modem reset ok" >/dev/null || fail "no 'modem reset ok' after the request"

# 2. Only root may ask.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  RC=0
  setpriv --reuid=65534 --regid=65534 --clear-groups "$DAEMON" -TEST MODEM </dev/null >"$WORK/cmd.out" 2>"$WORK/cmd.err" || RC=$?
  expect_rc 1 "-TEST MODEM as nobody"
  grep -q "only an administrator or root may ask" "$WORK/cmd.err" || fail "as nobody: $(cat "$WORK/cmd.err")"
  [ "$(count_frames 2)" = 1 ] || fail "nobody's request reached the board: $(frames)"
else
  say "not root: the refusal of other users is not checked"
fi

# 3. A board that does not acknowledge: exit 1, and the log says so.
echo "mode silent" >"$WORK/sim.ctl"
sleep 0.3
test_cmd -TEST MODEM </dev/null
expect_rc 1 "-TEST MODEM to a silent board"
grep -q "did not acknowledge" "$WORK/cmd.err" || fail "silent board: $(cat "$WORK/cmd.err")"
wait_log "modem reset fail" 5
echo "mode normal" >"$WORK/sim.ctl"
sleep 0.3

# 4. The computer: not without YES, then with -SILENT.
echo no | test_cmd -TEST COMPUTER
expect_rc 1 "-TEST COMPUTER answered no"
grep -q "Type YES to go on:" "$WORK/cmd.out" || fail "no question: $(cat "$WORK/cmd.out")"
[ "$(count_frames 174)" = 0 ] || fail "a computer reset went out without YES: $(frames)"
test_cmd -TEST COMPUTER -SILENT </dev/null
expect_rc 0 "-TEST COMPUTER -SILENT"
[ "$(count_frames 174)" = 1 ] || fail "computer-reset frames: $(frames)"
messages | grep -A1 -xF "reset pc requested by test" | grep -xF "reset pc ok" >/dev/null || fail "no 'reset pc ok' after the request"
grep -rqs reset_comp_times "$WORK/state" && fail "the test's computer reset was stored for the guard"
for _ in $(seq 30); do
  grep -qx 'qov_resets_total{kind="computer"} 1' "$WORK/qov.prom" 2>/dev/null && break
  sleep 0.1
done
grep -qx 'qov_resets_total{kind="computer"} 1' "$WORK/qov.prom" || fail "metrics: $(grep resets "$WORK/qov.prom")"
grep -qx 'qov_resets_total{kind="modem"} 1' "$WORK/qov.prom" || fail "metrics: $(grep resets "$WORK/qov.prom")"

kill -TERM "$DAEMON_PID"
rc=0; wait "$DAEMON_PID" || rc=$?
[ "$rc" = 0 ] || fail "daemon exit $rc"
[ -e "$WORK/state/control" ] && fail "the control FIFO outlived the daemon"
test_cmd -TEST MODEM </dev/null
expect_rc 3 "after the stop"
say "frames: $(frames)"
say "PASS"
