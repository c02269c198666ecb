#!/bin/sh
# Every environment variable the service's sources name must be described in
# its manual page.
#   $1 the source root   $2 the service's manual page   $3... the units read
set -u
root=$1
page=$2
shift 2
text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
status=0
variables=$(cd "$root" && grep -rhoE '"(VOK|WA_)[A-Z_]+"' "$@" 2>/dev/null | tr -d '"' | sort -u)
if [ -z "$variables" ]; then
    echo "no environment variables found under $*"
    exit 1
fi
for variable in $variables; do
    if ! printf '%s\n' "$text" | grep -qw "$variable"; then
        echo "the page does not describe $variable"
        status=1
    fi
done
exit $status
