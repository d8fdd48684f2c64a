# A short soak of the installed service under Wine ($QOV_WINE_SOAK_SECONDS,
# default 90 s): one-second check periods against a check target that flaps
# between 200 and 503 (and an ICMP address no host answers), a board that
# goes silent, comes back, is unplugged and plugged in again (COM3 keeps its
# name through the prefix's link), life messages and load lines every
# second, program control of a program that does not exist, modem and
# computer resets. Every 30 s run the same schedule; the first run is a
# warm-up that is not measured (every path has run once after it). Then
# GetProcessHandleCount answers 0 for another process under Wine, so the
# service's Unix process is measured instead, in the first and the last
# 30 s: threads (/proc/PID/task) and descriptors (/proc/PID/fd) may not rise
# (lowest sample of each: short-lived ones only ever add to a sample; samples
# every 0.2 s, so each window sees the few seconds of the unplugged board,
# when the receive thread is gone, many times over), VmRSS
# by at most 1 MiB (median of each: a leak moves the typical value, while a
# buffer freed at once or a passing thread's stack lifts single samples by
# up to 2.5 MiB, and the phases of the schedule move the resident set by
# about 1 MiB for a few seconds). Every log line stays whole, and the stop
# ends with the timer stop and "Service stopped".
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

DURATION=${QOV_WINE_SOAK_SECONDS:-90}
WARMUP=$((DURATION >= 90 ? 30 : 0))
WINDOW=$(((DURATION - WARMUP) >= 60 ? 30 : (DURATION - WARMUP) / 2))
RSS_SLACK_KIB=1024

start_device_sim_com3
start_check_target 200
sim() { echo "$*" >"$OUT/sim.ctl"; }
import_config \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)" \
  "$(reg_dword check_wait_resp_s 1)" \
  "$(reg_dword check_fail_loop_count 3)" \
  "$(reg_dword check_fail_loop_count_before_reset_comp 1)" \
  "$(reg_dword reset_modem 1)" \
  "$(reg_dword reset_comp 1)" \
  "$(reg_dword check_addr_count 2)" \
  "$(reg_sz check_addr_0 "HTTP - 127.0.0.1:$CHECK_PORT/soak")" \
  "$(reg_sz check_addr_1 'ICMP - 240.0.0.1')" \
  "$(reg_dword life_beakon_period_ms 1000)" \
  "$(reg_dword system_load_log_enable 1)" \
  "$(reg_dword system_load_log_period_s 1)" \
  "$(reg_dword log_file_max_size 16)" \
  "$(reg_sz program_ctrl_process_name 'qov_soak_missing_program')" \
  "$(reg_sz program_ctrl_command_line 'C:\nowhere\qov_soak_missing_program.exe')" \
  "$(reg_dword program_ctrl_check_period_s 1)"
install_service
start_service
wait_log "QOV timer init ok" 30
wait_log "ping ok" 30
pid=$(service_pids | sed -n 1p)
[ -n "$pid" ] || fail "no Unix process of the service"
log "service process $pid; soaking for ${DURATION}s"

# The schedule, the same every 30 s: target 200 for 5 s, 503 for 5 s;
# board normal 0-9 s, silent 10-14 s, normal 15-19 s, unplugged 20-24 s, normal 25-29 s.
mkdir -p "$OUT/generations"
keep_generation() {
  local old=$(log_file).1 id
  [ -f "$old" ] || return 0
  id=$(stat -c '%i-%s-%Y' "$old")
  [ -f "$OUT/generations/$id" ] || cp "$old" "$OUT/generations/$id"
}
sample() {
  local threads fds rss
  threads=$(ls "/proc/$pid/task" 2>/dev/null | wc -l)
  fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
  echo "$1 $threads $fds ${rss:-0}" >>"$OUT/samples"
}
start=$(date +%s)
last=-1
while :; do
  t=$(($(date +%s) - start))
  [ "$t" -ge "$DURATION" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the service process ended during the soak (t=${t}s)"
  if [ "$t" != "$last" ]; then
    last=$t
    if [ $((t % 10)) -lt 5 ]; then check_target_mode 200; else check_target_mode 503; fi
    case $((t % 30)) in
      10) sim mode silent ;;
      15) sim mode normal ;;
      20) sim unplug ;;
      25) sim plug ;;
    esac
    keep_generation
  fi
  sample "$t"
  sleep 0.2
done
sample "$DURATION"
keep_generation
[ "$(service_state)" = 4 ] || fail "the service is not running at the end (state $(service_state))"

stats() { # min, median and max of column $1 over samples in [from, to)
  awk -v c="$1" -v a="$2" -v b="$3" '$1 >= a && $1 < b { print $c }' "$OUT/samples" | sort -n |
    awk '{ v[NR] = $1 } END { print v[1], v[int((NR + 1) / 2)], v[NR] }'
}
first=$WARMUP last=$((DURATION - WINDOW))
read -r t1 _ t1x < <(stats 2 "$first" $((first + WINDOW)))
read -r f1 _ f1x < <(stats 3 "$first" $((first + WINDOW)))
read -r r1 r1m r1x < <(stats 4 "$first" $((first + WINDOW)))
read -r t2 _ t2x < <(stats 2 "$last" $((DURATION + 1)))
read -r f2 _ f2x < <(stats 3 "$last" $((DURATION + 1)))
read -r r2 r2m r2x < <(stats 4 "$last" $((DURATION + 1)))
read -r _ ts fs rs < <(head -n 1 "$OUT/samples")
read -r _ te fe re < <(tail -n 1 "$OUT/samples")
log "threads: start $ts, end $te (${first}-$((first + WINDOW))s $t1-$t1x, ${last}-${DURATION}s $t2-$t2x)"
log "descriptors: start $fs, end $fe (first $f1-$f1x, last $f2-$f2x)"
log "VmRSS KiB: start $rs, end $re (first $r1-$r1x median $r1m, last $r2-$r2x median $r2m)"
[ "$t2" -le "$t1" ] || fail "threads grew: lowest $t1 at first, $t2 at the end"
[ "$f2" -le "$f1" ] || fail "descriptors grew: lowest $f1 at first, $f2 at the end"
[ "$r2m" -le $((r1m + RSS_SLACK_KIB)) ] || fail "memory grew: median VmRSS $r1m KiB at first, $r2m KiB at the end"

sim mode normal
sim plug
stop_service
wait_state 1 20
keep_generation  # a rotation may come with the last lines
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
expect_log "QOV timer stop ok"

# Every line of every generation whole: timestamp, " - ", one message, CR LF.
stamp='^[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}( [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M)? - '
known='^(Service started|Service stopped|Wait [0-9]+ min after start'
known+='|QOV COM port open (ok|fail) \(COM3\)|QOV version (ok|fail)|QOV timer (init|stop) (ok|fail)'
known+='|Life message send (ok|fail)|modem reset (ok|fail)|reset pc (ok|fail)|reset pc suppressed \([0-9]+ in 24 h\)'
known+='|(reset pc|modem reset) dropped: (board not running|service stopping)|QOV COM port open fail reason: .*'
known+='|log lines dropped: [0-9]+|reset history write fail: .*'
known+='|ping (ok|fail)|System Load: CPU - .*|Unable to locate the .*|check process (ok|fail)'
known+='|start process (ok|fail)|CreateProcessAsUser fail, GetLastError = [0-9]+|Previous computer reset: .*)$'
lines=0
# (The last ".1" is among the generations kept.)
for f in "$OUT"/generations/* "$(log_file)"; do
  [ -f "$f" ] || continue
  [ "$(tail -c 2 "$f" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "$f does not end with CR LF"
  bad=$({ grep -nv $'\r$' "$f" | sed 's/^/no CR LF: /'
    tr -d '\r' <"$f" | grep -nvE "$stamp${known#^}" | sed 's/^/not one whole line: /'; } | head -n 5 || true)
  [ -z "$bad" ] || fail "broken lines in $f: $bad"
  lines=$((lines + $(wc -l <"$f")))
done
log "log: $lines lines, all whole; frames: $(awk '$2 == "frame"' "$OUT/frames" | wc -l)"
