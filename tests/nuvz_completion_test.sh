#!/usr/bin/env bash
# Test of nuvz's bash completion (usage: nuvz_completion_test.sh PATH_TO_nuvz.bash): completes
# a table of command lines, with bash-completion loaded, in a directory of sample files, and
# compares the sorted candidates.
set -uo pipefail
script=$(realpath "$1") || exit 1
source /usr/share/bash-completion/bash_completion || exit 1
source "$script" || exit 1
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work" || exit 1
touch a.nuv b.GZ c.txt pw.txt -- -dash.txt && mkdir sub

# candidates LINE: the sorted completions at the end of LINE, split as bash splits it (at
# blanks, and around '=').
candidates() {
    local line=$1 word
    COMP_LINE=$line COMP_POINT=${#line} COMP_WORDS=() COMPREPLY=()
    for word in $line; do
        if [[ $word == *=* ]]; then
            COMP_WORDS+=("${word%%=*}" "=")
            [ -z "${word#*=}" ] || COMP_WORDS+=("${word#*=}")
        else
            COMP_WORDS+=("$word")
        fi
    done
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _nuvz nuvz "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

files='-dash.txt a.nuv b.GZ c.txt pw.txt sub'
failures=0
while IFS='|' read -r line expected; do
    expected=${expected//FILES/$files}
    got=$(candidates "$line")
    [ "$got" = "$expected" ] || {
        echo "FAIL: '$line': got '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    }
done <<'EOF'
nuvz |--help -h help info md5 pack unpack
nuvz un|unpack
nuvz pack --|-- --argon2 --encrypt-only --force --gzip --key-hex --level --password --password-file --prompt --sealed --store --threads
nuvz pack --password-file pw.txt -f -|-- --argon2 --encrypt-only --gzip --level --sealed --store --threads
nuvz pack --force --key-hex=00 -|-- --argon2 --encrypt-only --gzip --level --sealed --store --threads
nuvz pack --sealed --argon2 1,8,1 -|-- --encrypt-only --force --gzip --key-hex --level --password --password-file --prompt --store --threads -f
nuvz unpack -|-- --force --key-hex --password --password-file -f
nuvz info -|--
nuvz md5 --|-- --legacy
nuvz help |
nuvz pack --level |0 1 2 3 4 5 6 7 8 9
nuvz pack --level=|0 1 2 3 4 5 6 7 8 9
nuvz pack --level=7|7
nuvz pack --password |
nuvz pack --key-hex 0|
nuvz pack --threads |
nuvz pack --argon2 |
nuvz pack --argon2 1,8,1 |FILES
nuvz pack --password-file |FILES
nuvz pack --password-file=p|pw.txt
nuvz pack |FILES
nuvz pack --level 3 c.txt |FILES
nuvz pack - |FILES
nuvz pack c.txt out |
nuvz pack -- -|-dash.txt
nuvz unpack |a.nuv b.GZ sub
nuvz unpack c|c.txt
nuvz unpack --password secret a.nuv |FILES
nuvz unpack a.nuv out |
nuvz info a.nuv |a.nuv b.GZ sub
nuvz md5 a.nuv c.txt |FILES
EOF
[ "$failures" -eq 0 ] && echo "completion: all cases pass"
exit $((failures != 0))
