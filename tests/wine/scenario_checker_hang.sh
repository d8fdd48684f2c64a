# A check target that accepts connections and never answers: that cycle fails
# within the HTTP probe's 30-s bound, and the cycles after it still run.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

start_check_target hang
import_config \
  "$(reg_dword wait_time_after_start_s 0)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:$CHECK_PORT/")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)"
install_service
start_service
wait_state 4
wait_log "Service started" 20
for _ in $(seq 100); do [ -s "$OUT/http.requests" ] && break; sleep 0.1; done
[ -s "$OUT/http.requests" ] || fail "the probe never reached the target"
t0=$(date +%s)
wait_log "ping fail" 45
took=$(($(date +%s) - t0))
log "the hanging cycle failed after ${took} s"
[ "$took" -ge 25 ] && [ "$took" -le 90 ] || fail "the hanging cycle took ${took} s"

check_target_mode 200
wait_log "ping ok" 45
stop_service
wait_state 1 15
