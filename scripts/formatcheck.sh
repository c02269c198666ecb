#!/usr/bin/env bash
# Checks that every C and C++ source of ours is formatted as the root
# .clang-format says; changes nothing. Fails listing the files that differ.
#   scripts/formatcheck.sh           # every tracked source
#   scripts/formatcheck.sh FILE...   # those files only
# To mend a file: clang-format -i FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
command -v clang-format >/dev/null 2>&1 || lc_install_missing

if [ "$#" -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
fi

# One clang-format for all of them: it names each file that differs in its
# warnings ("FILE:LINE:COLUMN: error: code should be clang-formatted").
status=0
report=$(printf '%s\0' "${files[@]}" |
    xargs -0 clang-format --style=file --dry-run -Werror 2>&1) || status=$?
mapfile -t differing < <(printf '%s\n' "$report" |
    sed -n 's/^\(.*\):[0-9][0-9]*:[0-9][0-9]*: error: .*clang-format.*/\1/p' | sort -u)
# A failure that names no file (no such file, a broken .clang-format) is
# not a pass.
if [ "$status" -ne 0 ] && [ "${#differing[@]}" -eq 0 ]; then
    printf '%s\n' "$report" | tail -n 20
    echo "clang-format failed"
    exit 1
fi

if [ "${#differing[@]}" -gt 0 ]; then
    printf '%s\n' "${differing[@]}"
    echo "${#differing[@]} of ${#files[@]} files differ from .clang-format (see clang-format --dry-run FILE)"
    exit 1
fi
echo "${#files[@]} files match .clang-format"
