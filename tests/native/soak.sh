# The Linux daemon under a few minutes of everything at once: one-second
# check periods against a check target that flaps between 200 and 503 (and
# an ICMP address no host answers), a board that goes silent, comes back,
# is unplugged and plugged in again, life messages every second, load lines
# every second, program control of a program that does not exist, modem and
# computer resets, log rotation. Every minute runs the same schedule; after
# a warm-up minute that is not measured, the first and the last minute of
# the soak are compared:
#   - threads (/proc/PID/task) and descriptors (/proc/PID/fd): the lowest
#     count of the last minute is no higher than that of the first minute
#     (short-lived ones - a probe's socket - only ever add to a sample);
#   - memory (VmRSS): the median of the last minute is at most 512 KiB
#     above that of the first. The median, because a leak moves the typical
#     value while a buffer freed at once lifts single samples. The slack is
#     for the allocator, not for leaks: within each minute the resident set
#     swings by a few hundred KiB as the schedule moves between its phases
#     (a silent or unplugged board, failing checks and resets allocate
#     differently) and as ASan's allocator hands pages back to the system
#     (every 500 ms here) or keeps them in its per-thread caches. A leak of
#     a few hundred bytes per cycle passes it in a few minutes; LeakSanitizer
#     at the exit checks for leaks as such. (The release build stays within
#     a few KiB over seven minutes.)
#   - the board is fed in every minute; the daemon runs to the end and stops
#     with the timer stop and "Service stopped";
#   - every log line of every generation is whole: a timestamp, " - ", one
#     known message, CR LF; nothing run together.
# The board keeps a stable name across replugs as a USB adapter does
# (/dev/serial/by-id/...): the run has its own mount namespace with a
# private /dev, so nothing of it is seen outside. Needs root; exits 77
# (skipped) without.
# Args: <daemon> <device simulator> <work dir> [seconds, default $QOV_SOAK_SECONDS or 180]
# ($QOV_SOAK_WARMUP_SECONDS, default 60, come before them.)
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_soak
DURATION=${4:-${QOV_SOAK_SECONDS:-180}}
# A first minute on the same schedule, not measured: the allocators (ASan's
# above all) take their working set of pages only once every path has run.
WARMUP=${QOV_SOAK_WARMUP_SECONDS:-60}
HERE=$(cd "$(dirname "$0")" && pwd)
RSS_SLACK_KIB=512

TAG=soak
LOG_FILE=$WORK/log/qov.log
source "$HERE/lib.sh"

if [ -z "${QOV_SOAK_INSIDE:-}" ]; then
  if [ "$(id -u)" != 0 ] || ! unshare --mount --propagation private true 2>/dev/null; then
    say "SKIP: needs root and unshare --mount for a private /dev (the board's stable by-id name)"
    exit 77
  fi
  rm -rf "$WORK"
  mkdir -p "$WORK"
  exec env QOV_SOAK_INSIDE=1 unshare --mount --propagation private bash "$0" "$@"
fi

# --- Inside the namespace: a private /dev with what the run needs.
NEWDEV=$WORK/dev
mkdir -p "$NEWDEV"
mount -t tmpfs -o size=1m,mode=755 qov_soak_dev "$NEWDEV"
for node in null zero full random urandom tty ptmx; do cp -a "/dev/$node" "$NEWDEV/"; done
ln -s /proc/self/fd "$NEWDEV/fd"
for n in 0 1 2; do ln -s "/proc/self/fd/$n" "$NEWDEV/$(echo stdin stdout stderr | cut -d' ' -f$((n + 1)))"; done
mkdir -p "$NEWDEV/pts" "$NEWDEV/shm" "$NEWDEV/serial/by-id"
mount --rbind /dev/pts "$NEWDEV/pts"
mount --rbind /dev/shm "$NEWDEV/shm"
mount --move "$NEWDEV" /dev
BOARD=serial/by-id/usb-Vopa_QOV_Lumo_soak-if00-port0

sim() { echo "$*" >"$WORK/sim.ctl"; }

# --- The board, the check target, the configuration.
mkdir -p "$WORK/log" "$WORK/state" "$WORK/generations"
sim_started_ms=$(date +%s%3N)
"$SIM" --link "/dev/$BOARD" --path-file "$WORK/pty" --record "$WORK/frames" --control "$WORK/sim.ctl" \
  >"$WORK/sim.out" 2>&1 &
PIDS+=($!)
echo 200 >"$WORK/http.mode"
python3 "$HERE/../wine/check_target.py" --port-file "$WORK/http.port" --control-file "$WORK/http.mode" \
  >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -L "/dev/$BOARD" ] && [ -s "$WORK/http.port" ] && break; sleep 0.05; done
[ -L "/dev/$BOARD" ] || fail "the simulated board has no by-id link"
PORT=$(cat "$WORK/http.port")
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n'
  printf '"log_file_path"="%s"\r\n' "$WORK/log/qov.log"
  printf '"log_file_max_size"=dword:00000010\r\n'
  printf '"qov_com_port"="%s"\r\n' "$BOARD"
  printf '"wait_time_after_start_s"=dword:00000001\r\n'
  printf '"check_ok_period_s"=dword:00000001\r\n'
  printf '"check_fail_period_s"=dword:00000001\r\n'
  printf '"check_wait_resp_s"=dword:00000001\r\n'
  printf '"check_fail_loop_count"=dword:00000003\r\n'
  printf '"check_fail_loop_count_before_reset_comp"=dword:00000001\r\n'
  printf '"reset_modem"=dword:00000001\r\n'
  printf '"reset_comp"=dword:00000001\r\n'
  printf '"check_addr_count"=dword:00000002\r\n'
  printf '"check_addr_0"="HTTP - 127.0.0.1:%s/soak"\r\n' "$PORT"
  printf '"check_addr_1"="ICMP - 240.0.0.1"\r\n'
  printf '"life_beakon_period_ms"=dword:000003e8\r\n'
  printf '"system_load_log_enable"=dword:00000001\r\n'
  printf '"system_load_log_period_s"=dword:00000001\r\n'
  printf '"program_ctrl_process_name"="qov_soak_missing_program"\r\n'
  printf '"program_ctrl_command_line"="/nonexistent/qov_soak_missing_program --soak"\r\n'
  printf '"program_ctrl_check_period_s"=dword:00000001\r\n'
} >"$WORK/qov.reg"
chmod 0644 "$WORK/qov.reg"  # the daemon refuses a configuration others could change

# --- The daemon. ASan keeps no quarantine and no allocation stacks (both
# grow with the run without being the daemon's memory) and returns free
# pages to the system, so that the resident set follows what the daemon
# holds; LeakSanitizer runs at its exit.
env -u NOTIFY_SOCKET LC_ALL=C QOV_STATE_DIR="$WORK/state" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0:malloc_context_size=0:allocator_release_to_os_interval_ms=500:detect_leaks=1" \
  "$DAEMON" --config "$WORK/qov.reg" 2>"$WORK/daemon.err" &
DAEMON_PID=$!
PIDS+=("$DAEMON_PID")
wait_log "QOV timer init ok" 30
wait_log "Life message send ok" 30
wait_log "ping ok" 30
say "daemon $DAEMON_PID up; warming up for ${WARMUP}s, then soaking for ${DURATION}s (board $BOARD, check target :$PORT)"

# --- The schedule: the same each minute.
#   check target: 200 for 10 s, 503 for 10 s
#   board:        normal 0-14 s, silent 15-24 s, normal 25-34 s, unplugged 35-44 s, normal 45-59 s
sample() {
  local t=$1 threads fds rss
  threads=$(ls "/proc/$DAEMON_PID/task" 2>/dev/null | wc -l)
  fds=$(ls "/proc/$DAEMON_PID/fd" 2>/dev/null | wc -l)
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$DAEMON_PID/status" 2>/dev/null)
  echo "$t $threads $fds ${rss:-0}" >>"$WORK/samples"
}
keep_generation() {
  local old=$WORK/log/qov.log.1 id
  [ -f "$old" ] || return 0
  id=$(stat -c '%i-%s-%Y' "$old")
  [ -f "$WORK/generations/$id" ] || cp "$old" "$WORK/generations/$id"
}
# Times count from the end of the warm-up; the schedule runs through both.
start=$(($(date +%s) + WARMUP))
soak_start_ms=$(($(date +%s%3N) + WARMUP * 1000 - sim_started_ms))  # on the simulator's record clock
last_second=$((-WARMUP - 1))
unplugs=0
while :; do
  t=$(($(date +%s) - start))
  [ "$t" -ge "$DURATION" ] && break
  kill -0 "$DAEMON_PID" 2>/dev/null || fail "the daemon ended during the soak (t=${t}s)"
  if [ "$t" != "$last_second" ]; then
    last_second=$t
    s=$(((t + 6000) % 60))
    if [ $(((t + 6000) % 20)) -lt 10 ]; then echo 200 >"$WORK/http.mode"; else echo 503 >"$WORK/http.mode"; fi
    case $s in
      15) sim mode silent ;;
      25) sim mode normal ;;
      35) sim unplug; [ "$t" -ge 0 ] && unplugs=$((unplugs + 1)) ;;
      45) sim plug ;;
    esac
    keep_generation
  fi
  # Every pass: a window's lowest count must not hang on one lucky sample.
  [ "$t" -ge 0 ] && sample "$t"
  sleep 0.2
done
sample "$DURATION"
keep_generation

# --- The stop.
kill -0 "$DAEMON_PID" 2>/dev/null || fail "the daemon ended during the soak"
sim mode normal
sim plug
kill -TERM "$DAEMON_PID"
rc=0
wait "$DAEMON_PID" || rc=$?
[ "$rc" = 0 ] || fail "daemon exit $rc (LeakSanitizer reports it in daemon.err)"
keep_generation  # a rotation may come with the last lines

# --- Growth between the first and the last minute.
window=$((DURATION / 2 < 60 ? DURATION / 2 : 60))
read -r first_t first_threads first_fds first_rss < <(head -n 1 "$WORK/samples")
read -r end_t end_threads end_fds end_rss < <(tail -n 1 "$WORK/samples")
stats() { # min, median and max of column $1 in [from, to)
  awk -v c="$1" -v a="$2" -v b="$3" '$1 >= a && $1 < b { print $c }' "$WORK/samples" | sort -n |
    awk '{ v[NR] = $1 } END { print v[1], v[int((NR + 1) / 2)], v[NR] }'
}
read -r t1_min _ t1_max < <(stats 2 0 "$window")
read -r f1_min _ f1_max < <(stats 3 0 "$window")
read -r r1_min r1_med r1_max < <(stats 4 0 "$window")
read -r t2_min _ t2_max < <(stats 2 $((DURATION - window)) $((DURATION + 1)))
read -r f2_min _ f2_max < <(stats 3 $((DURATION - window)) $((DURATION + 1)))
read -r r2_min r2_med r2_max < <(stats 4 $((DURATION - window)) $((DURATION + 1)))
say "threads: start $first_threads, end $end_threads (first minute $t1_min-$t1_max, last minute $t2_min-$t2_max)"
say "descriptors: start $first_fds, end $end_fds (first minute $f1_min-$f1_max, last minute $f2_min-$f2_max)"
say "VmRSS KiB: start $first_rss, end $end_rss (first minute $r1_min-$r1_max median $r1_med, last minute $r2_min-$r2_max median $r2_med)"
[ "$t2_min" -le "$t1_min" ] || fail "threads grew: lowest $t1_min in the first minute, $t2_min in the last"
[ "$f2_min" -le "$f1_min" ] || fail "descriptors grew: lowest $f1_min in the first minute, $f2_min in the last"
[ "$r2_med" -le $((r1_med + RSS_SLACK_KIB)) ] ||
  fail "memory grew: median VmRSS $r1_med KiB in the first minute, $r2_med KiB in the last (slack $RSS_SLACK_KIB)"

# --- The board was fed in every minute, and stopped at the end.
frames_in() { awk -v a="$1" -v b="$2" '$2 == "frame" && $3 == 5 && $1 >= a && $1 < b' "$WORK/frames" | wc -l; }
for ((m = 0; m * 60 < DURATION; m++)); do
  n=$(frames_in $((soak_start_ms + m * 60000)) $((soak_start_ms + (m + 1) * 60000)))
  [ "$n" -gt 0 ] || fail "no life message reached the board in minute $((m + 1))"
done
[ "$(messages | tail -n 1)" = "Service stopped" ] || fail "last line '$(messages | tail -n 1)'"
messages | grep -E '^QOV timer stop (ok|fail)$' >/dev/null || fail "no timer stop at the end"

# --- Every line of every generation whole.
known='^(Service started|Service stopped|Wait [0-9]+ min after start'
known+='|QOV COM port open (ok|fail) \(.*\)|QOV version (ok|fail)|QOV timer (init|stop) (ok|fail)'
known+='|Life message send (ok|fail)|modem reset (ok|fail)|reset pc (ok|fail)|reset pc suppressed \([0-9]+ in 24 h\)'
known+='|(reset pc|modem reset) dropped: (board not running|service stopping)|QOV COM port open fail reason: .*'
known+='|log lines dropped: [0-9]+|reset history write fail: .*'
known+='|ping (ok|fail)|System Load: CPU - .*|Unable to locate the .*|check process (ok|fail)|start process (ok|fail)'
known+='|CreateProcessAsUser fail, GetLastError = [0-9]+|Previous computer reset: .*)$'
stamp='^[0-9]{2}/[0-9]{2}/[0-9]{2}( [0-9]{2}:[0-9]{2}:[0-9]{2})? - '
lines=0
# (The last ".1" is among the generations kept.)
for f in "$WORK"/generations/* "$WORK/log/qov.log"; do
  [ -f "$f" ] || continue
  [ "$(tail -c 2 "$f" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "$f does not end with CR LF"
  bad=$({ grep -nv $'\r$' "$f" | sed 's/^/no CR LF: /'
    tr -d '\r' <"$f" | grep -nvE "$stamp${known#^}" | sed 's/^/not one whole line: /'; } | head -n 5 || true)
  [ -z "$bad" ] || fail "broken lines in $f: $bad"
  lines=$((lines + $(wc -l <"$f")))
done
generations=$(ls "$WORK/generations" | wc -l)
say "log: $lines lines in $((generations + 1)) generations, all whole; $unplugs unplugs;" \
  "life messages received: $(awk '$2 == "frame" && $3 == 5' "$WORK/frames" | wc -l)"
say "PASS (${DURATION}s)"
