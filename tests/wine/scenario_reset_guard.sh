# The reboot-loop guard across a restart: with reset_comp_max_per_day 1 the
# first computer reset reaches the board; the service, restarted as the
# reset would restart it, logs "Previous computer reset: ..." after
# "Service started", and at its next escalation "reset pc suppressed (1 in
# 24 h)" instead of sending a second computer reset.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

start_device_sim_com3
# Nothing listens on port 9: every cycle fails at once.
import_config \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 'HTTP - 127.0.0.1:9/')" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword reset_comp 1)" \
  "$(reg_dword reset_comp_max_per_day 1)" \
  "$(reg_dword life_beakon_period_ms 60000)"
install_service
start_service
wait_log "QOV timer init ok" 20
wait_log "reset pc ok" 30
for _ in $(seq 60); do [[ "$(device_frames)" =~ 174 ]] && break; sleep 0.1; done
[[ "$(device_frames)" =~ 174 ]] || fail "the first computer reset never reached the board: $(device_frames)"
stop_service
wait_state 1 15
# The State key takes and flushes the record.
log_messages | grep '^reset history write fail' >/dev/null && fail "$(log_messages | grep '^reset history write fail')"
wine reg query 'HKLM\Software\Vopa\QOV Lumo\State' /v last_reset_reason 2>/dev/null | tr -d '\r' |
  grep -q 'failed cycles in a row' || fail "no reset record: $(wine reg query 'HKLM\Software\Vopa\QOV Lumo\State' 2>&1)"

# The restart the reset would have caused.
: >"$OUT/frames"
rm -f "$(log_file)"
start_service
wait_log "Service started" 20
[ "$(log_messages | sed -n 2p)" != "" ] || fail "nothing after Service started"
log_messages | sed -n 2p | grep -E '^Previous computer reset: .+ \([0-9]+ failed cycles in a row, [0-9]+ modem resets\)$' >/dev/null ||
  fail "second line is '$(log_messages | sed -n 2p)'"
wait_log "reset pc suppressed (1 in 24 h)" 30
sleep 1.5  # a computer reset would reach the board a second after its request
stop_service
wait_state 1 15
expect_no_log "reset pc ok"
[[ "$(device_frames)" =~ 174 ]] && fail "a second computer reset reached the board: $(device_frames)"
[ "$(log_messages | grep -c '^Previous computer reset')" = 1 ] || fail "the previous reset was reported more than once"
log "frames after the restart: $(device_frames)"
