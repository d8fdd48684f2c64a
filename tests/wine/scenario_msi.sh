# The Windows Installer package: scripts/package makes it from the exe under
# test; a silent install puts the exe under "C:\Program Files\QOV Lumo",
# registers the service (quoted image path, description, event-log source)
# and starts it, and it then drives the simulated board; a silent removal
# stops the service, waits for its process, and deletes the service, its
# event-log source and the exe's folder. The configuration key (with a
# State subkey) is the same before the install, while installed and after
# the removal. Over a service of that name installed by hand, the install
# fails and changes nothing. The service gets its recovery actions from the
# package's install as from -INSTALL, and loses them with the removal.
source "$(dirname "$0")/lib.sh"
# services.exe tells of the recovery actions it was given (expect_failure_actions).
export QOV_WINEDEBUG=${QOV_WINEDEBUG:--all,err+eventlog,fixme+service}
scenario_begin "$@"

ROOT=$(cd "$LIB_DIR/../.." && pwd)
EVENT_KEY='HKLM\SYSTEM\CurrentControlSet\Services\Eventlog\Application\qov_lumo_service'
SERVICE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\qov_lumo_service'
PF_EXE="$DRIVE_C/Program Files/QOV Lumo/$SERVICE.exe"

installed() { wine sc query $SERVICE >/dev/null 2>&1; }
# The data of value $2 of key $1 as `reg query` shows it ("REG_SZ <data>").
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *\(REG_[A-Z_]*\) *\(.*\)\$/\1 \2/p"; }

# The package, made from the exe under test (no build here).
bash "$ROOT/scripts/package" --exe-dir "$EXE_DIR" --out-dir "$OUT" >"$OUT/package.out" 2>&1 ||
  fail "scripts/package: $(cat "$OUT/package.out")"
MSI=$(tail -n 1 "$OUT/package.out")
{ [[ "$(basename "$MSI")" =~ ^qov_lumo_service-[0-9]+(\.[0-9]+)*\.msi$ ]] && [ -f "$MSI" ]; } || fail "package: '$MSI'"
MSI_WIN=$(winepath -w "$MSI" 2>/dev/null)
log "package $(basename "$MSI")"

# A service of that name installed by hand makes the install fail
# (-INSTALL reports 1073) and leaves that service as it was.
install_service
rc=0
run_msiexec /i "$MSI_WIN" /qn >"$OUT/msi_conflict.out" 2>&1 || rc=$?
[ "$rc" != 0 ] || fail "msiexec /i over a hand-installed service succeeded"
[ ! -e "$DRIVE_C/Program Files/QOV Lumo" ] || fail "the failed install left files"
[ "$(reg_value "$SERVICE_KEY" ImagePath)" = 'REG_SZ C:\qov\qov_lumo_service.exe' ] ||
  fail "the failed install changed the service: '$(reg_value "$SERVICE_KEY" ImagePath)'"
run_service_exe -UNINSTALL -SILENT >/dev/null 2>&1 || fail "uninstall of the hand-installed service: exit $?"

# A configuration of the operator's, there before the package: life messages
# every second, and no checks that leave the machine.
import_config "$(reg_dword life_beakon_period_ms 1000)" "$(reg_sz check_addr_0 'ICMP - 127.0.0.1')"
wine reg add "$CONFIG_KEY\\State" /v msi_marker /d kept /f >/dev/null 2>&1 || fail "cannot write the State key"
config_dump >"$OUT/config.before"
grep -q 'life_beakon_period_ms' "$OUT/config.before" || fail "configuration not imported: $(cat "$OUT/config.before")"

start_device_sim COM3

# Silent install: the service is registered and started by the package.
notes=$(failure_action_notes)
run_msiexec /i "$MSI_WIN" /qn /l*v "$(winepath -w "$OUT/msi_install.log" 2>/dev/null)" >"$OUT/msi_install.out" 2>&1 ||
  fail "msiexec /i exit $?: $(tail -n 20 "$OUT/msi_install.out")"
[ -f "$PF_EXE" ] || fail "no exe under Program Files: $(ls -R "$DRIVE_C/Program Files" 2>&1 | sed -n 1,20p)"
cmp -s "$PF_EXE" "$EXE_DIR/$SERVICE.exe" || fail "the installed exe is not the packaged one"
installed || fail "msiexec /i registered no service"
expect_failure_actions "msiexec /i" "$notes"
wait_state 4
wait_log "QOV COM port open ok (COM3)" 20
wait_log "QOV timer init ok" 10
wait_log "Life message send ok" 10 2
[[ "$(device_frames)" =~ ^1\ 3\ 5\ 5 ]] || fail "frames start '$(device_frames)'"
pids=$(service_pids)
[ -n "$pids" ] || fail "no service process of this prefix"
for pid in $pids; do
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -F 'Program Files' >/dev/null || fail "service process $pid runs $(tr '\0' ' ' <"/proc/$pid/cmdline")"
done

# Registered like -INSTALL registers it, from a folder with a blank: quoted.
image=$(reg_value "$SERVICE_KEY" ImagePath)
[[ "$image" =~ ^REG_(EXPAND_)?SZ\ \"C:\\Program\ Files\\QOV\ Lumo\\qov_lumo_service\.exe\"$ ]] || fail "ImagePath: '$image'"
log "ImagePath: $image"
[ "$(reg_value "$SERVICE_KEY" Description)" = 'REG_SZ QOV Lumo watchdog timer control service.' ] ||
  fail "Description: '$(reg_value "$SERVICE_KEY" Description)'"
[ "$(reg_value "$SERVICE_KEY" Start)" = 'REG_DWORD 0x2' ] || fail "Start: '$(reg_value "$SERVICE_KEY" Start)'"
[ "$(reg_value "$SERVICE_KEY" DisplayName)" = 'REG_SZ QOV Lumo Service' ] ||
  fail "DisplayName: '$(reg_value "$SERVICE_KEY" DisplayName)'"
[ "$(reg_value "$EVENT_KEY" EventMessageFile)" = 'REG_SZ C:\Program Files\QOV Lumo\qov_lumo_service.exe' ] ||
  fail "EventMessageFile: '$(reg_value "$EVENT_KEY" EventMessageFile)'"
[ "$(reg_value "$EVENT_KEY" TypesSupported)" = 'REG_DWORD 0x7' ] ||
  fail "TypesSupported: '$(reg_value "$EVENT_KEY" TypesSupported)'"
config_dump >"$OUT/config.installed"
cmp -s "$OUT/config.before" "$OUT/config.installed" ||
  fail "the install changed the configuration: $(diff "$OUT/config.before" "$OUT/config.installed")"

# Silent removal: stopped (the board's timer too), deleted, files gone.
run_msiexec /x "$MSI_WIN" /qn /l*v "$(winepath -w "$OUT/msi_uninstall.log" 2>/dev/null)" >"$OUT/msi_uninstall.out" 2>&1 ||
  fail "msiexec /x exit $?: $(tail -n 20 "$OUT/msi_uninstall.out")"
installed && fail "msiexec /x left the service"
expect_no_failure_actions "msiexec /x"
# The package waited for the process (Wine's StopServices does not wait), so the
# exe could go; when StopServices already stopped it and its process had ended
# before the action asked, the action says so.
tr -d '\r' <"$OUT/msi_uninstall.log" | grep -xE "StopServiceAndWait: the service('s process has| was already stopped and its process has) ended" >/dev/null ||
  fail "the removal did not wait for the service's process: $(grep -a StopServiceAndWait "$OUT/msi_uninstall.log")"
for pid in $pids; do wait_pid_gone "$pid" 15 || fail "service process $pid still runs"; done
expect_log "QOV timer stop ok"
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
[[ "$(device_frames)" =~ 4\ $ ]] || fail "frames end '$(device_frames)'"
wine reg query "$SERVICE_KEY" >/dev/null 2>&1 && fail "service key left: $(wine reg query "$SERVICE_KEY" /s 2>&1)"
wine reg query "$EVENT_KEY" >/dev/null 2>&1 && fail "event-log source left: $(wine reg query "$EVENT_KEY" /s 2>&1)"
[ ! -e "$DRIVE_C/Program Files/QOV Lumo" ] || fail "left under Program Files: $(ls -A "$DRIVE_C/Program Files/QOV Lumo")"
config_dump >"$OUT/config.after"
cmp -s "$OUT/config.before" "$OUT/config.after" ||
  fail "the removal changed the configuration: $(diff "$OUT/config.before" "$OUT/config.after")"
log "after removal the configuration key holds: $(grep -c 'REG_' "$OUT/config.after") values, as before"
