# The Win32 serial port under Wine against the device simulator: COM5 is a
# symlink in dosdevices to the simulator's pty; the live-port cases of
# platform_tests run on it.
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

tests_exe=$EXE_DIR/tests/platform_tests.exe
[ -f "$tests_exe" ] || fail "no $tests_exe"
QOV_TEST_COM_PORT=COM5 wine "$tests_exe" --gtest_filter='Win32*' >"$OUT/tests.out" 2>&1 || {
  cat "$OUT/tests.out" >&2
  fail "platform tests on COM5 failed"
}
grep -q "SKIPPED" "$OUT/tests.out" && { cat "$OUT/tests.out" >&2; fail "live-port cases were skipped"; }
frames=$(awk '$2 == "frame" {print $3}' "$OUT/frames" | tr '\n' ' ')
log "simulator saw frames: $frames"
[ "$frames" = "1 1 3 5 " ] || fail "unexpected frames '$frames'"
