#!/usr/bin/env bash
# End-to-end test of the nuvz tool: pack/unpack round trips in every mode, info, md5
# against the system's md5sum, gzip interchange, and exit codes and messages on bad input.
# Usage: nuvz_test.sh PATH_TO_NUVZ
set -uo pipefail
nuvz=$(realpath "$1")
[ -x "$nuvz" ] || { echo "no nuvz at '$1'" >&2; exit 1; }
# Everything happens in a directory of its own: nothing outside it is written or removed.
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail()
{
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect CODE COMMAND...: runs the command, checks its exit code, keeps stderr in err.txt.
expect()
{
    local code=$1
    shift
    "$@" >out.txt 2>err.txt
    local got=$?
    [ "$got" -eq "$code" ] || fail "exit $got instead of $code: $* ($(cat err.txt))"
}

# expect_limited CODE COMMAND...: the same with files limited to 8 KiB, so that writes past
# that fail as on a full disk.
expect_limited()
{
    local code=$1
    shift
    (ulimit -f 8 && trap '' XFSZ && exec "$@") >out.txt 2>err.txt
    local got=$?
    [ "$got" -eq "$code" ] || fail "exit $got instead of $code with a size limit: $* ($(cat err.txt))"
}

expect_stderr()
{
    grep -q -- "$1" err.txt || fail "stderr lacks '$1': $(cat err.txt)"
}

python3 -c "
import random
random.seed(4)
words = [''.join(random.choice('abcdefghij') for _ in range(random.randint(1, 8))) for _ in range(300)]
open('text.txt', 'w').write('\n'.join(' '.join(random.choice(words) for _ in range(9)) for _ in range(40000)))
open('random.bin', 'wb').write(bytes(random.getrandbits(8) for _ in range(100000)))
"
: >empty.bin

# Round trips in every mode.
for input in text.txt random.bin empty.bin; do
    for options in "" "--password secret" "--key-hex 000102030405060708090a0b0c0d0e0f" \
        "--key-hex 000102030405060708090a0b0c0d0e0f1011121314151617" \
        "--key-hex 000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f" \
        "--password secret --encrypt-only" "--password secret --level 1" "--password secret --store" \
        "--level 9" "--gzip" "--gzip --level 1"; do
        key_options=$(echo "$options" | grep -o -- '--\(password\|key-hex\) [^ ]*')
        expect 0 "$nuvz" pack $options "$input" packed
        expect 0 "$nuvz" unpack $key_options packed unpacked
        cmp -s "$input" unpacked || fail "round trip of $input with '$options' differs"
        expect 0 "$nuvz" info packed
        rm -f packed unpacked
    done
done

# Kinds and headers as info reports them.
"$nuvz" pack --password secret text.txt p.nuv && "$nuvz" info p.nuv >info.txt
grep -q "compressed and encrypted" info.txt || fail "info kind: $(cat info.txt)"
grep -q "ac ef 01 00 00 00 00 00" info.txt || fail "info header: $(cat info.txt)"
"$nuvz" pack --password secret --encrypt-only empty.bin e.nuv
[ "$(stat -c %s e.nuv)" -eq 24 ] || fail "empty encrypted container is not 24 bytes"
"$nuvz" pack text.txt c.nuv && "$nuvz" info c.nuv >info.txt
grep -q "^c.nuv: compressed$" info.txt || fail "info kind: $(cat info.txt)"
grep -q "payload   $(stat -c %s text.txt) bytes" info.txt || fail "info payload: $(cat info.txt)"
# The password's key equals --key-hex with the password's MD5 digest.
key=$(printf %s secret | md5sum | cut -c1-32)
"$nuvz" pack --key-hex "$key" text.txt k.nuv
cmp -s p.nuv k.nuv || fail "--password and --key-hex of its MD5 give different files"

# gzip interchange with the system's gzip, member name and trailer in info.
"$nuvz" pack --gzip text.txt ours.gz
gzip -dc ours.gz | cmp -s - text.txt || fail "gzip -d cannot read nuvz's gzip member"
cp text.txt named.txt && gzip -9 named.txt
"$nuvz" unpack named.txt.gz from_gzip.txt && cmp -s from_gzip.txt text.txt || fail "unpack of gzip's file"
"$nuvz" info named.txt.gz >info.txt
grep -q "name      named.txt" info.txt || fail "info gzip name: $(cat info.txt)"
crc=$(python3 -c "import zlib; print('%08x' % zlib.crc32(open('text.txt','rb').read()))")
grep -q "CRC-32 $crc, size $(stat -c %s text.txt)" info.txt || fail "info gzip trailer: $(cat info.txt)"
grep -q "check     ok" info.txt || fail "info gzip check: $(cat info.txt)"

# md5 against md5sum, names with escapes and standard input.
cp random.bin 'odd\name' && cp text.txt "$(printf 'new\nline')"
"$nuvz" md5 text.txt random.bin empty.bin 'odd\name' "$(printf 'new\nline')" >ours.txt
md5sum text.txt random.bin empty.bin 'odd\name' "$(printf 'new\nline')" >theirs.txt
cmp -s ours.txt theirs.txt || fail "nuvz md5 differs from md5sum: $(diff ours.txt theirs.txt)"
[ "$("$nuvz" md5 - <text.txt)" = "$(md5sum - <text.txt)" ] || fail "md5 of standard input"
[ "$("$nuvz" md5 --legacy empty.bin)" = "d41d8cd98f0b24e980998ecf8427e  empty.bin" ] || fail "md5 --legacy"

# Bad input: exit codes and messages, no output presented as success.
expect 1 "$nuvz" pack text.txt missing-dir/out
expect 1 "$nuvz" pack missing.txt out.nuv
expect_stderr "missing.txt: No such file or directory"
[ ! -e out.nuv ] || fail "pack of a missing file created its output"
expect 1 "$nuvz" pack . out.nuv
expect_stderr "Is a directory"
expect 3 "$nuvz" unpack --password wrong p.nuv wrong.txt
expect_stderr "did not decode"
[ ! -e wrong.txt ] || fail "unpack with a wrong password left its output"
# A password given for an unencrypted file is not needed and does no harm.
expect 0 "$nuvz" unpack --password unneeded c.nuv c.txt
cmp -s c.txt text.txt || fail "unpack of an unencrypted file with a password differs"
expect 2 "$nuvz" unpack p.nuv nokey.txt
expect_stderr "encrypted"
expect 3 "$nuvz" unpack text.txt plain.txt
expect_stderr "not a packed file"
head -c 2000 c.nuv >cut.nuv
expect 3 "$nuvz" unpack cut.nuv cut.txt
[ ! -e cut.txt ] || fail "unpack of a cut file left its output"
head -c 2000 ours.gz >cut.gz
expect 3 "$nuvz" unpack cut.gz cut.txt
expect 3 "$nuvz" info cut.gz
# Only the first gzip member is decoded: a file that goes on after it is not a success.
cat ours.gz ours.gz >two.gz
expect 3 "$nuvz" unpack two.gz two.txt
expect_stderr "did not decode"
[ ! -e two.txt ] || fail "unpack of a two-member gzip file left its output"
expect 3 "$nuvz" info two.gz
mkdir out_dir
expect 1 "$nuvz" unpack c.nuv out_dir
expect_stderr "out_dir: Is a directory"
expect 1 "$nuvz" pack text.txt out_dir
[ -d out_dir ] || fail "a failed pack removed the directory named as output"
# Writes that fail part-way (a file size limit stands in for a full disk): exit 1, and an
# output this run created is removed; one the user already had is kept and named.
expect_limited 1 "$nuvz" pack random.bin limited.nuv
expect_stderr "could not write the packed file; the incomplete output was removed"
[ ! -e limited.nuv ] || fail "a failed pack left the output it created"
echo "earlier content" >kept.nuv
expect_limited 1 "$nuvz" pack random.bin kept.nuv
expect_stderr "kept.nuv now holds incomplete data"
[ -e kept.nuv ] || fail "a failed pack removed a file it did not create"
"$nuvz" pack --password secret --encrypt-only random.bin r.nuv
expect_limited 1 "$nuvz" unpack --password secret r.nuv limited.bin
expect_stderr "write error; the incomplete output was removed"
[ ! -e limited.bin ] || fail "a failed unpack left the output it created"
# An output that cannot be opened (a running program) is left alone.
cp "$(command -v sleep)" busy
./busy 30 &
busy_pid=$!
for _ in $(seq 100); do [ "$(readlink /proc/$busy_pid/exe)" = "$work/busy" ] && break; sleep 0.05; done
cp busy busy.orig
if (: >>busy) 2>/dev/null; then
    echo "note: this kernel lets a running program be written; skipped the busy-output checks"
else
    expect 1 "$nuvz" pack text.txt busy
    cmp -s busy busy.orig || fail "a pack that could not open its output removed or changed it"
    expect 1 "$nuvz" unpack c.nuv busy
    cmp -s busy busy.orig || fail "an unpack that could not open its output removed or changed it"
fi
kill "$busy_pid"
wait "$busy_pid" 2>/dev/null

expect 2 "$nuvz" pack --bogus text.txt x
expect_stderr "unknown option '--bogus'"
expect 2 "$nuvz" frobnicate
expect 2 "$nuvz" pack text.txt
expect 2 "$nuvz" pack --password a --key-hex 00 text.txt x
expect 2 "$nuvz" pack --key-hex 0011 text.txt x
expect 2 "$nuvz" pack --gzip --password a text.txt x
expect 2 "$nuvz" pack --encrypt-only text.txt x
expect 2 "$nuvz" pack --level 12 text.txt x
expect 2 "$nuvz" pack text.txt text.txt
expect 1 "$nuvz" md5 missing.txt
expect_stderr "missing.txt: No such file or directory"
expect 1 "$nuvz" info missing.txt
expect 0 "$nuvz" --help
grep -q "nuvz pack" out.txt || fail "--help prints no usage"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all nuvz checks passed"
