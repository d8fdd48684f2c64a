# The checker against a check target on 127.0.0.1: "ping ok" while it answers;
# once it fails, "ping fail" cycles, a redial after each, and escalations that
# reach the simulated board as modem-reset and computer-reset frames.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

# Runs -STATUS until it exits $1 (up to 20 s: the record follows a change
# within moments); its text, without the console's CRs, in $OUT/status.out.
wait_status() {
  local want=$1 rc i
  for ((i = 0; i < 20; i++)); do
    rc=0; run_service_exe -STATUS >"$OUT/status.raw" 2>"$OUT/status.err" || rc=$?
    tr -d '\r' <"$OUT/status.raw" >"$OUT/status.out"
    if [ "$rc" = "$want" ]; then
      log "-STATUS $rc: $(head -n 1 "$OUT/status.out")"
      return 0
    fi
    sleep 0.5
  done
  fail "-STATUS exit $rc, not $want: $(cat "$OUT/status.out" "$OUT/status.err")"
}

start_device_sim_com3
start_check_target 200
install_rasdial_standin
# Fail counter 0, 1: the 2nd failed cycle escalates, and with a threshold of 1
# every failed cycle after it; the 2nd modem reset passes the limit of 1 and
# brings the computer reset in the same cycle. -STATUS meanwhile: healthy,
# then degraded with the reset just recorded, and not running after the stop.
import_config \
  "$(reg_dword connection_need_dial 1)" \
  "$(reg_sz connection_name 'Check ISP')" \
  "$(reg_dword check_addr_count 2)" \
  "$(reg_sz check_addr_0 'ICMP - qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq')" \
  "$(reg_sz check_addr_1 "HTTP - 127.0.0.1:$CHECK_PORT/check")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword check_fail_loop_count_before_reset_comp 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword reset_comp 1)" \
  "$(reg_dword life_beakon_period_ms 1000)"
install_service
start_service
wait_state 4
wait_log "QOV timer init ok" 20
wait_log "ping ok" 15 2
expect_no_log "ping fail"
wait_status 0
head -n 1 "$OUT/status.out" | grep -E '^QOV Lumo service: running since .+; board running; checks passing$' >/dev/null &&
  grep -qx 'Board: port COM3, running, last acknowledgement .* s ago)' "$OUT/status.out" ||
  fail "healthy status: $(cat "$OUT/status.out")"
grep -q ' /check 200$' "$OUT/http.requests" || fail "the target saw no request"
dials=$(log_messages | grep -cxF 'Open Internet-connection "Check ISP"')

check_target_mode 503
wait_log "ping fail" 15 2
wait_log "modem reset ok" 15 1
wait_log "modem reset ok" 15 2
wait_log "reset pc ok" 15 1
# Failing, with the computer reset just asked for in the record.
wait_status 1
head -n 1 "$OUT/status.out" |
  grep -qE '^QOV Lumo service: running since .+; board running; checks failing \([0-9]+ cycles?\), modem reset in [12] cycles?$' &&
  grep -qE '^Escalation: modem reset in [12] cycles?, computer reset in [0-9]+ cycles?$' "$OUT/status.out" &&
  grep -qx 'Computer resets in the last 24 h: [1-9][0-9]* (no daily limit)' "$OUT/status.out" &&
  grep -qE '^Last computer reset: .+ \([0-9]+ failed cycles in a row, [0-9]+ modem resets\)$' "$OUT/status.out" ||
  fail "failing status: $(cat "$OUT/status.out")"
# Every failed cycle cleared the connection, so the supervisor dialled again.
now_dials=$(log_messages | grep -cxF 'Open Internet-connection "Check ISP"')
[ "$now_dials" -gt "$dials" ] || fail "no redial after failed cycles ($dials -> $now_dials)"
calls=$(tr -d '\r' <"$DRIVE_C/rasdial_calls.txt" | wc -l)
[ "$calls" -ge 3 ] || fail "rasdial ran $calls times"
# The computer reset follows its log line after a second.
for _ in $(seq 30); do [[ "$(device_frames)" =~ 174 ]] && break; sleep 0.1; done
log "frames: $(device_frames)"
[[ "$(device_frames)" =~ 2\ (5\ )*2\ (5\ )*174 ]] || fail "frames '$(device_frames)' lack 2 .. 2 .. 174"

# Back up: the next cycle succeeds again.
check_target_mode 200
oks=$(log_messages | grep -cxF "ping ok")
wait_log "ping ok" 15 $((oks + 1))
stop_service
wait_state 1 15
wait_status 3
grep -qE '^QOV Lumo service: not running \(stopped at .+\)$' "$OUT/status.out" || fail "stopped: $(cat "$OUT/status.out")"

