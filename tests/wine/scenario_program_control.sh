# Program control starts the missing test program with the console user's
# token and finds it running at the next step.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

import_config \
  "$(reg_dword wait_time_after_start_s 0)" \
  "$(reg_dword check_addr_count 0)" \
  "$(reg_sz program_ctrl_process_name QOV_TEST_PROGRAM.EXE)" \
  "$(reg_sz program_ctrl_command_line 'C:\qov\qov_test_program.exe --from-service')" \
  "$(reg_dword program_ctrl_check_period_s 1)"
install_service
start_service
wait_state 4
wait_log "check process fail" 20
wait_log "start process ok" 5
wait_log "check process ok" 10
for _ in $(seq 50); do [ -s "$DRIVE_C/qov_test_program.txt" ] && break; sleep 0.1; done
[ "$(grep -c started "$DRIVE_C/qov_test_program.txt")" = 1 ] || fail "program start record: $(cat "$DRIVE_C/qov_test_program.txt" 2>/dev/null)"
log "program: $(tr -d '\r' <"$DRIVE_C/qov_test_program.txt")"
# Running: later steps only confirm it.
wait_log "check process ok" 10 3
[ "$(log_messages | grep -cxF 'start process ok')" = 1 ] || fail "started more than once"
expect_no_log "ping ok"
expect_no_log "ping fail"
stop_service
wait_state 1 15
