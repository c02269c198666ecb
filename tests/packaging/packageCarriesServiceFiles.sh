#!/bin/sh
# Looks inside the Debian package: the unit as written, naming executables the
# package carries, the environment and logrotate files as conffiles, both
# manual pages, every document, the library in the multiarch directory,
# stripped binaries, and maintainer scripts that make the state directory.
#   $1 the directory scripts/package.sh built the package in
#   $2 the unit as written in the sources
set -u
package_dir=$1
source_unit=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

deb=$(ls "$package_dir"/*.deb) || fail "no package in $package_dir"
dpkg-deb -x "$deb" "$work/root" && dpkg-deb -e "$deb" "$work/control" || fail "unreadable: $deb"

unit="$work/root/usr/lib/systemd/system/voklogoffcookie.service"
cmp -s "$unit" "$source_unit" || fail "the packaged unit differs from $source_unit"
docs=usr/share/doc/voklogoffcookieservice
for file in usr/sbin/VOKLogoffCookieService usr/bin/logoffcookie etc/default/voklogoffcookie \
    etc/logrotate.d/voklogoffcookie usr/share/man/man8/VOKLogoffCookieService.8.gz \
    usr/share/man/man1/logoffcookie.1.gz "$docs/copyright" "$docs/changelog.gz" \
    "$docs/README.md" "$docs/client.md" "$docs/protocol.md" "$docs/sharing.md" \
    "$docs/performance.md" "$docs/reliability.md" "$docs/operations.md" \
    usr/share/voklogoffcookie/voklogoffcookie-alerts.yml; do
    [ -f "$work/root/$file" ] || fail "not in the package: /$file"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
[ -f "$work/root/usr/lib/$multiarch/liblogoffcookie.so.1" ] ||
    fail "the library is not in /usr/lib/$multiarch: $(cd "$work/root" && find . -name 'liblogoffcookie*')"
for binary in usr/sbin/VOKLogoffCookieService usr/bin/logoffcookie "usr/lib/$multiarch/liblogoffcookie.so.1"; do
    file -L "$work/root/$binary" | grep -q ', stripped' || fail "not stripped: /$binary"
done
grep -qx /etc/logrotate.d/voklogoffcookie "$work/control/conffiles" || fail "logrotate file is no conffile"
version=$(dpkg-deb -f "$deb" Version)
zcat "$work/root/$docs/changelog.gz" | head -n 1 | grep -qF "voklogoffcookieservice ($version)" ||
    fail "the changelog's latest entry is not $version: packaging/debian/changelog needs one"
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
