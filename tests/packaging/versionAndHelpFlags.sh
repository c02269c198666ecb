#!/bin/sh
# Both programs answer --version with the build's version and --help with a
# usage, exit 0 and start nothing. WA_INSTALL_PATH points at a directory the
# service could serve in: a --version that started it would leave a socket.
#   $1 the service executable   $2 logoffcookie   $3 the project's version
set -u
service=$1
cli=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

check() { # expected-first-line-pattern program args...
    pattern=$1
    shift
    out=$(WA_INSTALL_PATH=$work "$@" 2>"$work/stderr") || fail "$* exited $?"
    printf '%s\n' "$out" | head -n 1 | grep -qE "$pattern" || fail "$*: '$out'"
    [ -s "$work/stderr" ] && fail "$* wrote to stderr: $(cat "$work/stderr")"
    [ -e "$work/logoffCookieSocket" ] && fail "$* started the service"
    return 0
}

check "^VOKLogoffCookieService $version\$" "$service" --version
check "^Usage: VOKLogoffCookieService" "$service" --help
check "^logoffcookie $version\$" "$cli" --version
check "^Usage: logoffcookie" "$cli" --help
[ "$("$service" --version | wc -l)" -eq 1 ] || fail "the service's --version is not one line"
[ "$("$cli" --version | wc -l)" -eq 1 ] || fail "logoffcookie --version is not one line"
"$service" --help | grep -q -- --version || fail "the service's --help does not name --version"
"$cli" --help | grep -q -- --version || fail "logoffcookie --help does not name --version"
echo "version and help flags ok"
