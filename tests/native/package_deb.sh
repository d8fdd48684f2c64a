# The Debian package of the daemon under test, through its whole life with
# dpkg: built by scripts/package --deb, free of lintian errors, installed
# (the unit enabled, not started: no systemd runs here), its unit the text
# -INSTALL writes, its configuration the one the daemon reads and runs with
# against the simulated board, kept through an upgrade and a removal, and
# gone with everything the daemon wrote at the purge.
# As root (exits 77, skipped, without), on a machine where the package is not
# installed; the package is purged on every exit.
# Args: <daemon> <device simulator> <work dir>
set -euo pipefail
DAEMON=$(realpath "$1")
SIM=$(realpath "$2")
WORK=$(realpath -m "$3")/native_package_deb
HERE=$(cd "$(dirname "$0")" && pwd)
TAG=deb
LOG_FILE=/var/log/qov_lumo.log
source "$HERE/lib.sh"

skip() { say "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to install the package"
for tool in dpkg-deb dpkg-shlibdeps lintian deb-systemd-helper flock; do
  command -v "$tool" >/dev/null || skip "no $tool (scripts/install-deps installs it)"
done
# One run at a time on the machine (the tsan and native builds both have this test).
lock_dir=/run/lock
[ -d "$lock_dir" ] || lock_dir=/tmp
exec 9>"$lock_dir/qov-package-deb.lock"
flock 9
# Never touches a real installation. dpkg's status of the package: "" or "un" when it is not there at all.
status() { dpkg-query -W -f='${db:Status-Abbrev}' qov-lumo-service 2>/dev/null | tr -d ' '; }
[[ $(status) =~ ^(un)?$ ]] ||
  skip "the package is known to dpkg on this machine: $(dpkg-query -W -f='${db:Status-Abbrev}' qov-lumo-service)"
for path in /etc/qov_lumo /etc/systemd/system/qov_lumo_service.service; do
  [ ! -e "$path" ] || skip "$path exists on this machine"
done
rm -rf "$WORK"
mkdir -p "$WORK/saved"
# A log or state of a daemon run by hand is set aside for the purge, and put
# back at the end, after the package is purged whatever the outcome.
daemon_files=(/var/log/qov_lumo.log /var/log/qov_lumo.log.1 /var/lib/qov_lumo)
put_back() {
  local path saved
  for path in "${daemon_files[@]}"; do
    saved=$WORK/saved/$(echo "$path" | tr / _)
    [ -e "$saved" ] || continue
    rm -rf "$path"
    mv "$saved" "$path"
  done
}
on_cleanup '[[ $(status) =~ ^(un)?$ ]] || dpkg -P qov-lumo-service >/dev/null 2>&1; rm -rf "${daemon_files[@]}"; put_back'
for path in "${daemon_files[@]}"; do
  [ ! -e "$path" ] || mv "$path" "$WORK/saved/$(echo "$path" | tr / _)"
done

# What the package and the daemon may leave where they write, and the enable links.
snapshot() {
  {
    find /etc/qov_lumo /etc/systemd/system /usr/sbin /lib/systemd/system /usr/lib/systemd/system \
      /usr/share/man/man5 /usr/share/man/man8 /usr/share/doc/qov-lumo-service /usr/share/lintian/overrides \
      /var/lib/qov_lumo /var/lib/systemd/deb-systemd-helper-enabled 2>/dev/null || true
    find /var/log -maxdepth 1 -name 'qov_lumo*'
  } | sort
}
snapshot >"$WORK/before"

# 1. Built from the daemon under test, and no lintian error.
deb=$(bash "$HERE/../../scripts/package" --deb --bin-dir "$(dirname "$DAEMON")" --out-dir "$WORK" 2>"$WORK/build.err" | tail -n 1) ||
  fail "package build: $(tail -n 20 "$WORK/build.err")"
[[ $(basename "$deb") == qov-lumo-service_*-1_$(dpkg --print-architecture).deb ]] || fail "package name: $deb"
version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "$("$DAEMON" -VERSION | awk '{print $NF}')-1" ] || fail "package version $version"
lintian --fail-on error "$deb" >"$WORK/lintian.out" 2>&1 || fail "lintian: $(cat "$WORK/lintian.out")"
say "built $(basename "$deb"), lintian: $(grep -c '^[EW]:' "$WORK/lintian.out" || true) errors and warnings"

# 2. Installed without systemd running: enabled for the next boot, the unit
# the daemon's -INSTALL writes, the configuration root's alone.
dpkg -i "$deb" >"$WORK/install.out" 2>&1 || fail "dpkg -i: $(cat "$WORK/install.out")"
[ -x /usr/sbin/qov_lumo_service ] || fail "no /usr/sbin/qov_lumo_service"
[ -L /etc/systemd/system/multi-user.target.wants/qov_lumo_service.service ] || fail "the unit is not enabled"
mkdir "$WORK/unit"
QOV_SYSTEMD_UNIT_DIR=$WORK/unit /usr/sbin/qov_lumo_service -INSTALL -SILENT || fail "-INSTALL into $WORK/unit"
diff -u "$WORK/unit/qov_lumo_service.service" /lib/systemd/system/qov_lumo_service.service >&2 ||
  fail "the packaged unit is not the one -INSTALL writes"
if command -v systemd-analyze >/dev/null; then
  man_check=no
  [ -e /usr/share/man/man8/qov_lumo_service.8.gz ] && command -v man >/dev/null && man_check=yes
  systemd-analyze verify --man=$man_check /lib/systemd/system/qov_lumo_service.service 2>"$WORK/verify.err" ||
    fail "systemd-analyze verify: $(cat "$WORK/verify.err")"
fi
conf=/etc/qov_lumo/qov_lumo.reg
[ "$(stat -c '%U %a' "$conf")" = "root 600" ] || fail "configuration $(stat -c '%U %a' "$conf")"
grep -qx /etc/qov_lumo/qov_lumo.reg /var/lib/dpkg/info/qov-lumo-service.conffiles || fail "no conffile"

# 3. -CHECK reads the packaged configuration at the daemon's default path;
# on the simulated board's port it finds nothing wrong.
rc=0; /usr/sbin/qov_lumo_service -CHECK >"$WORK/check.out" 2>&1 || rc=$?
grep -qF 'log_file_path = "/var/log/qov_lumo.log" (set)' "$WORK/check.out" && [ "$rc" -le 2 ] ||
  fail "-CHECK of the packaged configuration (exit $rc): $(cat "$WORK/check.out")"
start_board
sed -i "s|^\"qov_com_port\"=.*|\"qov_com_port\"=\"$PTY\"|" "$conf"
rc=0; /usr/sbin/qov_lumo_service -CHECK >"$WORK/check.out" 2>&1 || rc=$?
[ "$rc" = 0 ] || fail "-CHECK on the board's port (exit $rc): $(cat "$WORK/check.out")"

# 4. The installed daemon runs with it: its log where the package's purge looks.
env -u NOTIFY_SOCKET LC_ALL=C /usr/sbin/qov_lumo_service 2>"$WORK/daemon.err" &
daemon_pid=$!
PIDS+=("$daemon_pid")
wait_log "Service started" 60
kill -TERM "$daemon_pid"
for ((i = 0; i < 300; i++)); do kill -0 "$daemon_pid" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$daemon_pid" 2>/dev/null || fail "the daemon did not stop on SIGTERM"
# What it writes elsewhere in a longer life: a rotated log and its state.
echo old >/var/log/qov_lumo.log.1
install -d -m 0700 /var/lib/qov_lumo
echo "reset_comp_times=1" >/var/lib/qov_lumo/state
say "installed, checked and run"

# 5. An upgrade keeps the edited configuration, without asking.
dpkg-deb -R "$deb" "$WORK/next"
sed -i "s/^Version: .*/Version: ${version%-1}-2/" "$WORK/next/DEBIAN/control"
dpkg-deb --root-owner-group -b "$WORK/next" "$WORK/next.deb" >/dev/null
dpkg -i "$WORK/next.deb" </dev/null >"$WORK/upgrade.out" 2>&1 || fail "upgrade: $(cat "$WORK/upgrade.out")"
[ "$(dpkg-query -W -f='${Version}' qov-lumo-service)" = "${version%-1}-2" ] || fail "not upgraded"
grep -qx "\"qov_com_port\"=\"$PTY\"" "$conf" || fail "the upgrade changed the configuration: $(grep com_port "$conf")"
[ -z "$(find /etc/qov_lumo -name '*.dpkg-*')" ] || fail "upgrade left $(find /etc/qov_lumo -name '*.dpkg-*')"

# 6. Removal: the program and unit go, the configuration and the log stay.
dpkg -r qov-lumo-service >"$WORK/remove.out" 2>&1 || fail "dpkg -r: $(cat "$WORK/remove.out")"
[ "$(status)" = rc ] || fail "status after removal"
[ ! -e /usr/sbin/qov_lumo_service ] && [ ! -e /lib/systemd/system/qov_lumo_service.service ] ||
  fail "removal left the program or the unit"
grep -qx "\"qov_com_port\"=\"$PTY\"" "$conf" || fail "removal did not keep the configuration"
[ -s /var/log/qov_lumo.log ] || fail "removal took the log"

# 7. Purge: nothing is left of the package or of what the daemon wrote.
dpkg -P qov-lumo-service >"$WORK/purge.out" 2>&1 || fail "dpkg -P: $(cat "$WORK/purge.out")"
[[ $(status) =~ ^(un)?$ ]] || fail "dpkg still has the package: $(status)"
snapshot >"$WORK/after"
diff -u "$WORK/before" "$WORK/after" >&2 || fail "the purge left files behind (above)"
say "upgraded, removed and purged"
say "PASS"
