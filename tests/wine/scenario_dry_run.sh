# A dry run under Wine: with reset_dry_run set, every cycle fails and the
# escalation reaches a modem and a computer reset; both are logged as
# skipped, reported as events (1300, 1301) and counted in the metrics file
# like sent ones, and the board receives no reset frame. Nothing is stored
# for the reboot-loop guard. The Windows build's -REPORT reads the log back
# with the same counts.
export QOV_WINEDEBUG=-all,err+eventlog,warn+eventlog,fixme+advapi
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

METRICS=$DRIVE_C/metrics/qov.prom
mkdir -p "$(dirname "$METRICS")"
start_device_sim_com3
# Nothing listens on port 9: every cycle fails; the second one escalates.
import_config \
  "$(reg_dword event_log_enable 1)" \
  "$(reg_sz metrics_file_path 'C:\metrics\qov.prom')" \
  "$(reg_dword metrics_period_s 1)" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 'HTTP - 127.0.0.1:9/')" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword reset_comp 1)" \
  "$(reg_dword check_fail_loop_count_before_reset_comp 0)" \
  "$(reg_dword reset_dry_run 1)" \
  "$(reg_dword life_beakon_period_ms 60000)"
install_service
start_service
wait_log "QOV timer init ok" 20
wait_log "modem reset skipped (dry run)" 30
wait_log "reset pc skipped (dry run)" 30
for _ in $(seq 50); do grep -qx 'qov_resets_total{kind="computer"} [1-9][0-9]*' "$METRICS" 2>/dev/null && break; sleep 0.1; done
grep -qx 'qov_resets_total{kind="computer"} [1-9][0-9]*' "$METRICS" || fail "metrics: $(grep resets "$METRICS" 2>&1)"
grep -qx 'qov_resets_total{kind="modem"} [1-9][0-9]*' "$METRICS" || fail "metrics: $(grep resets "$METRICS" 2>&1)"
stop_service
wait_state 1 15

expect_no_log "modem reset ok"
expect_no_log "reset pc ok"
log "frames: $(device_frames)"
for code in 2 174; do
  [[ " $(device_frames)" =~ \ $code\  ]] && fail "reset frame $code reached the board: $(device_frames)"
done
grep -ah 'fixme:advapi:ReportEventA' "$OUT"/*.err | tr -d '\r' >"$OUT/reports" || true
ids=$(sed -E 's/.*ReportEventA \([^,]*,0x[0-9a-f]+,0x[0-9a-f]+,0x([0-9a-f]+),.*/\1/' "$OUT/reports" |
  while read -r id; do echo "$((16#$id))"; done | tr '\n' ' ')
log "event IDs: $ids"
[[ " $ids " =~ \ 1300\  ]] || fail "no modem-reset event: $ids"
[[ " $ids " =~ \ 1301\  ]] || fail "no computer-reset event: $ids"
if wine reg query 'HKLM\Software\Vopa\QOV Lumo\State' /v last_reset_reason >/dev/null 2>&1; then
  fail "a dry-run computer reset was stored: $(wine reg query 'HKLM\Software\Vopa\QOV Lumo\State' 2>&1)"
fi
report=$(run_service_exe -REPORT 'C:\qov_log.txt' - 2>/dev/null | tr -d '\r')
for pair in "modem resets:modem reset skipped (dry run)" "computer resets:reset pc skipped (dry run)" "checks failed:ping fail"; do
  n=$(log_messages | grep -cxF -- "${pair#*:}" || true)
  grep -qx "  ${pair%%:*}: $n" <<<"$report" || fail "report lacks '${pair%%:*}: $n': $report"
done
