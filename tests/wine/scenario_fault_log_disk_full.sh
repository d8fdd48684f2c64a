# The installed service with its log on a full disk: a 64 KiB tmpfs mounted
# on a folder of drive C (as root; without root the scenario says so and
# passes without running). While the disk is full the service keeps running
# and keeps feeding the board, and the log takes no lines; once space is
# freed, logging resumes in the same file, every line in it whole (the line
# the disk filled in is taken back), and the stop's last line is
# "Service stopped".
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

if [ "$(id -u)" != 0 ]; then
  log "SKIP: needs root to mount a tmpfs into the prefix's drive_c"
  exit 0
fi
DISK=$DRIVE_C/full
mkdir -p "$DISK"
mount -t tmpfs -o size=64k qov_wine_disk_full "$DISK" || fail "cannot mount a tmpfs on $DISK"
on_cleanup "umount -l '$DISK'"
LOG_FILE=$DISK/qov.txt

start_device_sim_com3
life_frames() { awk '$2 == "frame" && $3 == 5' "$OUT/frames" 2>/dev/null | wc -l; }
count() { log_messages | grep -cxF -- "$1" || true; }
import_config \
  "$(reg_sz log_file_path 'C:\full\qov.txt')" \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_sz check_addr_0 'ICMP - 127.0.0.1')" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword life_beakon_period_ms 500)"
install_service
start_service
wait_log "QOV timer init ok" 30
wait_log "Life message send ok" 15 2

dd if=/dev/zero of="$DISK/filler" bs=1k 2>/dev/null || true
log "disk full: $(df -k "$DISK" | awk 'NR == 2 {print $4}') KiB free"
size_full=$(stat -c %s "$LOG_FILE")
frames_full=$(life_frames)
for _ in $(seq 100); do [ "$(life_frames)" -ge $((frames_full + 6)) ] && break; sleep 0.1; done
[ "$(life_frames)" -ge $((frames_full + 6)) ] || fail "the board was not fed while the disk was full"
[ "$(service_state)" = 4 ] || fail "the service is no longer running (state $(service_state))"
# What was left of the file's last page may still have taken a line or two.
[ "$(stat -c %s "$LOG_FILE")" -le $((size_full + 4096)) ] || fail "the log grew on a full disk"

rm -f "$DISK/filler"
oks=$(count "Life message send ok")
wait_log "Life message send ok" 20 $((oks + 2))
log "logging resumed: $(stat -c %s "$LOG_FILE") bytes (was $size_full when the disk filled)"
# A line cut where the disk filled runs into the next one: two timestamps on one line.
stamp='[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M - '
cut=$(tr -d '\r' <"$LOG_FILE" | grep -cE "$stamp.*$stamp" || true)
[ "$cut" = 0 ] || fail "a line cut where the disk filled runs into the next:" \
  "$(tr -d '\r' <"$LOG_FILE" | grep -E "$stamp.*$stamp" | sed -n 1,1p)"
# Every line whole: a timestamp, one message, CR LF.
broken=$({ grep -nv $'\r$' "$LOG_FILE" || true; tr -d '\r' <"$LOG_FILE" | grep -nvE "^$stamp[^/]+$" || true; } | sed -n 1,3p)
[ -z "$broken" ] || fail "broken lines after the disk was full: $broken"

stop_service
wait_state 1 20
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
expect_log "QOV timer stop ok"
