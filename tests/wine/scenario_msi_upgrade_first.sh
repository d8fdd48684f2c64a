# An upgrade from the package of the first release (1.0.0.0, its .wxs kept
# under fixtures/), whose removal stops and deletes the service: 1.0.1
# installs over it, the first package's removal runs after, and the service
# is registered and started again. One product, one service running the new
# exe, the configuration and its State subkey kept.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

ROOT=$(cd "$LIB_DIR/../.." && pwd)
PF_EXE="$DRIVE_C/Program Files/QOV Lumo/$SERVICE.exe"

# 1.0.1 by scripts/package (which also leaves its custom action DLL in $OUT/msi).
mkdir -p "$OUT/v101" "$OUT/first"
python3 "$LIB_DIR/stamp_version.py" "$EXE_DIR/$SERVICE.exe" "$OUT/v101/$SERVICE.exe" 1.0.1.0 || fail "cannot stamp 1.0.1.0"
bash "$ROOT/scripts/package" --exe-dir "$OUT/v101" --out-dir "$OUT/msi" --version 1.0.1 >"$OUT/package.out" 2>&1 ||
  fail "scripts/package: $(cat "$OUT/package.out")"
MSI_101=$(tail -n 1 "$OUT/package.out")
# The first package, built as it was: the exe and the DLL (whose StopServiceAndWait it used) beside it.
cp "$EXE_DIR/$SERVICE.exe" "$OUT/first/"
cp "$(ls "$OUT"/msi/.qov_msi_actions-*.dll | sed -n 1p)" "$OUT/first/qov_msi_actions.dll"
(cd "$OUT/first" && wixl --arch x64 -D Version=1.0.0.0 -o first.msi "$LIB_DIR/fixtures/qov_lumo_service-first.wxs") \
  >"$OUT/wixl.out" 2>&1 || fail "wixl: $(cat "$OUT/wixl.out")"

config_values() { wine reg query "$CONFIG_KEY" 2>/dev/null | tr -d '\r' | grep 'REG_' | sort; }

start_device_sim COM3
[ "$(msi_install "$OUT/first/first.msi" first)" = 0 ] || fail "install of the first package: $(tail -n 20 "$OUT/first.out")"
import_config "$(reg_dword life_beakon_period_ms 1000)" "$(reg_sz check_addr_0 'ICMP - 127.0.0.1')"
wine reg add "$CONFIG_KEY\\State" /v msi_marker /d kept /f >/dev/null 2>&1 || fail "cannot write the State key"
config_values >"$OUT/config.before"
wait_state 4
[ "$(products)" = "1.0.0.0 " ] || fail "products after the first package: '$(products)'"

[ "$(msi_install "$MSI_101" upgrade)" = 0 ] || fail "upgrade to 1.0.1: $(tail -n 20 "$OUT/upgrade.out")"
[ "$(products)" = "1.0.1 " ] || fail "products after the upgrade: '$(products)'"
cmp -s "$PF_EXE" "$OUT/v101/$SERVICE.exe" || fail "the installed exe is not 1.0.1's"
wait_state 4 30
pids=$(service_pids)
[ "$(echo "$pids" | wc -w)" = 1 ] || fail "service processes: '$pids'"
tr '\0' ' ' <"/proc/$pids/cmdline" | grep -F 'Program Files' >/dev/null || fail "the service runs $(tr '\0' ' ' <"/proc/$pids/cmdline")"
tr -d '\r' <"$OUT/upgrade.log" | grep -a '^KeepServiceRunning: ' >"$OUT/keep.lines" || true
grep -q 'deleted the service; registered again, -INSTALL exit 0$' "$OUT/keep.lines" ||
  fail "the first package's removal left no service to keep: $(cat "$OUT/keep.lines")"
config_values >"$OUT/config.after"
cmp -s "$OUT/config.before" "$OUT/config.after" || fail "the upgrade changed the configuration: $(diff "$OUT/config.before" "$OUT/config.after")"
wine reg query "$CONFIG_KEY\\State" /v msi_marker 2>/dev/null | grep kept >/dev/null || fail "the upgrade lost the State key's value"
wait_log "Life message send ok" 20 2
log "first package -> 1.0.1: $(tr '\n' ';' <"$OUT/keep.lines")"
