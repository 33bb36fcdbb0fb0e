#!/usr/bin/env bash
# Checks nuvz's manual page and bash completion (usage: nuvz_manual_test.sh NUVZ nuvz.1
# nuvz.bash): mandoc and groff find nothing to warn about in the page, and both files name
# every option that `nuvz --help` lists.
set -uo pipefail
nuvz=$1 manual=$2 completion=$3
failures=0 && fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for lint in "mandoc -T lint -W warning" "groff -ww -z -mandoc"; do
    messages=$($lint "$manual" 2>&1) || fail "$lint exited with $?"
    [ -z "$messages" ] || fail "$lint: $messages"
done

page=$(mandoc -T ascii "$manual" | sed 's/.\x08//g')
options=$("$nuvz" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || fail "nuvz --help lists no options"
for option in $options; do
    pattern="(^|[^a-z-])$option([^a-z-]|\$)"
    grep -qE -- "$pattern" <<<"$page" || fail "the manual lacks $option"
    grep -qE -- "$pattern" "$completion" || fail "the completion lacks $option"
done
[ "$failures" -eq 0 ] && echo "manual and completion: clean, $(wc -w <<<"$options") options"
exit $((failures != 0))
