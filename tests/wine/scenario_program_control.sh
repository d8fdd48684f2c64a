# Program control, given the program's name without its extension, starts
# the missing test program with the console user's token, on the user's
# desktop and with the user's environment block, and finds it running at the
# next step.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

import_config \
  "$(reg_dword wait_time_after_start_s 0)" \
  "$(reg_dword check_addr_count 0)" \
  "$(reg_sz program_ctrl_process_name QOV_TEST_PROGRAM)" \
  "$(reg_sz program_ctrl_command_line 'C:\qov\qov_test_program.exe --from-service')" \
  "$(reg_dword program_ctrl_check_period_s 1)"
# A variable of the user's own environment: the service's environment lacks
# it, the block made from the user's token has it. (Under Wine LocalSystem
# shares the user's profile folder, so USERPROFILE alone cannot tell them apart.)
wine reg add 'HKCU\Environment' /v QOV_USER_MARK /d from-user-profile /f >/dev/null 2>&1 || fail "cannot set HKCU\Environment"
USER_PROFILE=$(wine cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')
[ -n "$USER_PROFILE" ] || fail "no USERPROFILE for the user"
log "user profile: $USER_PROFILE"
install_service
start_service
wait_state 4
wait_log "check process fail" 20
wait_log "start process ok" 5
wait_log "check process ok" 10
for _ in $(seq 50); do [ -s "$DRIVE_C/qov_test_program.txt" ] && break; sleep 0.1; done
[ "$(grep -c started "$DRIVE_C/qov_test_program.txt")" = 1 ] || fail "program start record: $(cat "$DRIVE_C/qov_test_program.txt" 2>/dev/null)"
record=$(tr -d '\r' <"$DRIVE_C/qov_test_program.txt")
log "program: $record"
[[ " $record " == *" winsta=WinSta0 desktop=Default "* ]] || fail "not on winsta0\\default: $record"
[[ " $record " == *" USERPROFILE=$USER_PROFILE "* ]] || fail "USERPROFILE is not the user's ($USER_PROFILE): $record"
[[ " $record " == *" QOV_USER_MARK=from-user-profile "* ]] || fail "the user's environment block was not passed: $record"
# Running: later steps only confirm it.
wait_log "check process ok" 10 3
[ "$(log_messages | grep -cxF 'start process ok')" = 1 ] || fail "started more than once"
expect_no_log "ping ok"
expect_no_log "ping fail"
stop_service
wait_state 1 15
