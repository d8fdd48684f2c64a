# The daemon's metrics file published by Debian's prometheus-node-exporter:
# its textfile collector, pointed at the daemon's metrics folder on
# 127.0.0.1, serves the qov_ metrics on /metrics (parsed with
# prometheus_client), and after the stop the scrape shows the last file, with
# counters that match the log.
# Args: <daemon> <device simulator> <work dir>. Exit 77 (skipped) only when
# the exporter or prometheus_client is not installed.
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_metrics
HERE=$(cd "$(dirname "$0")" && pwd)
EXPORTER=$(command -v prometheus-node-exporter || true)
PROM_PY=$(for py in python3 /usr/bin/python3; do
  "$py" -c 'import prometheus_client' 2>/dev/null && { echo "$py"; break; }
done || true)
if [ -z "$EXPORTER" ] || [ -z "$PROM_PY" ]; then
  echo "prometheus-node-exporter or python3-prometheus-client missing (scripts/install-deps installs them)" >&2
  exit 77
fi
rm -rf "$WORK"
mkdir -p "$WORK/textfile"
export QOV_STATE_DIR=$WORK/state  # the daemon's state and control FIFO
TAG=metrics
source "$HERE/lib.sh"
count() { messages | grep -cxF -- "$1" || true; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The exporter, with only the textfile collector; a port taken between the
# pick and the bind is picked again.
for attempt in 1 2 3 4 5; do
  EXPORTER_PORT=$(free_port)
  "$EXPORTER" --web.listen-address="127.0.0.1:$EXPORTER_PORT" --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$WORK/textfile" 2>"$WORK/exporter.err" &
  EXPORTER_PID=$!
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$EXPORTER_PORT/metrics" >/dev/null 2>&1 && break
    kill -0 "$EXPORTER_PID" 2>/dev/null || break
    sleep 0.1
  done
  if curl -sf "http://127.0.0.1:$EXPORTER_PORT/metrics" >/dev/null 2>&1; then PIDS+=("$EXPORTER_PID"); break; fi
  kill "$EXPORTER_PID" 2>/dev/null || true
  wait "$EXPORTER_PID" 2>/dev/null || true
  [ "$attempt" = 5 ] && fail "the exporter did not serve: $(tail -n 3 "$WORK/exporter.err")"
done
scrape() { curl -sf "http://127.0.0.1:$EXPORTER_PORT/metrics" >"$WORK/scrape.txt" || fail "scrape failed"; }
# The qov_ samples of a fresh scrape; fails when they are not valid.
samples() {
  scrape
  "$PROM_PY" "$HERE/../wine/check_metrics.py" - <"$WORK/scrape.txt" 2>"$WORK/check.err" ||
    fail "scrape: $(cat "$WORK/check.err")"
}
sample() { grep -F -- "$1 " <<<"$2" | awk '{print $2}'; }

start_board
start_check_target 200
write_config "$WORK/qov.reg" \
  "$(reg_sz log_file_path "$WORK/qov.log")" \
  "$(reg_sz qov_com_port "$PTY")" \
  "$(reg_dword wait_time_after_start_s 0)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:$PORT/check")" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword life_beakon_period_ms 1000)" \
  "$(reg_sz metrics_file_path "$WORK/textfile/qov.prom")" \
  "$(reg_dword metrics_period_s 1)"
"$DAEMON" --config "$WORK/qov.reg" 2>"$WORK/daemon.err" &
DAEMON_PID=$!
PIDS+=("$DAEMON_PID")
wait_log "QOV timer init ok" 15
wait_log "ping ok" 15 2
for _ in $(seq 100); do
  s=$(samples)
  [ "$(sample qov_device_running "$s")" = 1 ] && [ "$(sample 'qov_check_cycles_total{result="ok"}' "$s")" -ge 1 ] && break
  sleep 0.1
done
say "scraped while running: $(tr '\n' ' ' <<<"$s")"
[ "$(sample qov_up "$s")" = 1 ] || fail "qov_up is not 1"
[ "$(sample qov_device_running "$s")" = 1 ] || fail "the device never showed as running"
[ "$(sample 'qov_check_cycles_total{result="ok"}' "$s")" -ge 1 ] || fail "no passing cycle scraped"
grep -qx 'node_textfile_scrape_error 0' "$WORK/scrape.txt" || fail "textfile collector: $(grep node_textfile "$WORK/scrape.txt")"

kill -TERM "$DAEMON_PID"
wait "$DAEMON_PID" || fail "daemon exit $?"
s=$(samples)
say "scraped after the stop: $(tr '\n' ' ' <<<"$s")"
expect() { [ "$(sample "$1" "$s")" = "$2" ] || fail "$1 is '$(sample "$1" "$s")', expected $2"; }
expect qov_up 0
expect qov_device_running 0
expect 'qov_check_cycles_total{result="ok"}' "$(count 'ping ok')"
expect 'qov_check_cycles_total{result="fail"}' "$(count 'ping fail')"
expect 'qov_life_messages_total{result="ok"}' "$(count 'Life message send ok')"
expect qov_log_write_failures_total 0
[ "$(ls "$WORK/textfile")" = qov.prom ] || fail "textfile folder holds: $(ls "$WORK/textfile")"
say "PASS"
