# Helpers for the Wine end-to-end scenarios. Source it from a scenario:
#   source "$(dirname "$0")/lib.sh"
#   scenario_begin "$@"          # args: <wine_work_dir> <exe_dir> <native_tools_dir>
#   ...                          # import config, install, start, assert
# Cleanup (stop, uninstall, wineserver -k of this prefix) runs on every exit.
set -euo pipefail
# Under pipefail a reader that stops early (grep -q, head) fails the pipeline
# whenever its writer still writes, so readers here read to the end
# (grep >/dev/null, sed -n 1,Np); native_script_pipes holds every script to it.

SERVICE=qov_lumo_service
LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_env() {
  export WINEDEBUG=${QOV_WINEDEBUG:--all,err+eventlog}
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  unset DISPLAY WAYLAND_DISPLAY http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY
}

# Now and then, on a loaded machine, Wine's loader fails to map the program it
# was asked to run and hands the name to start.exe, which prints "Application
# could not be started, ..." and exits 1 without having run anything. Such a
# launch is retried; the command's output is passed on once it ran. Commands
# whose output must stream (the keep-alive's stderr) use `command wine`.
# WINE_TIMEOUT=<s> bounds each try like timeout(1).
WINE_LAUNCH_FAILED="Application could not be started, or no application associated with the specified file."
wine() {
  local tmp rc try
  tmp=$(mktemp -d)
  for try in 1 2 3 4 5; do
    rc=0
    if [ -n "${WINE_TIMEOUT:-}" ]; then
      timeout "$WINE_TIMEOUT" wine "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
    else
      command wine "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
    fi
    [ "$rc" = 1 ] && grep -qaF "$WINE_LAUNCH_FAILED" "$tmp/out" && ! grep -qa "failed: File not found" "$tmp/out" || break
    log "wine could not launch '$1' (try $try): $(tr -d '\r' <"$tmp/out" | tail -n 1)"
    sleep 0.5
  done
  cat "$tmp/out"
  cat "$tmp/err" >&2
  rm -rf "$tmp"
  return "$rc"
}

log() { printf '[%s %s] %s\n' "$(date +%T)" "${SCENARIO:-wine}" "$*" >&2; }
fail() {
  log "FAIL: $*"
  SCENARIO_FAILED=1
  exit 1
}

# A ready prefix, made once per work dir and copied for each scenario.
make_template() {
  local work=$1 template=$1/template
  mkdir -p "$work"
  (
    flock 9
    if [ ! -f "$template/.ready" ]; then
      rm -rf "$template"
      wine_env
      WINEPREFIX=$template WINEDEBUG=-all wine wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX=$template wineserver -w
      touch "$template/.ready"
    fi
  ) 9>"$work/template.lock"
}

# Sets WINEPREFIX to a fresh copy of the template, starts the wineserver and a
# keep-alive process whose stderr collects the session's event-log lines.
scenario_begin() {
  WORK=$(realpath -m "$1")
  EXE_DIR=$(realpath "$2")
  TOOLS_DIR=${3:+$(realpath -m "$3")}
  SCENARIO=${SCENARIO:-$(basename "$0" .sh)}
  SCENARIO_FAILED=0
  wine_env
  make_template "$WORK"
  PREFIX=$WORK/scenarios/$SCENARIO
  rm -rf "$PREFIX"
  mkdir -p "$WORK/scenarios"
  cp -a "$WORK/template" "$PREFIX"
  export WINEPREFIX=$PREFIX
  DRIVE_C=$PREFIX/drive_c
  OUT=$PREFIX/out
  mkdir -p "$OUT"
  trap scenario_end EXIT
  # The wineserver first, with its own stderr (a pty hang-up must not reach us).
  wineserver -p 2>"$OUT/wineserver.err"
  # Binaries live on drive C like an installed product.
  mkdir -p "$DRIVE_C/qov"
  cp "$EXE_DIR/$SERVICE.exe" "$DRIVE_C/qov/"
  if [ -d "$EXE_DIR/tools" ]; then cp "$EXE_DIR"/tools/*.exe "$DRIVE_C/qov/" 2>/dev/null || true; fi
  command wine "C:\\qov\\qov_keepalive.exe" 2>"$OUT/session.err" >/dev/null &
  KEEPALIVE_PID=$!
  # Programs started while the session comes up can fail to launch: the
  # scenario begins once the keep-alive's window exists.
  wait_file_line "$OUT/session.err" "keepalive ready" 60 || fail "the Wine session did not come up in 60 s"
  log "prefix $PREFIX ready"
}

scenario_end() {
  local rc=$?
  set +e
  [ "$rc" -ne 0 ] && SCENARIO_FAILED=1
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${PREFIX:-/nonexistent}" ]; then
    if [ "$SCENARIO_FAILED" != 0 ]; then
      log "--- log file ---"; [ -f "$(log_file)" ] && tail -n 40 "$(log_file)" >&2
      log "--- session stderr ---"; tail -n 20 "$OUT/session.err" >&2
    fi
    timeout 20 wine net stop $SERVICE >/dev/null 2>&1
    timeout 20 wine "C:\\qov\\$SERVICE.exe" -UNINSTALL -SILENT >/dev/null 2>&1
    [ -n "${KEEPALIVE_PID:-}" ] && kill "$KEEPALIVE_PID" 2>/dev/null
    for hook in "${CLEANUP_HOOKS[@]:-}"; do [ -n "$hook" ] && eval "$hook"; done
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    if [ "$SCENARIO_FAILED" = 0 ] && [ -z "${QOV_KEEP_PREFIX:-}" ]; then rm -rf "$PREFIX"; fi
  fi
  if [ "$SCENARIO_FAILED" = 0 ]; then log "PASS"; else log "FAILED (prefix kept: ${PREFIX:-})"; fi
  exit "$rc"
}

CLEANUP_HOOKS=()

# Puts the stand-in "rasdial" where a command-line search finds it.
install_rasdial_standin() { cp "$DRIVE_C/qov/rasdial_standin.exe" "$DRIVE_C/windows/system32/rasdial.exe"; }
on_cleanup() { CLEANUP_HOOKS+=("$1"); }

# Writes the given "name"=value lines (REGEDIT4 syntax) under the service's
# configuration key and imports them.
import_config() {
  local file=$OUT/config.reg
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n'
    for line in "$@"; do printf '%s\r\n' "$line"; done
    printf '\r\n'
  } >"$file"
  wine regedit /S "$(winepath -w "$file" 2>/dev/null)" >/dev/null 2>&1 || fail "regedit import failed"
}

# REG_SZ / REG_DWORD lines for import_config.
reg_sz() { local v=${2//\\/\\\\}; printf '"%s"="%s"' "$1" "${v//\"/\\\"}"; }
reg_dword() { printf '"%s"=dword:%08x' "$1" "$2"; }

run_service_exe() { wine "C:\\qov\\$SERVICE.exe" "$@"; }

install_service() {
  run_service_exe -INSTALL -SILENT >"$OUT/install.out" 2>"$OUT/install.err" || fail "install failed"
}

start_service() {
  local rc=0
  wine sc start $SERVICE >"$OUT/start.out" 2>&1 || rc=$?
  [ "$rc" = 0 ] && return 0
  # On a loaded machine sc itself can fail on its way out (Wine's loader
  # asserting in _dl_fini) after the SCM took the start: the state it
  # printed tells; the scenario then waits for what it needs as always.
  grep -qE 'STATE +: +(2|4) ' "$OUT/start.out" || fail "sc start failed (exit $rc): $(cat "$OUT/start.out")"
  log "sc start ended with exit $rc after the start was taken; going on"
}

stop_service() {
  wine net stop $SERVICE >"$OUT/stop.out" 2>&1 || true
}

# Prints the numeric state of `sc query` (1 stopped, 4 running), or nothing.
service_state() {
  wine sc query $SERVICE 2>/dev/null | tr -d '\r' | awk '/STATE/ && !seen {print $3; seen = 1}'
}

# Runs the command $2... every 0.1 s until it succeeds (status 0) or $1 s
# have passed (status 1).
poll_for() {
  local limit=$1 i
  shift
  for ((i = 0; i < limit * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Waits up to $1 s for the service to be deleted (the SCM drops a service
# marked for deletion once its last handle is closed).
service_deleted() { ! wine sc query $SERVICE >/dev/null 2>&1; }
wait_service_gone() { poll_for "${1:-20}" service_deleted; }

service_state_is() { [ "$(service_state)" = "$1" ]; }
wait_state() {
  poll_for "${2:-20}" service_state_is "$1" || fail "service state is '$(service_state)', expected $1"
}

# The log file as seen through the prefix's drive (default path c:\qov_log.txt).
log_file() { echo "${LOG_FILE:-$DRIVE_C/qov_log.txt}"; }

# Log messages without their timestamps, one per line.
# Only the first " - " ends the timestamp: messages may hold more of them.
log_messages() { [ -f "$(log_file)" ] && tr -d '\r' <"$(log_file)" | awk '{ i = index($0, " - "); print (i ? substr($0, i + 3) : $0) }' || true; }

# Waits until the log holds the exact message `$1` at least `$3` times (default 1).
log_has() { [ "$(log_messages | grep -cxF -- "$1")" -ge "$2" ]; }
wait_log() {
  local msg=$1 limit=${2:-30} count=${3:-1}
  poll_for "$limit" log_has "$msg" "$count" || fail "log never showed '$msg' (x$count) within ${limit}s"
}

expect_log() { log_messages | grep -xF -- "$1" >/dev/null || fail "log lacks '$1'"; }
expect_no_log() { ! log_messages | grep -xF -- "$1" >/dev/null || fail "log unexpectedly has '$1'"; }
last_log_message() { log_messages | tail -n 1; }

# Event-log insertion strings written during the session.
event_log_lines() { grep -a 'err:eventlog:ReportEvent' "$OUT"/*.err 2>/dev/null || true; }

# Unix pids of this prefix's processes whose command line matches $1 (other
# prefixes may run the same programs).
prefix_pids() {
  local pid
  for pid in $(pgrep -f "$1" 2>/dev/null); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -xF "WINEPREFIX=$PREFIX" >/dev/null && echo "$pid"
  done
  return 0
}
# This prefix's service process.
service_pids() { prefix_pids 'qov_lumo_service.exe'; }

# Waits until the wine process `pid` has ended.
pid_gone() { ! kill -0 "$1" 2>/dev/null; }
wait_pid_gone() { poll_for "${2:-20}" pid_gone "$1"; }

# Starts the HTTP check target on 127.0.0.1 and sets CHECK_PORT; its answer
# is set with check_target_mode (200, 503, hang, ...). Requests go to $OUT/http.requests.
start_check_target() {
  echo "${1:-200}" >"$OUT/http.mode"
  python3 "$LIB_DIR/check_target.py" --port-file "$OUT/http.port" --control-file "$OUT/http.mode" \
    --request-log "$OUT/http.requests" >"$OUT/http.out" 2>&1 &
  local pid=$! i
  on_cleanup "kill $pid 2>/dev/null"
  for ((i = 0; i < 50; i++)); do [ -s "$OUT/http.port" ] && break; sleep 0.1; done
  CHECK_PORT=$(cat "$OUT/http.port" 2>/dev/null) || fail "check target did not start"
}
check_target_mode() { echo "$1" >"$OUT/http.mode"; }

# Starts the device simulator as port $1 (default COM3) of this prefix, listed
# under SERIALCOMM as device $2, recording frames in $OUT/frames.
start_device_sim() {
  local port=${1:-COM3} device=${2:-'\Device\Serial2'} sim=$TOOLS_DIR/qov_device_sim i
  local link=$OUT/${port,,}.link
  [ -x "$sim" ] || fail "no simulator at $sim"
  "$sim" --link "$link" --record "$OUT/frames" --control "$OUT/sim.ctl" >"$OUT/sim.out" 2>&1 &
  local pid=$!
  # The wineserver must be gone before the pty closes (a hang-up would reach it).
  on_cleanup "wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; kill $pid 2>/dev/null"
  for ((i = 0; i < 50; i++)); do [ -L "$link" ] && break; sleep 0.1; done
  ln -sfn "$link" "$PREFIX/dosdevices/${port,,}"
  # Wine lists only COM1 by itself; the key is volatile, so this holds for this session.
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "$device" /d "$port" /f >/dev/null 2>&1 ||
    fail "cannot list $port under SERIALCOMM"
}
start_device_sim_com3() { start_device_sim COM3; }
# Command codes of the frames the simulator received, in order.
device_frames() { awk '$2 == "frame" {print $3}' "$OUT/frames" 2>/dev/null | tr '\n' ' '; }

# The service's recovery actions as the SCM returns them, against what
# -INSTALL sets: a restart a minute after each of the first two failures, then
# none, the count of failures reset after a day. Wine 8.0 takes them without
# keeping them (its services.exe prints a fixme line with the reset period)
# and cannot return them (QueryServiceConfig2 level 2 fails with 124): there a
# new fixme line since the install is the proof, which needs fixme+service in
# QOV_WINEDEBUG. $1: what installed the service; $2: failure_action_notes
# before that install.
failure_action_notes() { grep -ac 'SERVICE_CONFIG_FAILURE_ACTIONS not implemented: period 86400 ' "$OUT/session.err" || true; }
query_failure_actions() { wine "C:\\qov\\qov_failure_actions.exe" $SERVICE 2>/dev/null | tr -d '\r' || true; }
expect_failure_actions() {
  local what=$1 notes_before=$2 got
  got=$(query_failure_actions)
  if [ "$got" = "query failed: 124" ]; then
    [ "$(failure_action_notes)" -gt "$notes_before" ] ||
      fail "$what: the SCM never got the recovery actions: $(grep -a 'FAILURE_ACTIONS' "$OUT/session.err" | tail -n 3)"
    log "$what: recovery actions taken by the SCM, which keeps none to query back under this Wine"
  else
    [ "$got" = "$(printf 'reset 86400\naction 1 60000\naction 1 60000\naction 0 0')" ] ||
      fail "$what: recovery actions: $got"
    log "$what: recovery actions $(echo "$got" | tr '\n' ';')"
  fi
}
# After the removal nothing is left to query: the service is gone (1060).
expect_no_failure_actions() {
  local got
  got=$(query_failure_actions)
  [ "$got" = "query failed: 1060" ] || fail "$1: recovery actions after the removal: $got"
}

# Waits up to $3 s for the line $2 (without its CR) in file $1.
file_has_line() { tr -d '\r' <"$1" 2>/dev/null | grep -xF -- "$2" >/dev/null; }
wait_file_line() { poll_for "$3" file_has_line "$1" "$2"; }

# msiexec with the given arguments, each try bounded to 180 s; its exit
# code is the function's. The process the command started can end while
# another msiexec of the prefix (the custom actions' server) still hands
# lines to the log: it returns once no msiexec of this prefix runs.
no_msiexec_runs() { [ -z "$(prefix_pids 'msiexec')" ]; }
run_msiexec() {
  local rc=0
  WINE_TIMEOUT=180 wine msiexec "$@" || rc=$?
  if ! no_msiexec_runs; then
    log "another msiexec of the prefix runs on after the command: waiting for it"
    poll_for 30 no_msiexec_runs || log "it still runs after 30 s"
  fi
  return "$rc"
}

# The installer's product list, and msiexec /i of package $1 with its log in
# $OUT/$2.log (prints its exit code).
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
msi_install() {
  local rc=0
  run_msiexec /i "$(winepath -w "$1" 2>/dev/null)" /qn /l*v "$(winepath -w "$OUT/$2.log" 2>/dev/null)" \
    >"$OUT/$2.out" 2>&1 || rc=$?
  echo "$rc"
}
# DisplayVersion of every installed product of this package.
products() {
  wine reg query "$UNINSTALL_KEY" /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {key = $0} / DisplayName / && /QOV Lumo Service/ {mark[key] = 1} / DisplayVersion / {v[key] = $3}
         END {for (k in mark) print v[k]}' | sort | tr '\n' ' '
}

# The configuration key as `reg query /s` lists it, without the State
# subkey: the running service's own record (the status, the reset history)
# is no configuration.
CONFIG_KEY='HKLM\Software\Vopa\QOV Lumo'
config_dump() {
  wine reg query "$CONFIG_KEY" /s 2>/dev/null | tr -d '\r' | sed '/^$/d' | awk '/^HKEY/ { skip = ($0 ~ /\\State$/) } !skip'
}
