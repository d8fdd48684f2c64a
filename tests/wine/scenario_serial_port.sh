# The Win32 serial port and the control thread under Wine against the device
# simulator: COM5 is a symlink in dosdevices to the simulator's pty, listed
# under SERIALCOMM; the live cases of platform_tests run on it, and the
# simulator is unplugged and plugged back while the control thread runs.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

start_device_sim COM5 '\Device\Serial4'

tests_exe=$EXE_DIR/tests/platform_tests.exe
[ -f "$tests_exe" ] || fail "no $tests_exe"
frames() { awk '$2 == "frame" {print $3}' "$OUT/frames" | tr '\n' ' '; }

QOV_TEST_COM_PORT=COM5 wine "$tests_exe" --gtest_filter='Win32Port*:Win32LivePort*' >"$OUT/port.out" 2>&1 ||
  { cat "$OUT/port.out" >&2; fail "port tests on COM5 failed"; }
grep -q "SKIPPED" "$OUT/port.out" && { cat "$OUT/port.out" >&2; fail "live-port cases were skipped"; }
log "port tests: frames $(frames)"
[ "$(frames)" = "1 3 1 3 5 " ] || fail "unexpected frames '$(frames)'"

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
