# Commissioning under the SCM: "-TEST MODEM" is a user-defined control sent
# with ControlService; the running service has the board reset the modem,
# records the outcome in its State key, and the command exits 0 once the
# board acknowledged. Before the service runs the command exits 3; with a
# board that does not acknowledge, 1. "-TEST COMPUTER" without YES sends nothing.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

# Runs the command with the words in "$@"; sets RC.
test_cmd() { RC=0; run_service_exe "$@" >"$OUT/cmd.out" 2>"$OUT/cmd.err" || RC=$?; }
expect_rc() { [ "$RC" = "$1" ] || fail "$2: exit $RC, $(tr -d '\r' <"$OUT/cmd.out"; tr -d '\r' <"$OUT/cmd.err")"; }
count_frames() { local n=0 f; for f in $(device_frames); do [ "$f" = "$1" ] && n=$((n + 1)); done; echo "$n"; }

start_device_sim_com3
import_config \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 'ICMP - 127.0.0.1')" \
  "$(reg_dword check_ok_period_s 5)" \
  "$(reg_dword reset_dry_run 1)" \
  "$(reg_dword life_beakon_period_ms 60000)"
install_service
test_cmd -TEST MODEM </dev/null
expect_rc 3 "-TEST MODEM before the start"
start_service
wait_log "QOV timer init ok" 20

test_cmd -TEST MODEM </dev/null
expect_rc 0 "-TEST MODEM"
[ "$(count_frames 2)" = 1 ] || fail "modem-reset frames: $(device_frames)"
log_messages | grep -A1 -xF "modem reset requested by test" | grep -xF "modem reset ok" >/dev/null ||
  fail "no 'modem reset ok' after the request"
wine reg query 'HKLM\Software\Vopa\QOV Lumo\State' /v test_reset_last 2>/dev/null | tr -d '\r' |
  grep -qE 'test_reset_last +REG_SZ +1 modem ok [0-9]+$' || fail "no outcome: $(wine reg query 'HKLM\Software\Vopa\QOV Lumo\State' 2>&1)"

echo "mode silent" >"$OUT/sim.ctl"
sleep 0.3
test_cmd -TEST MODEM </dev/null
expect_rc 1 "-TEST MODEM to a silent board"
wait_log "modem reset fail" 5
echo "mode normal" >"$OUT/sim.ctl"

echo no | test_cmd -TEST COMPUTER
expect_rc 1 "-TEST COMPUTER answered no"
[ "$(count_frames 174)" = 0 ] || fail "a computer reset went out without YES: $(device_frames)"

stop_service
wait_state 1 15
log "frames: $(device_frames)"
