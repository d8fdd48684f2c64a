# The installed service drives the simulated board on COM3: open, identify,
# timer start, life messages at the configured period, a replug after the
# board goes away mid-run, and the timer stop when the service stops.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

start_device_sim COM3

frames() { awk '$2 == "frame" {print $3}' "$OUT/frames" | tr '\n' ' '; }
life_times() { awk '$2 == "frame" && $3 == 5 {print $1}' "$OUT/frames"; }

import_config "$(reg_dword life_beakon_period_ms 1000)"
install_service
start_service
wait_state 4
wait_log "QOV COM port open ok (COM3)" 20
wait_log "QOV version ok" 5
wait_log "QOV timer init ok" 5
wait_log "Life message send ok" 10 3
[[ "$(frames)" =~ ^1\ 3\ 5\ 5\ 5 ]] || fail "frames start '$(frames)'"
# Each life message follows the previous one after the period (plus the
# exchange, which a loaded machine stretches). The period runs from the
# service's send; the simulator's receive times carry the pty's delivery
# jitter, so a gap may look a few milliseconds short.
prev=
for t in $(life_times); do
  if [ -n "$prev" ]; then
    gap=$((t - prev))
    { [ "$gap" -ge 950 ] && [ "$gap" -lt 3000 ]; } || fail "life message gap ${gap} ms"
  fi
  prev=$t
done

# Unplug: the next life message fails; once back, the whole chain runs again.
echo unplug >"$OUT/sim.ctl"
wait_log "Life message send fail" 15
echo plug >"$OUT/sim.ctl"
wait_log "QOV COM port open ok (COM3)" 40 2
wait_log "QOV timer init ok" 10 2
oks=$(log_messages | grep -cxF "Life message send ok")
wait_log "Life message send ok" 10 $((oks + 1))

stop_service
wait_state 1 15
expect_log "QOV timer stop ok"
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
log "frames: $(frames)"
[[ "$(frames)" =~ 1\ 3\ 5\ (5\ )*4\ $ ]] || fail "frames end '$(frames)'"
