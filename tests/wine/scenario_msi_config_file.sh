# The Windows Installer package with CONFIG_FILE: a .reg file is imported
# into the configuration key before the service starts, all or nothing. Bad
# files (missing, not a .reg file, a value of the wrong type, a key outside
# the configuration key after a good line) fail the install with the reason
# in the installer's log, and leave no service, no files and the
# configuration as it was. A good file's values (one deleted, a State value
# set) are what the started service runs with: its log and -CHECK show them.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"
# The whole key, State included: a refused file must leave nothing anywhere
# (no service runs during these installs to write its own State values).
whole_key_dump() { wine reg query "$CONFIG_KEY" /s 2>/dev/null | tr -d '\r' | sed '/^$/d'; }

ROOT=$(cd "$LIB_DIR/../.." && pwd)
PF_DIR="$DRIVE_C/Program Files/QOV Lumo"

bash "$ROOT/scripts/package" --exe-dir "$EXE_DIR" --out-dir "$OUT" >"$OUT/package.out" 2>&1 ||
  fail "scripts/package: $(cat "$OUT/package.out")"
MSI_WIN=$(winepath -w "$(tail -n 1 "$OUT/package.out")" 2>/dev/null)

# msiexec /i with CONFIG_FILE=$1 (a Windows path), its log in $OUT/$2.log; its exit code.
install_with() {
  local rc=0
  run_msiexec /i "$MSI_WIN" "CONFIG_FILE=$1" /qn /l*v "$(winepath -w "$OUT/$2.log" 2>/dev/null)" \
    >"$OUT/$2.out" 2>&1 || rc=$?
  echo "$rc"
}
# Writes lines $2... as the CRLF file $OUT/$1.reg; prints its Windows path.
reg_file() {
  local name=$1
  shift
  printf '%s\r\n' "$@" >"$OUT/$name.reg"
  winepath -w "$OUT/$name.reg" 2>/dev/null
}
HEAD=('REGEDIT4' '' '[HKEY_LOCAL_MACHINE\Software\Vopa\QOV Lumo]')

# An existing configuration, which the bad files must leave as it is.
import_config "$(reg_dword life_beakon_period_ms 1000)" "$(reg_sz check_addr_0 'ICMP - 127.0.0.1')" \
  "$(reg_dword obsolete_value 7)"
whole_key_dump >"$OUT/config.before"

bad_cases=(
  "missing|C:\\no\\such\\site.reg|: cannot open: error 3"
  "not_reg|$(reg_file not_reg 'hello' '"reset_comp"=dword:1')|:1: the first line must be \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\""
  "wrong_type|$(reg_file wrong_type "${HEAD[@]}" '"wait_time_after_start_s"="180"')|:4: value \"wait_time_after_start_s\" is text; the service reads it as a DWORD"
  "outside|$(reg_file outside "${HEAD[@]}" '"wait_time_after_start_s"=dword:000000b4' '[HKEY_LOCAL_MACHINE\Software\Vopa\Other]' '"x"=dword:1')|:5: the key \"HKEY_LOCAL_MACHINE\\Software\\Vopa\\Other\" is outside the service's configuration key \"HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo\""
)
for c in "${bad_cases[@]}"; do
  IFS='|' read -r name path reason <<<"$c"
  rc=$(install_with "$path" "$name")
  [ "$rc" != 0 ] || fail "$name: the install succeeded"
  # The action's last line; the reason comes before it.
  wait_file_line "$OUT/$name.log" "ImportConfig: nothing imported; the install fails" 10 || fail "$name: no refusal line"
  tr -d '\r' <"$OUT/$name.log" | grep -F "ImportConfig: $path$reason" >/dev/null ||
    fail "$name: no reason in the log: $(grep -a 'ImportConfig' "$OUT/$name.log")"
  wine sc query $SERVICE >/dev/null 2>&1 && fail "$name: the failed install left a service"
  [ ! -e "$PF_DIR" ] || fail "$name: the failed install left files: $(ls -A "$PF_DIR")"
  whole_key_dump >"$OUT/config.$name"
  cmp -s "$OUT/config.before" "$OUT/config.$name" ||
    fail "$name: the configuration changed: $(diff "$OUT/config.before" "$OUT/config.$name")"
  log "$name: refused (exit $rc): ${reason#:}"
done
wine reg query 'HKLM\Software\Vopa\Other' >/dev/null 2>&1 && fail "a key outside the configuration was written"

# A good file: its values are what the service starts with.
start_device_sim COM3
good=$(reg_file good "${HEAD[@]}" \
  '"wait_time_after_start_s"=dword:000000b4' \
  '"check_addr_0"="ICMP - 127.0.0.2"' \
  '"obsolete_value"=-' \
  '' '[HKEY_LOCAL_MACHINE\Software\Vopa\QOV Lumo\State]' '"msi_marker"="from the file"')
rc=$(install_with "$good" good)
[ "$rc" = 0 ] || fail "install with a good file: exit $rc: $(grep -a 'ImportConfig\|Return value [03]' "$OUT/good.log")"
tr -d '\r' <"$OUT/good.log" | grep -xF "ImportConfig: imported $good into HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo (3 values)" >/dev/null ||
  fail "no import line: $(grep -a 'ImportConfig' "$OUT/good.log")"
wait_state 4
wait_log "Wait 3 min after start" 20
wait_log "Life message send ok" 10 2
run_service_exe -CHECK >"$OUT/check.out" 2>&1 || true
for want in '  wait_time_after_start_s = 180 (set)' '  check_addr_0 = "ICMP - 127.0.0.2" (set)' \
  '  life_beakon_period_ms = 1000 (set)'; do
  tr -d '\r' <"$OUT/check.out" | grep -xF -- "$want" >/dev/null || fail "-CHECK lacks '$want': $(cat "$OUT/check.out")"
done
wine reg query "$CONFIG_KEY" /v obsolete_value >/dev/null 2>&1 && fail "the file's deletion was not made"
wine reg query "$CONFIG_KEY\\State" /v msi_marker 2>/dev/null | tr -d '\r' | grep -F 'from the file' >/dev/null ||
  fail "the State value of the file is missing"
log "good file imported: the service waits 3 min, checks 127.0.0.2, as -CHECK shows"
