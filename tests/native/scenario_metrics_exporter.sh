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
PIDS=()
cleanup() {
  local rc=$?
  set +e
  for p in "${PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  exit "$rc"
}
trap cleanup EXIT
log() { printf '[%s metrics] %s\n' "$(date +%T)" "$*" >&2; }
fail() {
  log "FAIL: $*"
  [ -f "$WORK/qov.log" ] && tail -n 20 "$WORK/qov.log" >&2
  [ -f "$WORK/exporter.err" ] && tail -n 10 "$WORK/exporter.err" >&2
  exit 1
}
messages() { [ -f "$WORK/qov.log" ] && tr -d '\r' <"$WORK/qov.log" | awk '{ i = index($0, " - "); print (i ? substr($0, i + 3) : $0) }'; }
count() { messages | grep -cxF -- "$1" || true; }
wait_log() {
  local msg=$1 limit=${2:-20} n=${3:-1} i
  for ((i = 0; i < limit * 10; i++)); do
    [ "$(count "$msg")" -ge "$n" ] && return 0
    sleep 0.1
  done
  fail "log never showed '$msg' (x$n) within ${limit}s"
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The exporter, with only the textfile collector; a port taken between the
# pick and the bind is picked again.
for attempt in 1 2 3 4 5; do
  PORT=$(free_port)
  "$EXPORTER" --web.listen-address="127.0.0.1:$PORT" --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$WORK/textfile" 2>"$WORK/exporter.err" &
  EXPORTER_PID=$!
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$PORT/metrics" >/dev/null 2>&1 && break
    kill -0 "$EXPORTER_PID" 2>/dev/null || break
    sleep 0.1
  done
  if curl -sf "http://127.0.0.1:$PORT/metrics" >/dev/null 2>&1; then PIDS+=("$EXPORTER_PID"); break; fi
  kill "$EXPORTER_PID" 2>/dev/null || true
  wait "$EXPORTER_PID" 2>/dev/null || true
  [ "$attempt" = 5 ] && fail "the exporter did not serve: $(tail -n 3 "$WORK/exporter.err")"
done
scrape() { curl -sf "http://127.0.0.1:$PORT/metrics" >"$WORK/scrape.txt" || fail "scrape failed"; }
# The qov_ samples of a fresh scrape; fails when they are not valid.
samples() {
  scrape
  "$PROM_PY" "$HERE/../wine/check_metrics.py" - <"$WORK/scrape.txt" 2>"$WORK/check.err" ||
    fail "scrape: $(cat "$WORK/check.err")"
}
sample() { grep -F -- "$1 " <<<"$2" | awk '{print $2}'; }

"$SIM" --path-file "$WORK/pty" --record "$WORK/frames" >"$WORK/sim.out" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/pty" ] && break; sleep 0.05; done
echo 200 >"$WORK/http.mode"
python3 "$HERE/../wine/check_target.py" --port-file "$WORK/http.port" --control-file "$WORK/http.mode" \
  --request-log "$WORK/http.requests" >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/http.port" ] && break; sleep 0.05; done
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n'
  printf '"log_file_path"="%s"\r\n' "$WORK/qov.log"
  printf '"qov_com_port"="%s"\r\n' "$(cat "$WORK/pty")"
  printf '"wait_time_after_start_s"=dword:00000000\r\n'
  printf '"check_addr_count"=dword:00000001\r\n'
  printf '"check_addr_0"="HTTP - 127.0.0.1:%s/check"\r\n' "$(cat "$WORK/http.port")"
  printf '"check_ok_period_s"=dword:00000001\r\n'
  printf '"life_beakon_period_ms"=dword:000003e8\r\n'
  printf '"metrics_file_path"="%s"\r\n' "$WORK/textfile/qov.prom"
  printf '"metrics_period_s"=dword:00000001\r\n'
} >"$WORK/qov.reg"
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
log "scraped while running: $(tr '\n' ' ' <<<"$s")"
[ "$(sample qov_up "$s")" = 1 ] || fail "qov_up is not 1"
[ "$(sample qov_device_running "$s")" = 1 ] || fail "the device never showed as running"
[ "$(sample 'qov_check_cycles_total{result="ok"}' "$s")" -ge 1 ] || fail "no passing cycle scraped"
grep -qx 'node_textfile_scrape_error 0' "$WORK/scrape.txt" || fail "textfile collector: $(grep node_textfile "$WORK/scrape.txt")"

kill -TERM "$DAEMON_PID"
wait "$DAEMON_PID" || fail "daemon exit $?"
s=$(samples)
log "scraped after the stop: $(tr '\n' ' ' <<<"$s")"
expect() { [ "$(sample "$1" "$s")" = "$2" ] || fail "$1 is '$(sample "$1" "$s")', expected $2"; }
expect qov_up 0
expect qov_device_running 0
expect 'qov_check_cycles_total{result="ok"}' "$(count 'ping ok')"
expect 'qov_check_cycles_total{result="fail"}' "$(count 'ping fail')"
expect 'qov_life_messages_total{result="ok"}' "$(count 'Life message send ok')"
expect qov_log_write_failures_total 0
[ "$(ls "$WORK/textfile")" = qov.prom ] || fail "textfile folder holds: $(ls "$WORK/textfile")"
log "PASS"
