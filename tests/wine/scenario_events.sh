# Event-log events under Wine: with event_log_enable the service reports its
# start, a configuration problem, the failing checks, a modem and a computer
# reset request and its stop, each with its ID and level. Wine prints each
# ReportEventA call (type and ID) as an advapi fixme and its insertion
# strings under the level's channel (err:, warn:) on the session's stderr.
export QOV_WINEDEBUG=-all,err+eventlog,warn+eventlog,fixme+advapi
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

start_device_sim_com3
# Nothing listens on port 9: every cycle fails; the second one escalates.
import_config \
  "$(reg_dword event_log_enable 1)" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 'HTTP - 127.0.0.1:9/')" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword reset_comp 1)" \
  "$(reg_dword check_fail_loop_count_before_reset_comp 0)" \
  "$(reg_dword life_beakon_period_ms 60000)"
install_service
start_service
wait_log "QOV timer init ok" 20
wait_log "reset pc ok" 30
stop_service
wait_state 1 15

# "<type> <ID>" per ReportEventA call of the session (type 1 error, 2 warning, 4 information).
reports() {
  grep -ah 'fixme:advapi:ReportEventA' "$OUT"/*.err 2>/dev/null | tr -d '\r' |
    sed -E 's/.*ReportEventA \([^,]*,0x([0-9a-f]+),0x[0-9a-f]+,0x([0-9a-f]+),.*/\1 \2/' |
    while read -r type id; do echo "$((16#$type)) $((16#$id))"; done
}
reports >"$OUT/reports"
all=$(tr '\n' ';' <"$OUT/reports")
log "reports: $all"
# Start, the short start-up delay with resets, checks failing once, then the
# escalation of the second cycle: modem reset, computer reset.
[ "$(sed -n 1,5p "$OUT/reports" | tr '\n' ';')" = "4 1000;2 1002;2 1200;2 1300;1 1301;" ] || fail "first reports: $all"
[ "$(tail -n 1 "$OUT/reports")" = "4 1001" ] || fail "the stop was not the last report: $all"
# Between them only further escalations of cycles before the stop.
if sed '1,5d;$d' "$OUT/reports" | grep -vxE '2 1300|1 1301' >/dev/null; then fail "unexpected reports: $all"; fi

grep -ah 'eventlog:ReportEventW' "$OUT"/*.err | tr -d '\r' >"$OUT/strings" || true
has_string() { grep -qF -- "$1" "$OUT/strings" || fail "no report '$1' in: $(cat "$OUT/strings")"; }
has_string 'warn:eventlog:ReportEventW L"resets are enabled with a start-up delay of 1 s'
has_string 'warn:eventlog:ReportEventW L"2 failed cycles in a row, 0 modem resets"'
has_string 'err:eventlog:ReportEventW L"2 failed cycles in a row, 1 modem resets"'

