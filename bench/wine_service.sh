#!/usr/bin/env bash
# The Windows build at idle for scripts/bench: the service installed in a
# fresh Wine prefix (the Wine scenarios' helpers), COM3 on the simulated
# board, an ICMP check of 127.0.0.1 every second. When it runs steadily it
# writes "prefix", "service" and "wineserver" lines to <ready file>, then
# waits for <stop file>; leaving stops and uninstalls the service and ends
# this prefix's wineserver.
# Args: <wine work dir> <mingw build dir> <native tools dir> <ready file> <stop file>
SCENARIO=bench_idle
source "$(cd "$(dirname "$0")/.." && pwd)/tests/wine/lib.sh"
READY=$4
STOP=$5
trap 'exit 1' TERM INT
scenario_begin "$1" "$2" "$3"
start_device_sim COM3
import_config \
  "$(reg_dword wait_time_after_start_s 1)" \
  "$(reg_dword check_addr_count 1)" \
  "$(reg_sz check_addr_0 'ICMP - 127.0.0.1')" \
  "$(reg_dword check_ok_period_s 1)" \
  "$(reg_dword check_fail_period_s 1)"
install_service
start_service
wait_state 4 30
wait_log "QOV timer init ok" 60
wait_log "ping ok" 60 2
service=$(service_pids | head -n 1)
[ -n "$service" ] || fail "no service process"
server=
for pid in $(pgrep wineserver); do
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$PREFIX" && server=$pid
done
[ -n "$server" ] || fail "no wineserver"
printf 'prefix %s\nservice %s\nwineserver %s\n' "$PREFIX" "$service" "$server" >"$READY.tmp"
mv "$READY.tmp" "$READY"
log "steady: service pid $service, wineserver pid $server"
while [ ! -e "$STOP" ]; do sleep 1; done
expect_log "ping ok"
