#!/bin/sh
# Installs the build into a fresh prefix: the unit there must name the
# executables installed beside it and pass systemd's verifier with the
# installed manual pages; an environment file the operator edited must
# survive a second installation. Without systemd-analyze the verifier step
# is left out.
#   $1 the build directory
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "$*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
unit="$prefix/lib/systemd/system/voklogoffcookie.service"
environment="$prefix/etc/default/voklogoffcookie"
[ -f "$unit" ] || fail "not installed: $unit"
[ -f "$environment" ] || fail "not installed: $environment"
for page in man8/VOKLogoffCookieService.8.gz man1/logoffcookie.1.gz; do
    [ -f "$prefix/share/man/$page" ] || fail "not installed: $page"
done
grep -qx "ExecStart=$prefix/sbin/VOKLogoffCookieService" "$unit" || fail "ExecStart: $(grep ExecStart= "$unit")"
grep -q "^ExecStartPost=$prefix/bin/logoffcookie health" "$unit" || fail "ExecStartPost: $(grep ExecStartPost= "$unit")"
grep -qx "EnvironmentFile=-$environment" "$unit" || fail "EnvironmentFile: $(grep EnvironmentFile= "$unit")"

if command -v systemd-analyze >/dev/null 2>&1; then
    complaints=$(cd "$(dirname "$unit")" && MANPATH="$prefix/share/man" systemd-analyze verify ./voklogoffcookie.service 2>&1)
    [ $? -eq 0 ] && [ -z "$complaints" ] || fail "systemd-analyze verify: $complaints"
fi

echo "VOKLOGOFFMETRICS=/srv/metrics.prom" >>"$environment"
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "second cmake --install failed"
grep -qx "VOKLOGOFFMETRICS=/srv/metrics.prom" "$environment" || fail "the edited environment file was replaced"
