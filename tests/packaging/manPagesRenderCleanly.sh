#!/bin/sh
# Renders each manual page given with every groff warning switched on and
# through man's own checks; any warning or error fails.
set -u
status=0
for page in "$@"; do
    warnings=$(groff -ww -man -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "groff warns about $page:"
        echo "$warnings"
        status=1
    fi
    if command -v man >/dev/null 2>&1; then
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        if [ -n "$warnings" ]; then
            echo "man warns about $page:"
            echo "$warnings"
            status=1
        fi
    fi
done
exit $status
