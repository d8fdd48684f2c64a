# -CHECK under Wine, with no service installed: the default configuration
# has only the unlisted COM3 to complain about (exit 2, the listed ports
# named); once COM3 is listed it is clean (exit 0); a broken configuration
# shows each problem and the origins of its values.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

# Runs the check: its exit status in rc, its text in out.
check() {
  rc=0
  run_service_exe -CHECK >"$OUT/check.out" 2>"$OUT/check.err" || rc=$?
  out=$(tr -d '\r' <"$OUT/check.out")
}

check
[ "$rc" = 2 ] || fail "default configuration: exit $rc: $out"
grep -q '^  qov_com_port = "COM3" (default)$' <<<"$out" || fail "no COM3 line: $out"
grep -q 'error: qov_com_port "COM3" is not a serial port of this system (listed: COM1' <<<"$out" || fail "$out"

wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial2' /d COM3 /f >/dev/null 2>&1
check
[ "$rc" = 0 ] || fail "default configuration with COM3 listed: exit $rc: $out"
grep -q '^No problems found\.$' <<<"$out" || fail "$out"

import_config \
  "$(reg_dword check_addr_count 2)" \
  "$(reg_sz check_addr_1 'HTTP - /no-host')" \
  "$(reg_dword check_fail_loop_count 0)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_sz check_ok_period_s 'often')" \
  "$(reg_sz program_ctrl_process_name 'agent.exe')" \
  "$(reg_sz log_file_path 'c:\no\such\folder\qov.log')"
check
log "broken configuration, exit $rc"
[ "$rc" = 2 ] || fail "broken configuration: exit $rc: $out"
for want in \
  '  check_ok_period_s = 180 (wrong type, so default)' \
  '  check_addr_0 = "" (not stored, so empty)' \
  '  check_fail_loop_count = 0 (set)' \
  'error: check_addr_count is 2 but check_addr_0 is missing: that address always fails' \
  'names no host: that address always fails' \
  'every failed cycle escalates to a reset' \
  'program control does nothing' \
  'does not exist: nothing is logged'; do
  grep -qF -- "$want" <<<"$out" || fail "missing '$want' in: $out"
done
[ ! -e "$DRIVE_C/no" ] || fail "the check wrote something"
wine sc query $SERVICE >/dev/null 2>&1 && fail "a service got installed"
exit 0
