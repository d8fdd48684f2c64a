# The Linux daemon end to end, natively: install and remove its systemd unit
# (checked by systemd-analyze), run it against the simulated board on a pty,
# an HTTP check target and ICMP to 127.0.0.1, with systemd's notify socket
# and watchdog stood in for; escalation reaches the board, SIGHUP is
# ignored, SIGTERM stops it with the timer stop, and a broken configuration
# file is a start failure that names the file and line, as is one that others
# could change. Links planted where it writes (the unit, the metrics file's
# temporary) are never written through. -STATUS reads the status record:
# 0 while healthy, 1 with failing checks (and the cycles left before the
# modem reset), 3 after the stop and for a record left by a run that died.
# Args: <daemon> <device simulator> <work dir>
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_daemon
HERE=$(cd "$(dirname "$0")" && pwd)
TAG=daemon
source "$HERE/lib.sh"
rm -rf "$WORK"
mkdir -p "$WORK"
# The state, the status record and the control FIFO stay in the work folder.
export QOV_STATE_DIR=$WORK/state

# Runs -STATUS until it exits $1 (up to 10 s: the record follows a change
# within moments); its text is left in $WORK/status.out.
wait_status() {
  local want=$1 rc i
  for ((i = 0; i < 100; i++)); do
    rc=0; "$DAEMON" -STATUS >"$WORK/status.out" 2>&1 || rc=$?
    [ "$rc" = "$want" ] && return 0
    sleep 0.1
  done
  fail "-STATUS exit $rc, not $want: $(cat "$WORK/status.out")"
}

# 1. The systemd unit: never written through a link planted at its name, and
# readable by all whatever the umask.
export QOV_SYSTEMD_UNIT_DIR=$WORK/units
mkdir -p "$QOV_SYSTEMD_UNIT_DIR"
unit=$QOV_SYSTEMD_UNIT_DIR/qov_lumo_service.service
echo "victim" >"$WORK/victim"
for target in "$WORK/victim" "$WORK/created"; do
  ln -s "$target" "$unit"
  rc=0; "$DAEMON" -INSTALL -SILENT 2>"$WORK/planted.err" || rc=$?
  [ "$rc" = 1 ] || fail "install over a planted link exit $rc"
  [ "$(cat "$WORK/victim")" = victim ] && [ ! -e "$WORK/created" ] || fail "the install wrote through a link"
  rm "$unit"
done
(umask 077 && "$DAEMON" -INSTALL -SILENT 2>"$WORK/install.err") || fail "install exit $?: $(cat "$WORK/install.err")"
[ -f "$unit" ] || fail "no unit file"
[ "$(stat -c %a "$unit")" = 644 ] || fail "unit mode $(stat -c %a "$unit")"
grep -qx "ExecStart=$DAEMON" "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
grep -qx "Type=notify" "$unit" && grep -qx "WatchdogSec=30" "$unit" && grep -qx "Restart=on-failure" "$unit" &&
  grep -qx "Documentation=man:qov_lumo_service(8) man:qov_lumo.reg(5)" "$unit" ||
  fail "unit: $(cat "$unit")"
# The man pages Documentation= names come with the Debian package, not installed here.
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify --man=no "$unit" 2>"$WORK/verify.err" || fail "systemd-analyze verify: $(cat "$WORK/verify.err")"
fi
rc=0; "$DAEMON" -INSTALL -SILENT 2>"$WORK/again.err" || rc=$?
[ "$rc" = 1 ] || fail "second install exit $rc"
grep -q 'Service "QOV Lumo Service" failed to install with error' "$WORK/again.err" || fail "again: $(cat "$WORK/again.err")"
"$DAEMON" -UNINSTALL -SILENT 2>"$WORK/uninstall.err" || fail "uninstall: $(cat "$WORK/uninstall.err")"
[ ! -e "$unit" ] || fail "unit left behind"
rc=0; "$DAEMON" -UNINSTALL -SILENT 2>/dev/null || rc=$?
[ "$rc" = 1 ] || fail "uninstall of a missing unit exit $rc"
unset QOV_SYSTEMD_UNIT_DIR
say "unit installed, verified and removed"

# 2. A broken configuration file stops the start with its name and line.
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n"qov_com_port"=dword:xyz\r\n' >"$WORK/broken.reg"
rc=0; "$DAEMON" --config "$WORK/broken.reg" 2>"$WORK/broken.err" || rc=$?
[ "$rc" = 1 ] || fail "broken configuration exit $rc"
grep -q "$WORK/broken.reg:4:" "$WORK/broken.err" || fail "broken: $(cat "$WORK/broken.err")"
# A configuration that others could change is refused, by the run and by -CHECK alike.
write_config "$WORK/shared.reg" "$(reg_sz qov_com_port /dev/null)"
chmod g+w "$WORK/shared.reg"
for mode in run -CHECK; do
  rc=0; timeout 20 "$DAEMON" --config "$WORK/shared.reg" ${mode#run} >/dev/null 2>"$WORK/shared.err" || rc=$?
  [ "$rc" = 1 ] || fail "$mode with a group-writable configuration exit $rc"
  grep -qF "$WORK/shared.reg: refused: writable by its group (mode 0664)" "$WORK/shared.err" ||
    fail "$mode shared: $(cat "$WORK/shared.err")"
done

# 3. The daemon at work.
start_board
start_check_target 200
python3 "$HERE/notify_listener.py" "$WORK/notify.sock" "$WORK/notify.log" &
PIDS+=($!)
for _ in $(seq 100); do [ -S "$WORK/notify.sock" ] && break; sleep 0.05; done
# Someone planted a link at the metrics file's former temporary name.
ln -s "$WORK/victim" "$WORK/qov.prom.tmp"
write_config "$WORK/qov.reg" \
  "$(reg_sz log_file_path "$WORK/qov.log")" \
  "$(reg_sz metrics_file_path "$WORK/qov.prom")" \
  "$(reg_sz qov_com_port "$PTY")" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 2)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:$PORT/check")" \
  "$(reg_sz check_addr_1 "ICMP - 127.0.0.1")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword life_beakon_period_ms 1000)"
# Usage, version and unknown words answer at once and never reach the board.
"$DAEMON" --help --config "$WORK/qov.reg" >"$WORK/help.out" 2>&1 || fail "--help exit $?"
grep -q '^Usage: ' "$WORK/help.out" && grep -q -- '--config FILE' "$WORK/help.out" || fail "--help: $(cat "$WORK/help.out")"
"$DAEMON" --version >"$WORK/version.out" 2>&1 || fail "--version exit $?"
grep -qE '^QOV Lumo Service [0-9]+(\.[0-9]+){3}$' "$WORK/version.out" || fail "--version: $(cat "$WORK/version.out")"
wait_status 3
grep -qx 'QOV Lumo service: not running (no status record)' "$WORK/status.out" || fail "no record: $(cat "$WORK/status.out")"
rc=0; "$DAEMON" --frobnicate --config "$WORK/qov.reg" >"$WORK/unknown.out" 2>"$WORK/unknown.err" || rc=$?
[ "$rc" = 2 ] && [ ! -s "$WORK/unknown.out" ] && grep -q '^Usage: ' "$WORK/unknown.err" || fail "unknown word: exit $rc"
[ -z "$(frames)" ] && [ ! -e "$WORK/qov.log" ] || fail "a switch reached the board or the log: $(frames)"
NOTIFY_SOCKET=$WORK/notify.sock WATCHDOG_USEC=1000000 "$DAEMON" --config "$WORK/qov.reg" 2>"$WORK/daemon.err" &
DAEMON_PID=$!
PIDS+=("$DAEMON_PID")
wait_log "Service started" 10
wait_log "QOV COM port open ok ($PTY)" 10
wait_log "QOV timer init ok" 10
wait_log "ping ok" 15 2
grep -q ' /check 200$' "$WORK/http.requests" || fail "the HTTP target saw no request"
grep -q '/libcurl\.so' "/proc/$DAEMON_PID/maps" || fail "an HTTP check ran without libcurl mapped"
grep -qx 'READY=1|STATUS=Running' "$WORK/notify.log" || fail "no READY: $(cat "$WORK/notify.log")"
for _ in $(seq 50); do [ "$(grep -cx 'WATCHDOG=1' "$WORK/notify.log")" -ge 2 ] && break; sleep 0.1; done
[ "$(grep -cx 'WATCHDOG=1' "$WORK/notify.log")" -ge 2 ] || fail "systemd's watchdog was not fed"
wait_status 0
head -n 1 "$WORK/status.out" | grep -E '^QOV Lumo service: running since .+; board running; checks passing$' >/dev/null &&
  grep -qF "Board: port $PTY, running, last acknowledgement " "$WORK/status.out" &&
  grep -qE "^Service: running since .*, process $DAEMON_PID, record written [0-9]+ s ago$" "$WORK/status.out" ||
  fail "healthy status: $(cat "$WORK/status.out")"
[ "$(stat -c %a "$QOV_STATE_DIR/status")" = 644 ] || fail "status record mode $(stat -c %a "$QOV_STATE_DIR/status")"
grep -q '^STATUS=QOV Lumo service: running since .*; board running; checks passing$' "$WORK/notify.log" ||
  fail "no STATUS= line: $(cat "$WORK/notify.log")"

for _ in $(seq 50); do [ -f "$WORK/qov.prom" ] && break; sleep 0.1; done
grep -qx "qov_up 1" "$WORK/qov.prom" || fail "no metrics file"
[ "$(cat "$WORK/victim")" = victim ] || fail "the metrics went through a link: $(cat "$WORK/victim")"
[ "$(stat -c %a "$WORK/qov.prom")" = 644 ] && [ "$(stat -c %a "$WORK/qov.log")" = 640 ] ||
  fail "modes: metrics $(stat -c %a "$WORK/qov.prom"), log $(stat -c %a "$WORK/qov.log")"

kill -HUP "$DAEMON_PID"
sleep 0.3
kill -0 "$DAEMON_PID" 2>/dev/null || fail "SIGHUP ended the daemon"

# The HTTP target fails; ICMP to 127.0.0.1 still answers, so cycles pass.
echo 503 >"$WORK/http.mode"
oks=$(messages | grep -cxF "ping ok")
wait_log "ping ok" 10 $((oks + 2))
# Restarted with ICMP only, to a reserved address no host can answer (240/4
# is never routed), every cycle fails and the first escalation resets the
# modem; libcurl, which only HTTP checks use, is never mapped.
kill -TERM "$DAEMON_PID"
wait "$DAEMON_PID" || fail "daemon exit $?"
sed -i 's/"check_addr_\([01]\)"=.*/"check_addr_\1"="ICMP - 240.0.0.1"\r/' "$WORK/qov.reg"
printf '"check_wait_resp_s"=dword:00000001\r\n' >>"$WORK/qov.reg"
NOTIFY_SOCKET=$WORK/notify.sock "$DAEMON" --config "$WORK/qov.reg" 2>>"$WORK/daemon.err" &
DAEMON_PID=$!
PIDS+=("$DAEMON_PID")
wait_log "modem reset ok" 30
! grep -q '/libcurl\.so' "/proc/$DAEMON_PID/maps" || fail "libcurl mapped with ICMP checks only"
for _ in $(seq 30); do [[ "$(frames)" =~ \ 2\  ]] && break; sleep 0.1; done
[[ "$(frames)" =~ \ 2\  ]] || fail "no modem-reset frame: $(frames)"
# Every cycle fails: degraded, with the cycles left before the next modem
# reset (check_fail_loop_count 1: two after a reset) and no computer reset.
wait_status 1
head -n 1 "$WORK/status.out" |
  grep -qE '^QOV Lumo service: running since .+; board running; checks failing \([0-9]+ cycles?\), modem reset in [12] cycles?$' &&
  grep -qE '^Checks: last cycle failed .+ \([0-9]+ s ago\), [0-9]+ cycles? failed in a row, next cycle due ' "$WORK/status.out" &&
  grep -qE '^Escalation: modem reset in [12] cycles?, computer reset disabled$' "$WORK/status.out" ||
  fail "failing status: $(cat "$WORK/status.out")"
grep -q '^STATUS=QOV Lumo service: running since .*; checks failing ([0-9]* cycles\?), modem reset in' "$WORK/notify.log" ||
  fail "no failing STATUS= line: $(cat "$WORK/notify.log")"

# Stop signals in a burst make one stop.
t0=$(date +%s%N)
kill -TERM "$DAEMON_PID"
sleep 0.05
kill -TERM "$DAEMON_PID" 2>/dev/null || true
kill -INT "$DAEMON_PID" 2>/dev/null || true
rc=0; wait "$DAEMON_PID" || rc=$?
t1=$(date +%s%N)
[ "$rc" = 0 ] || fail "daemon exit $rc"
say "stopped $(((t1 - t0) / 1000000)) ms after SIGTERM; frames: $(frames)"
[ "$(messages | tail -n 1)" = "Service stopped" ] || fail "last line '$(messages | tail -n 1)'"
[ "$(messages | grep -cxF "Service stopped")" = 2 ] || fail "not one stop per run: $(messages | grep -cxF "Service stopped")"
grep -qxF "QOV timer stop ok" <(messages) || fail "no timer stop"
[[ "$(frames)" =~ 4\ $ ]] || fail "the timer stop was not the last frame: $(frames)"
grep -q '^STOPPING=1|STATUS=Stopping|EXTEND_TIMEOUT_USEC=' "$WORK/notify.log" || fail "no STOPPING: $(cat "$WORK/notify.log")"
wait_status 3
grep -qE '^QOV Lumo service: not running \(stopped at .+\)$' "$WORK/status.out" || fail "stopped: $(cat "$WORK/status.out")"
# A record left "running" by a run that died names a process that has ended.
sed -i "s/^state=.*/state=running/; s/^written=.*/written=$(date +%s)/" "$QOV_STATE_DIR/status"
wait_status 3
grep -qx "QOV Lumo service: not running (the process $DAEMON_PID that wrote the status record has ended)" "$WORK/status.out" ||
  fail "dead run: $(cat "$WORK/status.out")"
say "PASS"
