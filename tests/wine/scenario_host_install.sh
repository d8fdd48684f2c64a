# Install and uninstall runs: switch matching, the registry keys the install
# hook writes, the failure texts for an existing or a missing service, and a
# start and stop under the SCM.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

EVENT_KEY='HKLM\SYSTEM\CurrentControlSet\Services\Eventlog\Application\qov_lumo_service'
SERVICE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\qov_lumo_service'
installed() { wine sc query $SERVICE >/dev/null 2>&1; }

# The three spellings of the install switch install; a silent uninstall removes without a box.
for arg in -install /INSTALL /InStAlL; do
  run_service_exe "$arg" -SILENT >/dev/null 2>"$OUT/install_${arg//\//_}.err" || fail "$arg: exit $?"
  installed || fail "$arg did not install"
  run_service_exe -UNINSTALL -SILENT >/dev/null 2>"$OUT/uninstall.err" || fail "uninstall: exit $?"
  installed && fail "-UNINSTALL -SILENT left the service"
  grep -q "uninstalled successfully" "$OUT/uninstall.err" && fail "silent uninstall showed success"
done

# INSTALL beats UNINSTALL; without SILENT the success box text reaches stderr.
run_service_exe -UNINSTALL -INSTALL >/dev/null 2>"$OUT/both.err" || fail "exit $?"
installed || fail "INSTALL + UNINSTALL did not install"
grep -q "Information: Service installed successfully" "$OUT/both.err" || fail "no success box: $(cat "$OUT/both.err")"

wine reg query "$EVENT_KEY" /v EventMessageFile 2>/dev/null | tr -d '\r' | grep -qi 'REG_SZ *C:\\qov\\qov_lumo_service.exe' ||
  fail "EventMessageFile: $(wine reg query "$EVENT_KEY" 2>&1)"
wine reg query "$EVENT_KEY" /v TypesSupported 2>/dev/null | tr -d '\r' | grep -qi 'REG_DWORD *0x7' || fail "TypesSupported"
wine reg query "$SERVICE_KEY" /v Description 2>/dev/null | tr -d '\r' |
  grep -q 'QOV Lumo watchdog timer control service\.' || fail "Description"

# A second install fails with 1073 and its text, and still exits 0.
run_service_exe -INSTALL -SILENT >/dev/null 2>"$OUT/again.err" || fail "second install exit $?"
tr -d '\r' <"$OUT/again.err" | grep -q 'Error: Service "QOV Lumo Service" failed to install with error: "System Error.  Code: 1073\.' ||
  fail "second install: $(cat "$OUT/again.err")"
[ "$(tr -d '\r' <"$OUT/again.err" | sed -n 2p)" != "" ] || fail "no system text after the code"
log "second install: $(tr -d '\r' <"$OUT/again.err" | tr '\n' ' ')"

# Start and stop under the SCM.
start_service
wait_state 4
wait_log "Service started" 20
wine sc query $SERVICE | tr -d '\r' >"$OUT/query.out"
grep -q "STOPPABLE" "$OUT/query.out" || log "sc query shows no control names: $(cat "$OUT/query.out")"
stop_service
wait_state 1 15
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
sleep 1
pgrep -f 'qov_lumo_service.exe$' >/dev/null && fail "service process still runs"

# Uninstall twice: the second reports 1060 and leaves a fresh event-log key alone.
run_service_exe -UNINSTALL -SILENT >/dev/null 2>&1 || fail "uninstall exit $?"
installed && fail "still installed"
wine reg query "$EVENT_KEY" >/dev/null 2>&1 && fail "event-log key left after uninstall"
wine reg add "$EVENT_KEY" /v Marker /d kept /f >/dev/null 2>&1
run_service_exe -UNINSTALL -SILENT >/dev/null 2>"$OUT/missing.err" || fail "exit $?"
tr -d '\r' <"$OUT/missing.err" | grep -q 'failed to uninstall with error: "System Error.  Code: 1060\.' ||
  fail "missing uninstall: $(cat "$OUT/missing.err")"
wine reg query "$EVENT_KEY" /v Marker >/dev/null 2>&1 || fail "failed uninstall touched the event-log key"

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
