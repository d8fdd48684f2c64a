# Upgrades of the Windows Installer package: 1.0.0 installed and configured
# (a value of the configuration key, a value of its State subkey), then 1.0.1
# (an exe of its own version) replaces it: one product, one service, running
# the new exe, the configuration and State kept. 1.0.0 again is refused (a
# newer one is installed) and changes nothing. An upgrade whose
# -INSTALL fails (a package whose exe is another program) rolls back: 1.0.1 stays
# installed, its exe in place, its service running. The removal at the end
# leaves nothing of the package. Versions compare by three fields: 1.0.1.9
# over 1.0.1 is the same version and replaces it (a repair, no upgrade);
# 1.0.0.9 is older than that and is refused. The same package run again
# repairs: a service deleted by hand is registered and started again.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

ROOT=$(cd "$LIB_DIR/../.." && pwd)
PF_DIR="$DRIVE_C/Program Files/QOV Lumo"
PF_EXE="$PF_DIR/$SERVICE.exe"

# Packages of the given version from the exe in folder $2.
package() {
  local version=$1 exe_dir=$2
  bash "$ROOT/scripts/package" --exe-dir "$exe_dir" --out-dir "$OUT/msi" --version "$version" >"$OUT/package-$version.out" 2>&1 ||
    fail "scripts/package --version $version: $(cat "$OUT/package-$version.out")"
  tail -n 1 "$OUT/package-$version.out"
}
mkdir -p "$OUT/v101" "$OUT/broken"
python3 "$LIB_DIR/stamp_version.py" "$EXE_DIR/$SERVICE.exe" "$OUT/v101/$SERVICE.exe" 1.0.1.0 || fail "cannot stamp 1.0.1.0"
# A program that is not the service: its -INSTALL (and -UNINSTALL) end with exit 2.
cp "$EXE_DIR/tools/qov_failure_actions.exe" "$OUT/broken/$SERVICE.exe"
MSI_100=$(package 1.0.0 "$EXE_DIR")
MSI_101=$(package 1.0.1 "$OUT/v101")
MSI_1009=$(package 1.0.0.9 "$EXE_DIR")
MSI_102=$(package 1.0.2 "$OUT/broken")
log "packages: $(cd "$OUT/msi" && ls ./*.msi | tr '\n' ' ')"

running_pid() {
  wait_state 4 30
  local pids
  pids=$(service_pids)
  [ "$(echo "$pids" | wc -w)" = 1 ] || fail "service processes: '$pids'"
  tr '\0' ' ' <"/proc/$pids/cmdline" | grep -F 'Program Files' >/dev/null || fail "service process runs $(tr '\0' ' ' <"/proc/$pids/cmdline")"
  echo "$pids"
}
state_marker() { wine reg query "$CONFIG_KEY\\State" /v msi_marker 2>/dev/null | tr -d '\r' | awk '/msi_marker/ {print $3}'; }
# The configuration key's own values (the service writes only to State).
config_values() { wine reg query "$CONFIG_KEY" 2>/dev/null | tr -d '\r' | grep 'REG_' | sort; }

start_device_sim COM3

# 1.0.0, configured: life messages every second, checks only on this machine.
[ "$(msi_install "$MSI_100" install100)" = 0 ] || fail "install of 1.0.0: $(tail -n 20 "$OUT/install100.out")"
import_config "$(reg_dword life_beakon_period_ms 1000)" "$(reg_sz check_addr_0 'ICMP - 127.0.0.1')"
wine reg add "$CONFIG_KEY\\State" /v msi_marker /d kept /f >/dev/null 2>&1 || fail "cannot write the State key"
config_values >"$OUT/config.before"
wine net stop $SERVICE >/dev/null 2>&1
start_service
pid100=$(running_pid)
wait_log "Life message send ok" 20
[ "$(products)" = "1.0.0 " ] || fail "products after 1.0.0: '$(products)'"

# 1.0.1 replaces 1.0.0.
lines=$(log_messages | grep -cxF "Service started" || true)
[ "$(msi_install "$MSI_101" upgrade101)" = 0 ] || fail "upgrade to 1.0.1: $(tail -n 20 "$OUT/upgrade101.out")"
[ "$(products)" = "1.0.1 " ] || fail "products after the upgrade: '$(products)'"
cmp -s "$PF_EXE" "$OUT/v101/$SERVICE.exe" || fail "the installed exe is not 1.0.1's"
pid101=$(running_pid)
[ "$pid101" != "$pid100" ] || fail "the upgrade did not restart the service"
wait_pid_gone "$pid100" 15 || fail "the 1.0.0 process still runs"
wait_log "Service started" 20 $((lines + 1))
wait_log "Life message send ok" 20 2
config_values >"$OUT/config.after101"
cmp -s "$OUT/config.before" "$OUT/config.after101" || fail "the upgrade changed the configuration: $(diff "$OUT/config.before" "$OUT/config.after101")"
[ "$(state_marker)" = kept ] || fail "the upgrade lost the State key's value"
[ ! -e "$PF_EXE.previous" ] || fail "the upgrade left its kept copy of the old exe"
log "1.0.0 -> 1.0.1: one product, service restarted on the new exe (pid $pid100 -> $pid101), configuration kept"

# No downgrade: 1.0.0 over 1.0.1 fails and changes nothing.
rc=$(msi_install "$MSI_100" downgrade100)
[ "$rc" != 0 ] || fail "1.0.0 installed over 1.0.1"
# Refused by the launch condition, before anything changed (Wine's msiexec
# shows its message in no log under /qn: the condition's end tells).
tr -d '\r' <"$OUT/downgrade100.log" | grep -E "^Action ended .*: LaunchConditions\. Return value 0\.$" >/dev/null ||
  fail "not refused by the launch condition: $(grep -a 'LaunchConditions\|Found application' "$OUT/downgrade100.log")"
[ "$(products)" = "1.0.1 " ] || fail "products after the refused downgrade: '$(products)'"
cmp -s "$PF_EXE" "$OUT/v101/$SERVICE.exe" || fail "the refused downgrade changed the exe"
[ "$(running_pid)" = "$pid101" ] || fail "the refused downgrade touched the service"
log "1.0.0 over 1.0.1: refused (exit $rc), 1.0.1 still runs"

# A failed upgrade: 1.0.2's -INSTALL fails; the install rolls back.
rc=$(msi_install "$MSI_102" upgrade102)
[ "$rc" != 0 ] || fail "the broken 1.0.2 installed"
tr -d '\r' <"$OUT/upgrade102.log" | grep -E "^Action ended .*: RegisterService\. Return value [03]\.$" >/dev/null ||
  fail "1.0.2 failed elsewhere: $(grep -a 'Return value [^1]' "$OUT/upgrade102.log" | sed -n 1,5p)"
[ "$(products)" = "1.0.1 " ] || fail "products after the failed upgrade: '$(products)'"
cmp -s "$PF_EXE" "$OUT/v101/$SERVICE.exe" || fail "the failed upgrade left another exe"
[ ! -e "$PF_EXE.previous" ] || fail "the failed upgrade left its kept copy"
pid_after=$(running_pid)
wait_log "Life message send ok" 20 $(($(log_messages | grep -cxF "Life message send ok") + 1))
tr -d '\r' <"$OUT/upgrade102.log" | grep -xF "RestorePreviousVersion: the previous exe is back" >/dev/null ||
  fail "no rollback in the log: $(grep -a 'RestorePrevious\|BackupServiceExe' "$OUT/upgrade102.log")"
config_values >"$OUT/config.after102"
cmp -s "$OUT/config.before" "$OUT/config.after102" || fail "the failed upgrade changed the configuration"
[ "$(state_marker)" = kept ] || fail "the failed upgrade lost the State key's value"
log "broken 1.0.2: failed (exit $rc), rolled back, 1.0.1 runs again (pid $pid_after)"

# The fourth field is not compared: 1.0.1.9 is 1.0.1, and replaces it like a repair.
MSI_1019=$(package 1.0.1.9 "$OUT/v101")
[ "$(msi_install "$MSI_1019" repair1019)" = 0 ] || fail "1.0.1.9 over 1.0.1: $(tail -n 20 "$OUT/repair1019.out")"
[ "$(products)" = "1.0.1.9 " ] || fail "products after 1.0.1.9: '$(products)'"
running_pid >/dev/null
rc=$(msi_install "$MSI_1009" downgrade1009)
[ "$rc" != 0 ] || fail "1.0.0.9 installed over 1.0.1.9"
[ "$(products)" = "1.0.1.9 " ] || fail "products after 1.0.0.9: '$(products)'"
log "1.0.1.9 over 1.0.1 replaced it (the fourth field is not compared); 1.0.0.9 refused"

# The same package again repairs: a service deleted by hand is back, running.
stop_service
wait_state 1 30
run_service_exe -UNINSTALL -SILENT >/dev/null 2>&1 || fail "cannot delete the service by hand"
wait_service_gone 20 || fail "the service is still there"
[ "$(msi_install "$MSI_1019" repair_again)" = 0 ] || fail "1.0.1.9 again: $(tail -n 20 "$OUT/repair_again.out")"
[ "$(products)" = "1.0.1.9 " ] || fail "products after the repair: '$(products)'"
running_pid >/dev/null
log "1.0.1.9 again over itself: the deleted service is back and runs"

# Removal: nothing of the package is left; the configuration is.
run_msiexec /x "$(winepath -w "$MSI_1019" 2>/dev/null)" /qn /l*v "$(winepath -w "$OUT/remove.log" 2>/dev/null)" \
  >"$OUT/remove.out" 2>&1 || fail "msiexec /x exit $?: $(tail -n 20 "$OUT/remove.out")"
wine sc query $SERVICE >/dev/null 2>&1 && fail "the removal left the service"
[ -z "$(products)" ] || fail "products after the removal: '$(products)'"
[ ! -e "$PF_DIR" ] || fail "left under Program Files: $(ls -A "$PF_DIR")"
[ "$(state_marker)" = kept ] || fail "the removal lost the State key's value"
