# check_log_details under Wine: a failed cycle over a refused port, a 503
# server and one that accepts and never answers names each address with its
# reason, in order, before "ping fail"; a passing cycle names none.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

start_device_sim_com3
start_check_target 503
busy_port=$CHECK_PORT
# A second target of its own that accepts and never answers.
echo hang >"$OUT/hang.mode"
python3 "$LIB_DIR/check_target.py" --port-file "$OUT/hang.port" --control-file "$OUT/hang.mode" \
  >"$OUT/hang.out" 2>&1 &
hang_pid=$!
on_cleanup "kill $hang_pid 2>/dev/null"
for _ in $(seq 50); do [ -s "$OUT/hang.port" ] && break; sleep 0.1; done
hang_port=$(cat "$OUT/hang.port" 2>/dev/null) || fail "hanging target did not start"
# A port nothing listens on: bound once, then freed.
refused_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

import_config \
  "$(reg_dword wait_time_after_start_s 0)" \
  "$(reg_dword check_log_details 1)" \
  "$(reg_dword check_addr_count 3)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:$refused_port/x")" \
  "$(reg_sz check_addr_1 "HTTP - 127.0.0.1:$busy_port/busy")" \
  "$(reg_sz check_addr_2 "HTTP - 127.0.0.1:$hang_port/hang")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)"
install_service
start_service
wait_state 4
wait_log "Service started" 20
# The third probe waits out the HTTP probe's 30-s bound.
wait_log "ping fail" 60
expected=("check 0 HTTP 127.0.0.1:$refused_port/x: connection refused"
  "check 1 HTTP 127.0.0.1:$busy_port/busy: status 503"
  "check 2 HTTP 127.0.0.1:$hang_port/hang: timed out after 30 s"
  "ping fail")
mapfile -t got < <(log_messages | grep -E '^(check [0-9]+ |ping fail$)' | sed -n 1,4p)
for i in 0 1 2 3; do
  log "line $i: ${got[$i]:-}"
  [ "${got[$i]:-}" = "${expected[$i]}" ] || fail "line $i is '${got[$i]:-}', expected '${expected[$i]}'"
done

# The busy target recovers: the cycle passes at its second address and
# names nothing, not even the refused port tried before it.
check_target_mode 200
wait_log "ping ok" 60
# One more passing cycle, so that a stray line after the first would show.
wait_log "ping ok" 30 2
after_ok=$(log_messages | sed -n '/^ping ok$/,$p' | grep -c '^check [0-9]' || true)
[ "$after_ok" -eq 0 ] || fail "a passing cycle wrote reason lines"
stop_service
wait_state 1 15
