# Helpers for the native daemon scripts. Source it after setting:
#   TAG       the name in front of each line the script prints
#   WORK      the script's work folder
#   LOG_FILE  the daemon's log (default $WORK/qov.log), shown when a step fails
# Processes started in the background go into PIDS and are ended on exit;
# on_cleanup adds a command run after them.

say() { printf '[%s %s] %s\n' "$(date +%T)" "$TAG" "$*" >&2; }

PIDS=()
CLEANUP_HOOKS=()
on_cleanup() { CLEANUP_HOOKS+=("$1"); }
native_cleanup() {
  local rc=$?
  set +e
  for p in "${PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  for hook in "${CLEANUP_HOOKS[@]:-}"; do [ -n "$hook" ] && eval "$hook"; done
  exit "$rc"
}
trap native_cleanup EXIT

fail() {
  say "FAIL: $*"
  [ -f "${LOG_FILE:-$WORK/qov.log}" ] && tail -n 20 "${LOG_FILE:-$WORK/qov.log}" >&2
  [ -f "$WORK/daemon.err" ] && tail -n 20 "$WORK/daemon.err" >&2
  exit 1
}

# Log messages without their timestamps, of the file $1 (default: the log).
messages() {
  local f=${1:-${LOG_FILE:-$WORK/qov.log}}
  [ -f "$f" ] && tr -d '\r' <"$f" | awk '{ i = index($0, " - "); print (i ? substr($0, i + 3) : $0) }' || true
}

# Waits until the log holds the message $1 at least $3 times (default 1), up to $2 seconds.
wait_log() {
  local msg=$1 limit=${2:-20} count=${3:-1} i
  for ((i = 0; i < limit * 10; i++)); do
    [ "$(messages | grep -cxF -- "$msg")" -ge "$count" ] && return 0
    sleep 0.1
  done
  fail "log never showed '$msg' (x$count) within ${limit}s"
}

# Frame codes the simulated board received, in order.
frames() { awk '$2 == "frame" {print $3}' "$WORK/frames" 2>/dev/null | tr '\n' ' '; }

# Starts the simulated board (extra simulator arguments in "$@") and sets PTY.
start_board() {
  "$SIM" --path-file "$WORK/pty" --record "$WORK/frames" --control "$WORK/sim.ctl" "$@" >"$WORK/sim.out" 2>&1 &
  PIDS+=($!)
  local i
  for ((i = 0; i < 100; i++)); do [ -s "$WORK/pty" ] && break; sleep 0.05; done
  PTY=$(cat "$WORK/pty") || fail "the simulated board did not start"
}

# Starts the HTTP check target answering $1 (default 200) and sets PORT;
# its answer follows $WORK/http.mode, its requests go to $WORK/http.requests.
start_check_target() {
  echo "${1:-200}" >"$WORK/http.mode"
  python3 "$(dirname "${BASH_SOURCE[0]}")/../wine/check_target.py" --port-file "$WORK/http.port" \
    --control-file "$WORK/http.mode" --request-log "$WORK/http.requests" >/dev/null 2>&1 &
  PIDS+=($!)
  local i
  for ((i = 0; i < 100; i++)); do [ -s "$WORK/http.port" ] && break; sleep 0.05; done
  PORT=$(cat "$WORK/http.port") || fail "the check target did not start"
}

# Writes the configuration file $1 from "name"=value lines (REGEDIT4 syntax).
write_config() {
  local file=$1 line
  shift
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]\r\n'
    for line in "$@"; do printf '%s\r\n' "$line"; done
  } >"$file"
  chmod 0644 "$file"  # the daemon refuses a configuration others could change
}
reg_sz() { local v=${2//\\/\\\\}; printf '"%s"="%s"' "$1" "${v//\"/\\\"}"; }
reg_dword() { printf '"%s"=dword:%08x' "$1" "$2"; }
