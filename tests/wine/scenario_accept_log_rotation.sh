# A small log_file_max_size rotates the log to ".1" at its threshold, and each
# rotation replaces the older ".1".
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

# Failed dials log a line every 100 ms, which fills 640 bytes (5 blocks) quickly.
import_config \
  "$(reg_dword connection_need_dial 1)" \
  "$(reg_sz connection_name 'nowhere')" \
  "$(reg_dword log_file_max_size 1)" \
  "$(reg_sz log_file_path 'C:\logs\qov.txt')"
mkdir -p "$DRIVE_C/logs"
LOG_FILE=$DRIVE_C/logs/qov.txt
install_service
start_service
for _ in $(seq 100); do [ -f "$LOG_FILE.1" ] && break; sleep 0.1; done
[ -f "$LOG_FILE.1" ] || fail "no rotation happened"
first_old=$(head -n 1 "$LOG_FILE.1")
sleep 3
stop_service
wait_state 1 15
size_old=$(stat -c %s "$LOG_FILE.1")
size_new=$(stat -c %s "$LOG_FILE")
log "sizes: .1 = $size_old, current = $size_new"
# Rotated once past 4 blocks: 640 bytes at least, and less than one more line.
[ "$size_old" -ge 640 ] && [ "$size_old" -lt 740 ] || fail ".1 holds $size_old bytes"
[ "$size_new" -lt 740 ] || fail "current file holds $size_new bytes"
[ "$(head -n 1 "$LOG_FILE.1")" != "$first_old" ] || fail ".1 was never replaced"
[ "$(last_log_message)" = "Service stopped" ] || fail "last line is '$(last_log_message)'"
