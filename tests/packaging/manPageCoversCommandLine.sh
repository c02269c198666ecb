#!/bin/sh
# Every subcommand the command lists in its help, and every option each
# subcommand lists in its own, must be described in the manual page.
#   $1 the logoffcookie executable   $2 its manual page
set -u
cli=$1
page=$2
text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
status=0
commands=$("$cli" --help | awk '/^Commands:/ { on = 1; next } on && NF == 0 { on = 0 } on { print $1 }')
if [ -z "$commands" ]; then
    echo "no commands found in '$cli --help'"
    exit 1
fi
for command in $commands; do
    if ! printf '%s\n' "$text" | grep -q "logoffcookie $command"; then
        echo "the page has no 'logoffcookie $command'"
        status=1
    fi
    options=$("$cli" "$command" --help | grep -oE '^  --[a-z-]+' | tr -d ' ')
    for option in $options; do
        if ! printf '%s\n' "$text" | grep -qe "$option"; then
            echo "the page does not describe '$command $option'"
            status=1
        fi
    done
done
exit $status
