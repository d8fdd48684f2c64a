# A stop never waits for what a worker is stuck in: stopped while its check
# target accepts and never answers, during the port's open retries and
# during an identification, the service reaches STOPPED at once (well within
# the checker's 2-s limit, nothing killed), "Service stopped" is the last
# line, its process is gone, and the board's timer is stopped whenever it ran.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

# Stops the service and checks how it ended; $1 names the case.
stop_and_check() {
  local what=$1 t0 t1 q0 q1 pids
  pids=$(service_pids)
  [ -n "$pids" ] || fail "$what: no service process"
  # Wine's own cost of one sc call, to tell it apart from the service's stop.
  q0=$(date +%s%N); service_state >/dev/null; q1=$(date +%s%N)
  t0=$(date +%s%N)
  wine sc stop $SERVICE >"$OUT/stop.out" 2>&1 || fail "$what: sc stop failed: $(cat "$OUT/stop.out")"
  # A second stop while the first is pending (the SCM may refuse it) changes nothing.
  wine sc stop $SERVICE >/dev/null 2>&1 || true
  wait_state 1 20
  t1=$(date +%s%N)
  local took=$(((t1 - t0) / 1000000)) overhead=$(((q1 - q0) / 1000000))
  log "$what: STOPPED ${took} ms after the stop control (one sc call costs ${overhead} ms)"
  # Wine's overhead aside, the stop ends in well under a second on an idle
  # machine; the bound stays below a silent board's 2.5-s identification and
  # the checker's 2-s limit, which a stop that waited would reach.
  [ $((took - 2 * overhead)) -lt 2000 ] || fail "$what: stop took ${took} ms"
  [ "$(last_log_message)" = "Service stopped" ] || fail "$what: last line is '$(last_log_message)'"
  [ "$(log_messages | grep -cxF "Service stopped")" = "$(log_messages | grep -cxF "Service started")" ] ||
    fail "$what: not one stop per run"
  for pid in $pids; do wait_pid_gone "$pid" 10 || fail "$what: service process $pid still runs"; done
}

start_check_target hang
start_device_sim_com3
import_config \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:$CHECK_PORT/")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword life_beakon_period_ms 1000)"
install_service

# 1. A probe in flight against a target that never answers (30 s bound).
start_service
wait_log "QOV timer init ok" 20
for _ in $(seq 100); do [ -s "$OUT/http.requests" ] && break; sleep 0.1; done
[ -s "$OUT/http.requests" ] || fail "the probe never reached the target"
sleep 0.5
stop_and_check "hanging check"
expect_log "QOV timer stop ok"
[[ "$(device_frames)" =~ 4\ $ ]] || fail "the timer stop was not the last frame: '$(device_frames)'"
expect_no_log "ping fail"

# 2. The identification of a silent board (a 2.5-s exchange).
rm -f "$(log_file)"
echo "mode silent" >"$OUT/sim.ctl"
start_service
wait_log "QOV COM port open ok (COM3)" 20
stop_and_check "identification"
expect_no_log "QOV timer init ok"
expect_no_log "QOV timer stop ok"

# 3. The open retries of a listed port that cannot be opened (5-s waits).
rm -f "$(log_file)"
ln -sfn /nonexistent/qov-port "$PREFIX/dosdevices/com7"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial9' /d COM7 /f >/dev/null 2>&1
import_config "$(reg_sz qov_com_port COM7)"
start_service
wait_log "Service started" 20
sleep 3
stop_and_check "open retries"
expect_no_log "QOV COM port open ok (COM7)"
