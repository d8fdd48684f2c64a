#!/usr/bin/env bash
# Builds the Debian package qov-lumo-service_<version>-1_<arch>.deb of the
# Linux daemon with dpkg-deb from a staged tree (run by `scripts/package --deb`).
#
#   build_deb.sh                   builds the release preset (build/release) and
#                                  writes build/package/qov-lumo-service_<version>-1_<arch>.deb
#   build_deb.sh --bin-dir DIR     packages DIR/qov_lumo_service as it is (no build)
#   build_deb.sh --out-dir DIR     writes the package into DIR instead
#
# The version is the daemon's own, QOV_VERSION_TEXT of
# src/service/resources/version.rc, with Debian revision 1; the architecture
# is dpkg's. The unit file is the one the daemon's -INSTALL writes. Prints the
# path of the package on its last line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin_dir=
out_dir=$root/build/package

usage() { sed -n '2,13s/^# \{0,1\}//p' "$0"; }
while [ $# -gt 0 ]; do
  case $1 in
    --bin-dir) bin_dir=${2:?--bin-dir needs a folder}; shift 2 ;;
    --out-dir) out_dir=${2:?--out-dir needs a folder}; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "package: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
  esac
done

# What is missing of the tools this run needs (as root, like scripts/install-deps).
packages=(dpkg-dev binutils)
[ -n "$bin_dir" ] || packages+=(cmake ninja-build g++ libcurl4-openssl-dev libsystemd-dev pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

version=$(sed -n 's/^#define QOV_VERSION_TEXT "\([0-9][0-9.]*\)".*/\1/p' "$root/src/service/resources/version.rc")
[ -n "$version" ] || { echo "package: no QOV_VERSION_TEXT in src/service/resources/version.rc" >&2; exit 1; }
deb_version=$version-1
arch=$(dpkg --print-architecture)

if [ -z "$bin_dir" ]; then
  (cd "$root" && cmake --preset release >&2 && cmake --build --preset release -j2 --target qov_lumo_service >&2)
  bin_dir=$root/build/release
fi
daemon=$(realpath "$bin_dir")/qov_lumo_service
[ -x "$daemon" ] || { echo "package: no qov_lumo_service in $bin_dir" >&2; exit 1; }
mkdir -p "$out_dir"
out_dir=$(realpath "$out_dir")

# Staged in a folder without blanks: the unit's ExecStart names the staged
# daemon until it is pointed at /usr/sbin below.
stage=$(mktemp -d /tmp/qov-deb.XXXXXX)
trap 'rm -rf "$stage"' EXIT
tree=$stage/tree
install -d -m 0755 "$tree/DEBIAN" "$tree/usr/sbin" "$tree/lib/systemd/system" "$tree/etc/qov_lumo" \
  "$tree/usr/share/man/man5" "$tree/usr/share/man/man8" "$tree/usr/share/doc/qov-lumo-service" \
  "$tree/usr/share/lintian/overrides"
install -m 0755 "$daemon" "$tree/usr/sbin/qov_lumo_service"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$tree/usr/sbin/qov_lumo_service"

# The configuration: the template of every value with its default, with the
# daemon's log path and a Linux port name, and comments for this file.
conf=$tree/etc/qov_lumo/qov_lumo.reg
awk '
  { sub(/\r$/, "") }
  /^;/ { if (!said++) {
           print "; Every configuration value of the QOV Lumo daemon with its default; the"
           print "; daemon reads this file at each start: after a change, check it with"
           print "; \"qov_lumo_service -CHECK\" and restart it (systemctl restart qov_lumo_service)."
           print "; It must stay owned by root and writable by no one else. See qov_lumo.reg(5)."
         }
         next }
  /^"log_file_path"=/ { print "\"log_file_path\"=\"/var/log/qov_lumo.log\""; changed++; next }
  /^"qov_com_port"=/ { print "\"qov_com_port\"=\"ttyUSB0\""; changed++; next }
  { print }
  END { if (changed != 2 || !said) exit 1 }
' "$root/config/qov_lumo_defaults.reg" >"$conf" ||
  { echo "package: config/qov_lumo_defaults.reg lacks log_file_path, qov_com_port or its comments" >&2; exit 1; }
chmod 0600 "$conf"

# The unit: what the daemon's own -INSTALL writes, for the daemon in /usr/sbin.
unit_dir=$stage/unit
mkdir "$unit_dir"
QOV_SYSTEMD_UNIT_DIR=$unit_dir "$tree/usr/sbin/qov_lumo_service" --config "$conf" -INSTALL -SILENT >&2
unit=$unit_dir/qov_lumo_service.service
grep -qx "ExecStart=$tree/usr/sbin/qov_lumo_service" "$unit" ||
  { echo "package: unexpected unit from -INSTALL:" >&2; cat "$unit" >&2; exit 1; }
sed "s|^ExecStart=.*|ExecStart=/usr/sbin/qov_lumo_service|" "$unit" >"$tree/lib/systemd/system/qov_lumo_service.service"
chmod 0644 "$tree/lib/systemd/system/qov_lumo_service.service"

gzip -9n <"$here/qov_lumo_service.8" >"$tree/usr/share/man/man8/qov_lumo_service.8.gz"
gzip -9n <"$here/qov_lumo.reg.5" >"$tree/usr/share/man/man5/qov_lumo.reg.5.gz"
install -m 0644 "$here/copyright" "$tree/usr/share/doc/qov-lumo-service/copyright"
install -m 0644 "$here/lintian-overrides" "$tree/usr/share/lintian/overrides/qov-lumo-service"
# The changelog's date: the build's source date, so a rebuild gives the same text.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
sed -e "s/@VERSION@/$deb_version/" -e "s/@DATE@/$(LC_ALL=C date -u -R -d "@$epoch")/" "$here/changelog.in" |
  gzip -9n >"$tree/usr/share/doc/qov-lumo-service/changelog.Debian.gz"
find "$tree" -type d -exec chmod 0755 {} +
find "$tree/usr/share" -type f -exec chmod 0644 {} +

# Depends: the libraries the daemon links, as dpkg-shlibdeps finds them, and
# the two it loads when it first needs them (HTTP checks, systemd).
mkdir -p "$stage/src/debian"
printf 'Source: qov-lumo-service\n\nPackage: qov-lumo-service\nArchitecture: any\n' >"$stage/src/debian/control"
shlibs=$(cd "$stage/src" && dpkg-shlibdeps -O "$tree/usr/sbin/qov_lumo_service" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package: dpkg-shlibdeps found no libraries" >&2; exit 1; }
size=$(du -sk --exclude=DEBIAN "$tree" | cut -f1)
sed -e "s/@VERSION@/$deb_version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" \
  -e "s/@DEPENDS@/$shlibs, libcurl4, libsystemd0/" "$here/control.in" >"$tree/DEBIAN/control"
echo /etc/qov_lumo/qov_lumo.reg >"$tree/DEBIAN/conffiles"
install -m 0755 "$here/postinst" "$here/prerm" "$here/postrm" "$tree/DEBIAN/"
(cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 md5sum) \
  >"$tree/DEBIAN/md5sums"
chmod 0644 "$tree/DEBIAN/control" "$tree/DEBIAN/conffiles" "$tree/DEBIAN/md5sums"

deb=$out_dir/qov-lumo-service_${deb_version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$tree" "$deb.tmp" >&2
mv -f "$deb.tmp" "$deb"
echo "$deb"
