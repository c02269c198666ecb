#!/bin/sh
# Runs lintian on the Debian package: any error or warning fails. A warning
# that stays has an override in the package, with its reason.
#   $1 the directory scripts/package.sh built the package in
set -u
deb=$(ls "$1"/*.deb) || { echo "no package in $1"; exit 1; }
command -v lintian >/dev/null 2>&1 || { echo "lintian is not installed (scripts/setup.sh installs it)"; exit 1; }
# Root is what CI runs as; lintian only frowns on it.
report=$(lintian --fail-on error,warning --no-tag-display-limit "$deb" 2>&1)
status=$?
printf '%s\n' "$report" | grep -v 'running with root privileges'
exit $status
