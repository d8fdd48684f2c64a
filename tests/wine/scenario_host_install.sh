# Install and uninstall runs: switch matching, the registry keys the install
# hook writes, the failure texts and exit code 1 for an existing or a missing
# service, a start and stop under the SCM, an install from a folder with a
# blank in its name (quoted image path), and the exe's message table and
# version resource; the recovery actions the install sets and the
# uninstall takes away.
source "$(dirname "$0")/lib.sh"
# services.exe tells of the recovery actions it was given (expect_failure_actions).
export QOV_WINEDEBUG=${QOV_WINEDEBUG:--all,err+eventlog,fixme+service}
scenario_begin "$@"

EVENT_KEY='HKLM\SYSTEM\CurrentControlSet\Services\Eventlog\Application\qov_lumo_service'
SERVICE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\qov_lumo_service'
installed() { wine sc query $SERVICE >/dev/null 2>&1; }
image_path() { wine reg query "$SERVICE_KEY" /v ImagePath 2>/dev/null | tr -d '\r' | sed -n 's/^ *ImagePath *REG_[A-Z_]* *//p'; }

# The exe carries a message table (type 11) and a version resource (type 16):
# objdump lists the resource types as the first level of entries.
x86_64-w64-mingw32-objdump -p "$EXE_DIR/$SERVICE.exe" >"$OUT/objdump.txt" || fail "objdump failed"
resource_type() { grep -Eq "^[0-9a-f]+   Entry: ID: $1," "$OUT/objdump.txt"; }
resource_type 0x00000b || fail "no message table: $(grep -A16 '.rsrc Resource Directory' "$OUT/objdump.txt")"
resource_type 0x000010 || fail "no version resource: $(grep -A16 '.rsrc Resource Directory' "$OUT/objdump.txt")"
# Read the way Event Viewer does: event 0's text is its insertion string.
wine "C:\\qov\\qov_resource_probe.exe" "C:\\qov\\$SERVICE.exe" 0 "Service stopped" >"$OUT/resources.out" 2>&1 ||
  fail "resource probe: $(cat "$OUT/resources.out")"
tr -d '\r' <"$OUT/resources.out" >"$OUT/resources.txt"
grep -qx 'message: Service stopped' "$OUT/resources.txt" || fail "message 0: $(cat "$OUT/resources.txt")"
grep -qx 'ProductName: QOV Lumo Service' "$OUT/resources.txt" || fail "product name: $(cat "$OUT/resources.txt")"
grep -qx 'CompanyName: Vopa' "$OUT/resources.txt" || fail "company name: $(cat "$OUT/resources.txt")"
grep -q '^FileVersion: [0-9]' "$OUT/resources.txt" || fail "file version: $(cat "$OUT/resources.txt")"
grep -q '^FileDescription: .' "$OUT/resources.txt" || fail "file description: $(cat "$OUT/resources.txt")"
log "resources: $(tr '\n' ';' <"$OUT/resources.txt")"

# The three spellings of the install switch install; a silent uninstall removes without a box.
for arg in -install /INSTALL /InStAlL; do
  run_service_exe "$arg" -SILENT >/dev/null 2>"$OUT/install_${arg//\//_}.err" || fail "$arg: exit $?"
  installed || fail "$arg did not install"
  run_service_exe -UNINSTALL -SILENT >/dev/null 2>"$OUT/uninstall.err" || fail "uninstall: exit $?"
  installed && fail "-UNINSTALL -SILENT left the service"
  grep -q "uninstalled successfully" "$OUT/uninstall.err" && fail "silent uninstall showed success"
done

# INSTALL beats UNINSTALL; without SILENT the success box text reaches stderr.
notes=$(failure_action_notes)
run_service_exe -UNINSTALL -INSTALL >/dev/null 2>"$OUT/both.err" || fail "exit $?"
installed || fail "INSTALL + UNINSTALL did not install"
expect_failure_actions -INSTALL "$notes"
grep -q "Information: Service installed successfully" "$OUT/both.err" || fail "no success box: $(cat "$OUT/both.err")"
# A path without blanks is registered as it is.
[ "$(image_path)" = 'C:\qov\qov_lumo_service.exe' ] || fail "ImagePath: '$(image_path)'"

wine reg query "$EVENT_KEY" /v EventMessageFile 2>/dev/null | tr -d '\r' | grep -i 'REG_SZ *C:\\qov\\qov_lumo_service.exe' >/dev/null ||
  fail "EventMessageFile: $(wine reg query "$EVENT_KEY" 2>&1)"
wine reg query "$EVENT_KEY" /v TypesSupported 2>/dev/null | tr -d '\r' | grep -i 'REG_DWORD *0x7' >/dev/null || fail "TypesSupported"
wine reg query "$SERVICE_KEY" /v Description 2>/dev/null | tr -d '\r' |
  grep -q 'QOV Lumo watchdog timer control service\.' || fail "Description"

# A second install fails with 1073 and its text, and exits with 1.
rc=0
run_service_exe -INSTALL -SILENT >/dev/null 2>"$OUT/again.err" || rc=$?
[ "$rc" = 1 ] || fail "second install exit $rc"
tr -d '\r' <"$OUT/again.err" | grep 'Error: Service "QOV Lumo Service" failed to install with error: "System Error.  Code: 1073\.' >/dev/null ||
  fail "second install: $(cat "$OUT/again.err")"
[ "$(tr -d '\r' <"$OUT/again.err" | sed -n 2p)" != "" ] || fail "no system text after the code"
log "second install: $(tr -d '\r' <"$OUT/again.err" | tr '\n' ' ')"

# Start and stop under the SCM.
start_service
wait_state 4
wait_log "Service started" 20
pids=$(service_pids)
wine sc query $SERVICE | tr -d '\r' >"$OUT/query.out"
grep -q "STOPPABLE" "$OUT/query.out" || log "sc query shows no control names: $(cat "$OUT/query.out")"
stop_service
wait_state 1 15
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
for pid in $pids; do wait_pid_gone "$pid" 10 || fail "service process $pid still runs"; done

# Uninstall twice: the second reports 1060 and leaves a fresh event-log key alone.
run_service_exe -UNINSTALL -SILENT >/dev/null 2>&1 || fail "uninstall exit $?"
installed && fail "still installed"
expect_no_failure_actions -UNINSTALL
wine reg query "$EVENT_KEY" >/dev/null 2>&1 && fail "event-log key left after uninstall"
wine reg add "$EVENT_KEY" /v Marker /d kept /f >/dev/null 2>&1
rc=0
run_service_exe -UNINSTALL -SILENT >/dev/null 2>"$OUT/missing.err" || rc=$?
[ "$rc" = 1 ] || fail "missing uninstall exit $rc"
tr -d '\r' <"$OUT/missing.err" | grep 'failed to uninstall with error: "System Error.  Code: 1060\.' >/dev/null ||
  fail "missing uninstall: $(cat "$OUT/missing.err")"
wine reg query "$EVENT_KEY" /v Marker >/dev/null 2>&1 || fail "failed uninstall touched the event-log key"
wine reg delete "$EVENT_KEY" /f >/dev/null 2>&1

# Installed from a folder whose name has blanks: the image path is quoted, so
# a "C:\Program.exe" is never what the SCM starts, and the service runs.
PF_DIR="$DRIVE_C/Program Files/QOV Lumo"
mkdir -p "$PF_DIR"
cp "$DRIVE_C/qov/$SERVICE.exe" "$PF_DIR/"
cp "$DRIVE_C/qov/rasdial_standin.exe" "$DRIVE_C/Program.exe"  # records a start in C:\rasdial_calls.txt
wine "C:\\Program Files\\QOV Lumo\\$SERVICE.exe" -INSTALL -SILENT >/dev/null 2>"$OUT/spaced.err" ||
  fail "install from Program Files: exit $? $(cat "$OUT/spaced.err")"
[ "$(image_path)" = '"C:\Program Files\QOV Lumo\qov_lumo_service.exe"' ] || fail "ImagePath: '$(image_path)'"
log "quoted ImagePath: $(image_path)"
rm -f "$DRIVE_C/qov_log.txt"
start_service
wait_state 4
wait_log "Service started" 20
stop_service
wait_state 1 15
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
[ ! -e "$DRIVE_C/rasdial_calls.txt" ] || fail "C:\Program.exe was started: $(cat "$DRIVE_C/rasdial_calls.txt")"
wine "C:\\Program Files\\QOV Lumo\\$SERVICE.exe" -UNINSTALL -SILENT >/dev/null 2>&1 || fail "uninstall from Program Files: exit $?"
installed && fail "still installed"
rm -f "$DRIVE_C/Program.exe"

# Started outside the SCM: one error event with the text for 1063.
wine "C:\\qov\\$SERVICE.exe" 2>"$OUT/direct.err" >/dev/null || fail "direct run exit $?"
n=$(grep -c 'err:eventlog:ReportEvent' "$OUT/direct.err" || true)
[ "$n" = 1 ] || fail "expected one event, got $n: $(cat "$OUT/direct.err")"
log "direct run event: $(grep 'err:eventlog' "$OUT/direct.err" | tr -d '\r')"

# Neither a bare word nor a longer switch installs: both are service runs.
for arg in INSTALL -INSTALLx -SILENT; do
  wine "C:\\qov\\$SERVICE.exe" "$arg" 2>"$OUT/word.err" >/dev/null || fail "$arg: exit $?"
  installed && fail "$arg installed the service"
  grep -q 'err:eventlog:ReportEvent' "$OUT/word.err" || fail "$arg was no service run: $(cat "$OUT/word.err")"
done
