# Escalation with both reset flags and the default limit of 2 modem resets:
# escalations 1 and 2 ask for modem resets, escalation 3 for a modem reset and,
# in the same cycle, a computer reset, which reaches the board a second after
# "reset pc ok".
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
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword reset_comp 1)" \
  "$(reg_dword life_beakon_period_ms 60000)"
install_service
start_service
wait_log "QOV timer init ok" 20
wait_log "reset pc ok" 30
for _ in $(seq 40); do [[ "$(device_frames)" =~ 174 ]] && break; sleep 0.1; done
stop_service
wait_state 1 15

log "frames: $(device_frames)"
# Reset frames only (life messages are a minute apart here).
resets=$(awk '$2 == "frame" && ($3 == 2 || $3 == 174) {print $3}' "$OUT/frames" | sed -n 1,4p | tr '\n' ' ')
[ "$resets" = "2 2 2 174 " ] || fail "reset frames '$resets', expected 2 2 2 174"
[ "$(log_messages | grep -cxF 'modem reset ok')" -ge 3 ] || fail "fewer than 3 modem resets logged"
# The failed-cycle counter starts at 0, so with a threshold of 1 the first
# escalation comes at the second failed cycle.
first_fails=$(log_messages | grep -xE 'ping fail|modem reset ok' | sed -n 1,3p | tr '\n' '|')
[ "$first_fails" = "ping fail|ping fail|modem reset ok|" ] || fail "escalation order '$first_fails'"
t_mr=$(awk '$2 == "frame" && $3 == 2 {t = $1; n++; if (n == 3) {print t; exit}}' "$OUT/frames")
t_pc=$(awk '$2 == "frame" && $3 == 174 {print $1; exit}' "$OUT/frames")
gap=$((t_pc - t_mr))
log "third modem reset to computer reset: ${gap} ms"
{ [ "$gap" -ge 1000 ] && [ "$gap" -lt 6000 ]; } || fail "computer reset ${gap} ms after the modem reset"
