# The Linux daemon with reset_dry_run set, against the simulated board: every
# cycle fails, the escalation reaches a modem and a computer reset, each is
# logged as skipped and counted in the metrics, and the board receives no
# reset frame; no computer reset is stored for the reboot-loop guard. Its
# log then makes a report whose counts are the log's and whose page renders.
# Args: <daemon> <device simulator> <work dir>
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_dry_run
HERE=$(cd "$(dirname "$0")" && pwd)
TAG=dry_run
source "$HERE/lib.sh"
rm -rf "$WORK"
mkdir -p "$WORK/state"
export QOV_STATE_DIR=$WORK/state

start_board
# ICMP to a reserved address no host can answer (240/4 is never routed).
write_config "$WORK/qov.reg" \
  "$(reg_sz log_file_path "$WORK/qov.log")" \
  "$(reg_sz metrics_file_path "$WORK/qov.prom")" \
  "$(reg_dword metrics_period_s 1)" \
  "$(reg_sz qov_com_port "$PTY")" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_sz check_addr_0 "ICMP - 240.0.0.1")" \
  "$(reg_dword check_wait_resp_s 1)" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_fail_loop_count 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword reset_comp 1)" \
  "$(reg_dword check_fail_loop_count_before_reset_comp 0)" \
  "$(reg_dword reset_comp_max_per_day 1)" \
  "$(reg_dword reset_dry_run 1)" \
  "$(reg_dword life_beakon_period_ms 1000)"
"$DAEMON" --config "$WORK/qov.reg" 2>"$WORK/daemon.err" &
DAEMON_PID=$!
PIDS+=("$DAEMON_PID")
wait_log "QOV timer init ok" 10
wait_log "modem reset skipped (dry run)" 30
wait_log "reset pc skipped (dry run)" 10
# The guard counts the dry run's own reset: the next escalation is suppressed.
wait_log "reset pc suppressed (1 in 24 h)" 15
for _ in $(seq 30); do
  grep -qx 'qov_resets_total{kind="computer"} 1' "$WORK/qov.prom" 2>/dev/null && break
  sleep 0.1
done
grep -qx 'qov_resets_total{kind="computer"} 1' "$WORK/qov.prom" || fail "metrics: $(grep resets "$WORK/qov.prom")"
grep -qE '^qov_resets_total\{kind="modem"\} [1-9]' "$WORK/qov.prom" || fail "metrics: $(grep resets "$WORK/qov.prom")"

kill -TERM "$DAEMON_PID"
rc=0; wait "$DAEMON_PID" || rc=$?
[ "$rc" = 0 ] || fail "daemon exit $rc"
say "frames: $(frames)"
grep -qxF "QOV timer stop ok" <(messages) || fail "no timer stop"
[[ "$(frames)" =~ 4\ $ ]] || fail "the timer stop was not the last frame: $(frames)"
for code in 2 174; do
  [[ " $(frames)" =~ \ $code\  ]] && fail "reset frame $code reached the board: $(frames)"
done
messages | grep -xE "modem reset ok|reset pc ok" >/dev/null && fail "a reset was logged as sent"
grep -rqs reset_comp_times "$WORK/state" && fail "a dry-run computer reset was stored: $(ls -la "$WORK/state")"

# The log read back as a report: its counts are the log's lines, and the
# page renders in Debian's headless Chromium with the failed checks drawn.
"$DAEMON" -REPORT "$WORK/qov.log" - >"$WORK/report.txt" || fail "-REPORT text: exit $?"
count() { messages | grep -cxE "$1" || true; }
for pair in "checks failed:ping fail" "checks ok:ping ok" "modem resets:modem reset (ok|fail|skipped \(dry run\))" \
  "computer resets:reset pc (ok|skipped \(dry run\))" "suppressed:reset pc suppressed \(.*\)" \
  "starts:Service started" "stops:Service stopped"; do
  heading=${pair%%:*}
  grep -qx "  $heading: $(count "${pair#*:}")" "$WORK/report.txt" ||
    fail "report says $(grep "  $heading:" "$WORK/report.txt"), the log $(count "${pair#*:}")"
done
"$DAEMON" -REPORT "$WORK/qov.log" "$WORK/report.html" >/dev/null || fail "-REPORT page: exit $?"
command -v chromium-headless-shell >/dev/null || fail "chromium-headless-shell is missing (scripts/install-deps installs it)"
chromium-headless-shell --no-sandbox --disable-gpu --hide-scrollbars --window-size=1100,700 \
  --screenshot="$WORK/report.png" "file://$WORK/report.html" >"$WORK/chromium.out" 2>&1 ||
  fail "chromium: $(tail -n 3 "$WORK/chromium.out")"
python3 "$HERE/png_has_colour.py" "$WORK/report.png" d9534f || fail "no failed checks drawn in $WORK/report.png"
say "report: $(head -n 2 "$WORK/report.txt" | tail -n 1); screenshot $WORK/report.png ($(stat -c %s "$WORK/report.png") bytes)"
say "PASS"
