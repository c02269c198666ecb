#!/bin/sh
# Every subcommand the command lists in its help must have a section
# "OPTIONS OF ..." naming it in the manual page, and that section must
# describe exactly the options the subcommand's own help lists.
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
    upper=$(printf '%s' "$command" | tr '[:lower:]' '[:upper:]')
    # The section's text: from its heading to the next heading.
    section=$(printf '%s\n' "$text" | awk -v name="$upper" '
        /^[A-Z]/ { on = ($0 ~ /^OPTIONS OF / && index($0, name) > 0) ; next }
        on { print }')
    if [ -z "$section" ]; then
        echo "the page has no section OPTIONS OF ... $upper"
        status=1
        continue
    fi
    accepted=$("$cli" "$command" --help | grep -oE '^  --[a-z-]+' | tr -d ' ' | grep -vx -- '--help' | sort -u)
    described=$(printf '%s\n' "$section" | grep -oE '^ {7}--[a-z-]+' | tr -d ' ' | sort -u)
    for option in $accepted; do
        printf '%s\n' "$described" | grep -qx -- "$option" ||
            { echo "the page does not describe '$command $option'"; status=1; }
    done
    # A section shared by several commands (QUERY AND ADD) may describe an
    # option that only one of them takes.
    title=$(printf '%s\n' "$text" | grep -E "^OPTIONS OF .*$upper")
    sharers=$(printf '%s\n' "$title" | sed 's/^OPTIONS OF //; s/ AND / /g' | tr '[:upper:]' '[:lower:]')
    for option in $described; do
        taken=no
        for sharer in $sharers; do
            "$cli" "$sharer" --help | grep -qE "^  $option( |\$)" && taken=yes
        done
        [ $taken = yes ] ||
            { echo "the page describes '$command $option', which no command of its section takes"; status=1; }
    done
done
exit $status
