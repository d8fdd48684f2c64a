# Dial mode with a stand-in rasdial: the first pass dials at once with the
# exact command line, every failed check cycle dials again, and without a
# rasdial program the dial fails and is retried on every pass.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

install_rasdial_standin
# Nothing listens on port 9: every HTTP check fails at once.
import_config \
  "$(reg_dword connection_need_dial 1)" \
  "$(reg_sz connection_name 'Demo ISP')" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 'HTTP - 127.0.0.1:9/')" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)"
install_service
start_service
wait_log "Service started" 20
wait_log 'Open Internet-connection "Demo ISP"' 5
expect_no_log "Wait 10 min after start"
wait_log "ping fail" 10 2
wait_log 'Open Internet-connection "Demo ISP"' 10 3
# The log line comes when the process is created; the stand-in writes its
# call a moment later: wait for the third call.
for ((i = 0; i < 100; i++)); do
  [ "$(tr -d '\r' <"$DRIVE_C/rasdial_calls.txt" 2>/dev/null | grep -c .)" -ge 3 ] && break
  sleep 0.1
done
calls=$(tr -d '\r' <"$DRIVE_C/rasdial_calls.txt")
first=$(head -n 1 <<<"$calls")
[ "$first" = 'rasdial "Demo ISP"' ] || fail "rasdial saw '$first'"
[ "$(wc -l <<<"$calls")" -ge 3 ] || fail "rasdial ran $(wc -l <<<"$calls") times"
stop_service
wait_state 1 15

# Without any rasdial program the dial cannot start.
rm -f "$DRIVE_C/windows/system32/rasdial.exe" "$DRIVE_C/qov_log.txt"
start_service
wait_log 'Unable to open Internet-connection "Demo ISP"' 20 5
expect_no_log 'Open Internet-connection "Demo ISP"'
stop_service
wait_state 1 15
