#!/bin/sh
# Checks the unit with systemd's own verifier, with the installed paths of
# both executables pointed at the build's and the manual pages it names
# looked up among ours. Any complaint fails; without systemd-analyze the
# test is skipped (77).
#   $1 the unit   $2 the service executable   $3 logoffcookie   $4 the pages' folder
set -u
command -v systemd-analyze >/dev/null 2>&1 || { echo "systemd-analyze not installed"; exit 77; }
unit=$1
service=$2
cli=$3
pages=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/man/man1" "$work/man/man8"
cp "$pages"/*.1 "$work/man/man1/"
cp "$pages"/*.8 "$work/man/man8/"
sed -e "s|/usr/sbin/VOKLogoffCookieService|$service|" -e "s|/usr/bin/logoffcookie|$cli|" \
    "$unit" >"$work/$(basename "$unit")"
complaints=$(cd "$work" && MANPATH="$work/man" systemd-analyze verify "./$(basename "$unit")" 2>&1)
result=$?
if [ $result -ne 0 ] || [ -n "$complaints" ]; then
    echo "systemd-analyze verify (status $result):"
    echo "$complaints"
    exit 1
fi
