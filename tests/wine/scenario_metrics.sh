# The metrics file under Wine: a folder missing at the start is logged once
# and written once it exists; the file is valid Prometheus text (parsed with
# prometheus_client) that is replaced every period, and the last one, left
# at the stop, holds counters that match the log line for line.
# Exit 77 (skipped) only when prometheus_client is not installed.
source "$(dirname "$0")/lib.sh"
PROM_PY=$(for py in python3 /usr/bin/python3; do
  "$py" -c 'import prometheus_client' 2>/dev/null && { echo "$py"; break; }
done || true)
[ -n "$PROM_PY" ] || { echo "prometheus_client missing (scripts/install-deps installs python3-prometheus-client)" >&2; exit 77; }
scenario_begin "$@"

METRICS=$DRIVE_C/metrics/qov.prom
# Prints the file's samples; fails the scenario when they are not valid.
samples() { "$PROM_PY" "$LIB_DIR/check_metrics.py" "$METRICS" 2>"$OUT/check.err" || fail "metrics: $(cat "$OUT/check.err")"; }
sample() { grep -F -- "$1 " <<<"$2" | awk '{print $2}'; }
count() { log_messages | grep -cxF -- "$1" || true; }

start_device_sim_com3
start_check_target 200
import_config \
  "$(reg_dword wait_time_after_start_s 0)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:$CHECK_PORT/check")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword life_beakon_period_ms 1000)" \
  "$(reg_sz metrics_file_path 'C:\metrics\qov.prom')" \
  "$(reg_dword metrics_period_s 1)"
install_service
t_start=$(date +%s)
start_service
wait_state 4

# No folder yet: one log line, however many periods pass.
for _ in $(seq 150); do log_messages | grep '^metrics file write fail (C:\\metrics\\qov.prom): ' >/dev/null && break; sleep 0.1; done
log_messages | grep '^metrics file write fail (C:\\metrics\\qov.prom): ' >/dev/null || fail "no metrics write failure logged"
wait_log "ping ok" 20 2
[ "$(log_messages | grep -c '^metrics file write fail')" = 1 ] || fail "the failure was logged more than once"
mkdir -p "$(dirname "$METRICS")"
for _ in $(seq 100); do [ -s "$METRICS" ] && break; sleep 0.1; done
[ -s "$METRICS" ] || fail "no metrics file once its folder exists"
wait_log "Life message send ok" 20 1
for _ in $(seq 100); do
  s=$(samples)
  [ "$(sample 'qov_device_running' "$s")" = 1 ] && [ "$(sample 'qov_life_messages_total{result="ok"}' "$s")" -ge 1 ] && break
  sleep 0.1
done
log "running: $(tr '\n' ' ' <<<"$s")"
[ "$(sample qov_up "$s")" = 1 ] || fail "qov_up is not 1 while running"
[ "$(sample qov_device_running "$s")" = 1 ] || fail "the device never showed as running"
age=$(sample qov_device_last_ack_age_seconds "$s")
awk -v a="$age" 'BEGIN { exit !(a >= 0 && a < 30) }' || fail "last ack age $age"
start_s=$(sample qov_start_time_seconds "$s")
[ "$start_s" -ge "$t_start" ] && [ "$start_s" -le "$(date +%s)" ] || fail "start time $start_s (started at $t_start)"
ls "$(dirname "$METRICS")" | grep -v '^qov.prom$' >/dev/null && fail "more than the metrics file: $(ls "$(dirname "$METRICS")")"

# The target fails until a modem reset went out, then answers again.
check_target_mode 503
wait_log "modem reset ok" 30 1
check_target_mode 200
oks=$(count "ping ok")
wait_log "ping ok" 20 $((oks + 2))
stop_service
wait_state 1 20
wait_log "Service stopped" 20

# The file left at the stop was written after every worker had ended.
s=$(samples)
log "at the stop: $(tr '\n' ' ' <<<"$s")"
expect() { [ "$(sample "$1" "$s")" = "$2" ] || fail "$1 is $(sample "$1" "$s"), expected $2"; }
expect qov_up 0
expect qov_device_running 0
expect qov_check_last_success 1
expect qov_check_failed_cycles_in_row 0
expect 'qov_check_cycles_total{result="ok"}' "$(count 'ping ok')"
expect 'qov_check_cycles_total{result="fail"}' "$(count 'ping fail')"
expect 'qov_life_messages_total{result="ok"}' "$(count 'Life message send ok')"
expect 'qov_life_messages_total{result="fail"}' "$(count 'Life message send fail')"
expect 'qov_resets_total{kind="modem"}' $(($(count 'modem reset ok') + $(count 'modem reset fail')))
expect 'qov_resets_total{kind="computer"}' 0
expect qov_log_write_failures_total 0
[ "$(count 'ping fail')" -ge 2 ] || fail "fewer than two failed cycles"
[ "$(log_messages | grep -c '^metrics file write fail')" = 1 ] || fail "the failure was logged more than once"
