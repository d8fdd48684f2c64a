# Board faults seen by the installed service: a silent board, garbage, an
# identification split by a pause, late answers, and a board that goes away
# and comes back.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

start_device_sim_com3
sim() { echo "$*" >"$OUT/sim.ctl"; }
count() { log_messages | grep -cxF -- "$1" || true; }
import_config "$(reg_dword life_beakon_period_ms 1000)"

sim mode silent
install_service
start_service
wait_log "QOV COM port open ok (COM3)" 20
wait_log "QOV version fail" 15 2
# Each failed identification cost five frames and the port was reopened.
ones=$(awk '$2 == "frame" && $3 == 1' "$OUT/frames" | wc -l)
[ "$ones" -ge 10 ] || fail "a silent board got only $ones identification frames"
[ "$(count "QOV COM port open ok (COM3)")" -ge 2 ] || fail "the port was not reopened"

sim mode garbage
n=$(count "QOV version fail")
wait_log "QOV version fail" 15 $((n + 2))
expect_no_log "QOV version ok"

sim split-at 9
sim mode split
n=$(count "QOV version fail")
wait_log "QOV version fail" 15 $((n + 2))
expect_no_log "QOV version ok"

# Answers 600 ms late miss their own attempt's window and count for the next one.
sim delay 600
sim mode late
wait_log "QOV version ok" 20
wait_log "QOV timer init ok" 10
wait_log "Life message send ok" 10 2
expect_no_log "QOV timer init fail"

sim mode normal
n=$(count "Life message send ok")
wait_log "Life message send ok" 10 $((n + 2))

# Gone and back: a failed life message, then the whole chain again.
sim unplug
wait_log "Life message send fail" 15
sim plug
wait_log "QOV timer init ok" 40 2
n=$(count "Life message send ok")
wait_log "Life message send ok" 10 $((n + 1))
stop_service
wait_state 1 15
expect_log "QOV timer stop ok"
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
log "frames: $(device_frames)"
