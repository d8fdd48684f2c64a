# The Win32 serial port and the control thread under Wine against the device
# simulator: COM5 is a symlink in dosdevices to the simulator's pty, listed
# under SERIALCOMM; the live cases of platform_tests run on it, and the
# simulator is unplugged and plugged back while the control thread runs.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

SIM=$TOOLS_DIR/qov_device_sim
[ -x "$SIM" ] || fail "no simulator at $SIM"
"$SIM" --link "$OUT/com5.link" --record "$OUT/frames" --control "$OUT/sim.ctl" >"$OUT/sim.out" 2>&1 &
SIM_PID=$!
# The wineserver must be gone before the pty closes (a hang-up would reach it).
on_cleanup "wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; kill $SIM_PID 2>/dev/null"
for _ in $(seq 50); do [ -L "$OUT/com5.link" ] && break; sleep 0.1; done
ln -sfn "$OUT/com5.link" "$PREFIX/dosdevices/com5"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial4' /d COM5 /f >/dev/null 2>&1 ||
  fail "cannot list COM5 under SERIALCOMM"

tests_exe=$EXE_DIR/tests/platform_tests.exe
[ -f "$tests_exe" ] || fail "no $tests_exe"
frames() { awk '$2 == "frame" {print $3}' "$OUT/frames" | tr '\n' ' '; }

QOV_TEST_COM_PORT=COM5 wine "$tests_exe" --gtest_filter='Win32Port*:Win32LivePort*' >"$OUT/port.out" 2>&1 ||
  { cat "$OUT/port.out" >&2; fail "port tests on COM5 failed"; }
grep -q "SKIPPED" "$OUT/port.out" && { cat "$OUT/port.out" >&2; fail "live-port cases were skipped"; }
log "port tests: frames $(frames)"
[ "$(frames)" = "1 1 3 5 " ] || fail "unexpected frames '$(frames)'"

: >"$OUT/frames"
QOV_TEST_COM_PORT=COM5 QOV_TEST_REPLUG=1 wine "$tests_exe" --gtest_filter='Win32LiveDevice*' >"$OUT/device.out" 2>&1 &
TEST_PID=$!
# Unplug after the third life message; plug back a second later.
for _ in $(seq 150); do [ "$(frames | grep -o 5 | wc -l)" -ge 3 ] && break; sleep 0.1; done
echo unplug >"$OUT/sim.ctl"
sleep 1
echo plug >"$OUT/sim.ctl"
wait "$TEST_PID" || { cat "$OUT/device.out" >&2; fail "control thread test failed"; }
grep -q "SKIPPED" "$OUT/device.out" && fail "control thread test was skipped"
grep '^log: ' "$OUT/device.out" >&2
log "control thread: frames $(frames)"
[[ "$(frames)" =~ ^1\ 3\ 5\ 5\ 5\ (5\ )*1\ 3\ 5\ (5\ )*4\ $ ]] || fail "unexpected frames '$(frames)'"
