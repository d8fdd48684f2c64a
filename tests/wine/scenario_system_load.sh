# System-load lines at the configured period, with the CPU figure taken from
# the system's CPU times (Wine has no processor performance object); a busy
# loop raises it.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

import_config \
  "$(reg_dword wait_time_after_start_s 0)" \
  "$(reg_dword check_addr_count 0)" \
  "$(reg_dword system_load_log_enable 1)" \
  "$(reg_dword system_load_log_period_s 2)"
install_service
start_service
wait_state 4
line_re='^System Load: CPU - -?[0-9]+%; RAM in use - [0-9]+%; Total RAM - [1-9][0-9]* Kbytes; Free RAM - [0-9]+ Kbytes; Total swap - [0-9]+ Kbytes; Free swap - [0-9]+ Kbytes;$'
load_lines() { log_messages | grep '^System Load: CPU - ' || true; }
cpu_figures() { load_lines | sed 's/^System Load: CPU - \(-\?[0-9]*\)%.*/\1/'; }
for _ in $(seq 150); do [ "$(load_lines | wc -l)" -ge 4 ] && break; sleep 0.1; done
[ "$(load_lines | wc -l)" -ge 4 ] || fail "only $(load_lines | wc -l) load lines"
load_lines | while read -r l; do [[ "$l" =~ $line_re ]] || fail "bad line '$l'"; done
[ "$(log_messages | grep -cxF 'Unable to locate the "Processor" performance object')" = 1 ] ||
  fail "the missing processor object is not reported exactly once"

# Period: 2 s apart (the log's timestamps have a 1-s resolution).
stamps=$(tr -d '\r' <"$(log_file)" | grep ' - System Load: CPU - ' | sed 's/ - System Load.*//' |
  while read -r d; do date -d "$d" +%s; done)
first=$(head -n 1 <<<"$stamps"); last=$(tail -n 1 <<<"$stamps"); n=$(wc -l <<<"$stamps")
span=$((last - first)); expected=$((2 * (n - 1)))
# Each period counts from the previous line, so passes and load add up.
[ "$span" -ge $((expected - 1)) ] && [ "$span" -le $((expected + 2 + n)) ] ||
  fail "$n lines over ${span} s, expected about ${expected} s"

idle_max=$(cpu_figures | tail -n 3 | sort -n | tail -n 1)
for _ in 1 2; do (while :; do :; done) & on_cleanup "kill $! 2>/dev/null"; done
lines=$(load_lines | wc -l)
for _ in $(seq 80); do [ "$(load_lines | wc -l)" -ge $((lines + 3)) ] && break; sleep 0.1; done
busy=$(cpu_figures | tail -n 2 | sort -n | tail -n 1)
log "CPU before: up to ${idle_max}%, busy: ${busy}%"
[ "$busy" -ge 90 ] || [ "$busy" -ge $((idle_max + 20)) ] || fail "busy loop did not raise the CPU figure"
stop_service
wait_state 1 15
