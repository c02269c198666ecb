#!/bin/sh
# Builds the Debian package and looks inside: the unit as written, naming
# executables the package carries, the environment file as a conffile, both
# manual pages, and maintainer scripts that make the state directory.
#   $1 the build directory   $2 the unit as written in the sources
set -u
build=$1
source_unit=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
command -v dpkg-deb >/dev/null 2>&1 || { echo "dpkg-deb not installed"; exit 77; }

(cd "$build" && cpack -G DEB -B "$work" >/dev/null) || fail "cpack -G DEB failed"
deb=$(ls "$work"/*.deb)
dpkg-deb -x "$deb" "$work/root" && dpkg-deb -e "$deb" "$work/control" || fail "unreadable: $deb"

unit="$work/root/usr/lib/systemd/system/voklogoffcookie.service"
cmp -s "$unit" "$source_unit" || fail "the packaged unit differs from $source_unit"
for file in usr/sbin/VOKLogoffCookieService usr/bin/logoffcookie etc/default/voklogoffcookie \
    usr/share/man/man8/VOKLogoffCookieService.8 usr/share/man/man1/logoffcookie.1; do
    [ -f "$work/root/$file" ] || fail "not in the package: /$file"
done
for command in $(grep -E '^Exec[A-Za-z]*=/' "$unit" | sed 's/^[^=]*=//; s/ .*//'); do
    case "$command" in
    /usr/*) [ -x "$work/root$command" ] || fail "the unit runs $command, which the package lacks" ;;
    esac
done
grep -qx /etc/default/voklogoffcookie "$work/control/conffiles" || fail "no conffile"
# It may hold the Redis password.
dpkg-deb -c "$deb" | grep -qE '^-rw------- root/root .* \./etc/default/voklogoffcookie$' ||
    fail "/etc/default/voklogoffcookie is not installed 0600"
grep -q "install -d -m 0755 /var/lib/voklogoffcookie" "$work/control/postinst" || fail "postinst makes no state directory"
dpkg-deb -f "$deb" Depends | grep -q procps || fail "no dependency on procps (pkill)"
