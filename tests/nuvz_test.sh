#!/usr/bin/env bash
# End-to-end test of nuvz (usage: nuvz_test.sh PATH_TO_NUVZ): round trips in every mode, info,
# md5 against md5sum, gzip interchange, the sealed kind's checks, exit codes and messages, OUT's
# default name, an existing OUT kept, and no partial output after failed writes and interrupts.
# A Windows build (nuvz.exe) runs through NUVZ_EMULATOR (wine); NUVZ_PEER names a nuvz built
# for this system, and files then cross between the two both ways. NUVZ_LARGE=1 adds a round
# trip past 4 GiB.
set -uo pipefail
program=$(realpath "$1") && [ -x "$program" ] || { echo "no nuvz at '$1'" >&2; exit 1; }
read -ra nuvz <<<"${NUVZ_EMULATOR:-}" && nuvz+=("$program") # the command that runs nuvz
nz() { "${nuvz[@]}" "$@"; }
windows= && [[ $program == *.exe ]] && windows=1
peer=${NUVZ_PEER:+$(realpath "$NUVZ_PEER")}
[ -z "${NUVZ_PEER:-}" ] || [ -x "$peer" ] || { echo "no peer at '$NUVZ_PEER'" >&2; exit 1; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work" || exit 1 # nothing is written outside;
# every name given to nuvz is relative, so that a Windows build under wine finds it too
failures=0 && fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# expect CODE PATTERN ARGS...: nuvz ARGS, without a terminal (with LIMIT set, files of at most 8 KiB,
# as on a full disk), must exit with CODE and print PATTERN on standard error.
expect() {
    local code=$1 pattern=$2 got && shift 2
    (if [ -n "${LIMIT:-}" ]; then ulimit -f 8 && trap '' XFSZ; fi; exec setsid -w "${nuvz[@]}" "$@" </dev/null) >out.txt 2>err.txt
    got=$?
    [ "$got" -eq "$code" ] || fail "exit $got instead of $code: nuvz $* ($(cat err.txt))"
    [ -z "$pattern" ] || grep -q -- "$pattern" err.txt || fail "stderr of nuvz $* lacks '$pattern': $(cat err.txt)"
}
seq 300000 >text.txt && head -c 100000 /dev/urandom >random.bin && : >empty.bin && k=000102030405060708090a0b0c0d0e0f
printf 'LF\nCR LF\r\nCR\r^Z\032' | cat - random.bin >mixed.bin # what a text mode would change on Windows

for input in text.txt random.bin empty.bin; do # round trips in every mode, over the last run's files
    for options in "" "--password secret" "--key-hex $k" "--key-hex ${k}1011121314151617" "--key-hex $k$k" \
        "--password secret --encrypt-only" "--password secret --level 1" "--password secret --store" \
        "--level 9" "--gzip" "--gzip --level 1" "--sealed --password secret --argon2 1,16,2" \
        "--sealed --key-hex $k$k --store"; do
        expect 0 "" pack -f $options "$input" packed
        expect 0 "" unpack --force $(grep -o -- '--\(password\|key-hex\) [^ ]*' <<<"$options") packed unpacked
        cmp -s "$input" unpacked || fail "round trip of $input with '$options' differs"
    done
done
# info: kind, header and payload; gzip interchange both ways, with the member's name and trailer.
nz pack --password secret text.txt p.nuv && nz pack text.txt c.nuv && nz pack --gzip text.txt ours.gz
nz info p.nuv c.nuv >info.txt
for line in "p.nuv: compressed and encrypted" "ac ef 01 00 00 00 00 00" "unknown without the key" "c.nuv: compressed$" \
    "payload   $(stat -c %s text.txt) bytes" "check     ok"; do
    grep -q "$line" info.txt || fail "info lacks '$line': $(cat info.txt)"
done
gzip -dc ours.gz | cmp -s - text.txt || fail "gzip cannot read nuvz's member"
cp text.txt named.txt && gzip -9 named.txt && nz unpack named.txt.gz from_gzip.txt && nz info named.txt.gz >info.txt
cmp -s from_gzip.txt text.txt || fail "unpack of gzip's file"
crc=$(python3 -c "import zlib; print('%08x' % zlib.crc32(open('text.txt', 'rb').read()))")
for line in "name      named.txt" "CRC-32 $crc, size $(stat -c %s text.txt)" "check     ok"; do
    grep -q "$line" info.txt || fail "info of gzip's file lacks '$line': $(cat info.txt)"
done
names=(text.txt empty.bin mixed.bin 'café 日本語') && [ -n "$windows" ] || names+=('odd\name' "$(printf 'new\nline')")
for name in "${names[@]:3}"; do cp random.bin "$name"; done # Windows names hold no '\' or newline
[ "$(nz md5 "${names[@]}")" = "$(md5sum "${names[@]}")" ] || fail "nuvz md5 differs from md5sum"
[ "$(nz md5 - <mixed.bin)" = "$(md5sum - <mixed.bin)" ] || fail "md5 of standard input"
# The sealed kind, at a cheap Argon2id cost but for one file: info shows its parameters without a
# key, the salt as the file holds it; a password from a file, the terminal or a pipe opens it.
cheap="--argon2 1,8,1" && printf 'secret\n' >pw.txt
nz pack --sealed --password-file pw.txt text.txt s_default.nuv && nz pack --sealed --password-file pw.txt $cheap \
    --threads 2 text.txt s.nuv && nz pack --sealed --key-hex $k$k random.bin sk.nuv && nz info s_default.nuv s.nuv sk.nuv >info.txt
for line in "s_default.nuv: sealed" "ac 5e 01 00 00 00 00 00 01 01 \.\.\." "bytes: 52 header" "format    version 1" \
    "key       Argon2id of a password: t=3 passes, m=64 MiB, p=4 lanes" "t=1 passes, m=8 KiB, p=1 lanes" \
    "sk.nuv: sealed" "key       HKDF-SHA-256 of a 32-byte key" "cipher    AES-256-GCM, chunks of 65536 bytes" \
    "salt      $(od -An -tx1 -j24 -N16 s.nuv | tr -d ' \n')$" "payload   unknown without the key"; do
    grep -q "$line" info.txt || fail "info of sealed files lacks '$line': $(cat info.txt)"
done
nz unpack --password-file pw.txt s.nuv s.txt && cmp -s s.txt text.txt && nz unpack --key-hex $k$k sk.nuv sk.bin &&
    cmp -s sk.bin random.bin || fail "sealed round trip with --password-file or --key-hex"
cat s.nuv | nz unpack --password-file pw.txt - - | cmp -s - text.txt &&
    nz pack --sealed --password secret $cheap mixed.bin - | nz unpack --password secret - - | cmp -s - mixed.bin ||
    fail "sealed files through pipes"
# A changed byte fails a tag and a version this nuvz does not read is refused, both exit 3 (the
# library's tests cover every other sort of damage).
python3 - s.nuv <<'EOF'
import sys
d = open(sys.argv[1], "rb").read()
flip = lambda at, bits: d[:at] + bytes([d[at] ^ bits]) + d[at + 1:]
open("flipped.nuv", "wb").write(flip(70000, 1)), open("v2.nuv", "wb").write(flip(8, 3))
EOF
nz info v2.nuv >info.txt; [ $? -eq 3 ] && grep -q "check     REFUSED" info.txt || fail "info of a version 2: $(cat info.txt)"
while IFS='|' read -r code pattern args; do expect "$code" "$pattern" $args; done <<'EOF'
3|s.nuv: authentication failed: wrong password or key, or the file was altered|unpack --password wrong s.nuv new.txt
3|s.nuv: authentication failed|unpack --key-hex 000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f s.nuv new.txt
3|flipped.nuv: authentication failed|unpack --password-file pw.txt flipped.nuv new.txt
3|v2.nuv: the sealed container's version, algorithms or cost are not supported|unpack --password-file pw.txt v2.nuv new.txt
2|--sealed needs a password or --key-hex|pack --sealed text.txt new.nuv
2|--sealed writes its own kind|pack --sealed --gzip --password a text.txt new.nuv
2|--sealed writes its own kind|pack --sealed --encrypt-only --password a text.txt new.nuv
2|--sealed takes a 32-byte key: --key-hex needs 64 hex digits|pack --sealed --key-hex 000102030405060708090a0b0c0d0e0f text.txt new.nuv
2|--argon2 is the cost of a password's key|pack --argon2 1,8,1 --password a text.txt new.nuv
2|--argon2 is the cost of a password's key|pack --sealed --argon2 1,8,1 --key-hex 000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f text.txt new.nuv
2|--argon2 needs T,M,P|pack --sealed --argon2 1,8 --password a text.txt new.nuv
2|--argon2 needs T,M,P|pack --sealed --argon2 1,8,1,1 --password a text.txt new.nuv
2|--argon2 needs T,M,P|pack --sealed --argon2 1,1048577,1 --password a text.txt new.nuv
2|--argon2 needs T,M,P|pack --sealed --argon2 1025,8,1 --password a text.txt new.nuv
2|--argon2 needs T,M,P|pack --sealed --argon2 1,4294967304,1 --password a text.txt new.nuv
EOF

# Bad input: exit code and message; no output named new.* and no temporary file is left behind
# (checked at the end).
head -c 2000 c.nuv >cut.nuv && head -c 2000 ours.gz >cut.gz && cat ours.gz ours.gz >two.gz && mkdir out_dir
while IFS='|' read -r code pattern args; do expect "$code" "$pattern" $args; done <<'EOF'
1|missing-dir/out: No such file|pack text.txt missing-dir/out
1|missing.txt: No such file or directory|pack missing.txt new.nuv
1|\.: Is a directory|pack . new.nuv
1|out_dir: Is a directory|pack text.txt out_dir
1|out_dir: Is a directory|unpack -f c.nuv out_dir
3|p.nuv: the data did not decode|unpack --password wrong p.nuv new.txt
2|p.nuv: the file is encrypted|unpack p.nuv new.txt
3|text.txt: not a packed file|unpack text.txt new.txt
3|its end does not check out|unpack cut.nuv new.txt
3|did not decode|unpack cut.gz new.txt
3|its end does not check out|unpack two.gz new.txt
1|missing.txt: No such file or directory|md5 missing.txt
2|unknown option '--bogus'|pack --bogus text.txt new.nuv
2|unknown option '-f'|md5 -f text.txt
2|option '--force' given twice|pack -f --force text.txt new.nuv
2|needs IN, and OUT unless|unpack
2|needs OUT when IN is standard input|pack -
2|needs OUT: 'text.txt' does not end in .nuv or .gz|unpack text.txt
2|needs OUT: 'sub/.nuv' does not end in .nuv or .gz|unpack sub/.nuv
2|cannot be encrypted|pack --gzip --password a text.txt new.nuv
2|from 0 to 9|pack --level 12 text.txt new.nuv
2|--threads needs a number from 1 to 64|pack --threads 65 text.txt new.nuv
0||unpack --password unneeded c.nuv c.txt
EOF
cmp -s c.txt text.txt && [ -d out_dir ] || fail "unpack with an unneeded password, or a pack into a directory"
# OUT left out: IN.nuv (IN.gz with --gzip) for pack, IN without its .nuv or .gz for unpack.
mkdir names && cp text.txt names/t && (cd names && nz pack t && nz pack --gzip t && rm t && nz unpack t.nuv &&
    cmp -s t ../text.txt && rm t && nz unpack t.gz && cmp -s t ../text.txt && gzip -dc t.gz | cmp -s - t) ||
    fail "OUT's default names"
# An existing OUT is kept unless --force (-f) is given, also by a run that then fails; the file is
# replaced with the permissions a new one gets. A device is written in place, without --force.
echo old >old.txt && cp old.txt old.nuv
for args in "pack text.txt old.nuv" "unpack c.nuv old.txt" "pack --gzip text.txt old.txt"; do
    expect 1 ": already exists; use --force (-f) to replace it" $args
done
for args in cut.nuv two.gz "--password wrong p.nuv" "--password wrong s.nuv"; do expect 3 "" unpack -f $args old.txt; done
cmp -s old.txt old.nuv && [ "$(cat old.txt)" = old ] || fail "a refused or failed run changed OUT"
chmod 600 old.nuv && (umask 027 && nz pack -f text.txt old.nuv) && nz unpack --force old.nuv old.txt &&
    cmp -s old.txt text.txt || fail "--force"
[ -n "$windows" ] || [ "$(stat -c %a old.nuv)" = 640 ] || fail "mode of a replaced OUT: $(stat -c %a old.nuv)"
null=/dev/null && [ -z "$windows" ] || null=NUL
expect 0 "" pack text.txt $null && expect 0 "" unpack c.nuv $null
# Writes that fail part-way (a full disk) leave no OUT and no temporary file, and an earlier OUT as it was.
echo "earlier content" >kept.nuv && nz pack --password secret --encrypt-only random.bin r.nuv
LIMIT=1 expect 1 "new.nuv: could not write the packed file" pack random.bin new.nuv
LIMIT=1 expect 1 "kept.nuv: could not write the packed file" pack -f random.bin kept.nuv
LIMIT=1 expect 1 "new.bin: write error" unpack --password secret r.nuv new.bin
[ "$(cat kept.nuv)" = "earlier content" ] || fail "a failed run with --force changed OUT"
# Threads: 2 and 4 write the same pieces, 1 one zlib stream, and all unpack.
for t in 1 2 4; do
    nz pack --gzip --threads $t text.txt t$t.gz && gzip -dc t$t.gz | cmp -s - text.txt || fail "gzip --threads $t"
    nz pack --password secret --threads $t text.txt t$t.nuv && nz unpack -f --password secret t$t.nuv t.txt &&
        cmp -s t.txt text.txt || fail "--threads $t"
done
cmp -s t2.gz t4.gz && cmp -s t2.nuv t4.nuv && ! cmp -s t1.gz t2.gz || fail "--threads 2 and 4 differ, or 1 is pieces"
# Interrupts in the middle of a pack and of an unpack, whose input comes through a FIFO: once the
# temporary file holds data, the signal comes while nuvz waits for more. The run ends as the signal
# ends a process (128 + N) and leaves neither OUT nor the temporary file. wine turns SIGINT into
# Ctrl-C; its other signals are no console events.
for i in $(seq 30); do cat random.bin; done >large.bin && nz pack --password secret large.bin large.nuv && mkfifo fifo
signals="INT:2 TERM:15 HUP:1" && [ -z "$windows" ] || signals=INT:2
for signal in $signals; do
    for run in "large.bin|pack --threads 1 - new.sig" "large.nuv|unpack --password secret - new.sig"; do
        { env --default-signal "${nuvz[@]}" ${run#*|} <fifo 2>/dev/null & } && exec 3>fifo && pid=$!
        head -c 1000000 "${run%%|*}" >&3
        for i in $(seq 100); do set -- new.sig.nuvz-partial-* && [ -s "$1" ] && break || sleep 0.05; done
        kill -"${signal%:*}" $pid && { wait $pid; } 2>/dev/null; code=$? && exec 3>&-
        set -- new.sig*
        [ $code -eq $((128 + ${signal#*:})) ] && [ ! -e "$1" ] || fail "SIG${signal%:*} during ${run#*|}: exit $code, left $*"
    done
done
# Pipes: tar through pack and unpack, gzip both ways; never a file named '-'; a reader that goes
# away early (exit 1, nothing left behind); standard input that ends before the packed data does.
mkdir -p tree/sub x && cp text.txt tree/ && cp random.bin tree/sub/ && printf 'secret\nrest\n' >key.txt
tar c tree | nz pack --password-file key.txt - tree.nuv && (cd x && nz unpack --password-file ../key.txt ../tree.nuv - | tar x)
diff -r tree x/tree >/dev/null || fail "tar through pack and unpack differs"
nz pack --gzip text.txt - | gzip -dc | cmp -s - text.txt || fail "gzip -d of pack's standard output"
gzip -c text.txt | nz unpack - - | cmp -s - text.txt || fail "unpack of gzip's standard output"
nz unpack --password secret tree.nuv - 2>/dev/null | head -c 10 >/dev/null
[ "${PIPESTATUS[0]}" -eq 1 ] || fail "unpack into a pipe closed early: exit ${PIPESTATUS[0]}"
nz pack --password secret text.txt - 2>/dev/null | head -c 10 >/dev/null
[ "${PIPESTATUS[0]}" -eq 1 ] || fail "pack into a pipe closed early: exit ${PIPESTATUS[0]}"
head -c 5000 c.nuv | nz unpack - new.txt 2>err.txt
[ $? -eq 1 ] && grep -q "standard input: ended early" err.txt || fail "standard input cut short: $(cat err.txt)"
# Standard output opened for appending: refused on POSIX, where pack reopens /dev/stdout and would cut
# the file; Windows writes through the handle at its own position, after what the file held.
echo kept >appended && nz pack text.txt - >>appended 2>/dev/null; code=$?
if [ -z "$windows" ]; then
    [ $code -ne 0 ] && [ "$(cat appended)" = kept ] || fail "appended: exit $code"
else
    [ $code -eq 0 ] && [ "$(head -n 1 appended)" = kept ] && tail -c +6 appended | nz unpack - - | cmp -s - text.txt ||
        fail "appended: exit $code"
fi
: >empty.key
for args in "--password-file missing.key" "--password-file empty.key" "--password-file ." "--prompt"; do
    expect 2 "" pack $args text.txt new.nuv # no terminal to ask on for --prompt, here
done
# Long names, each directory name within NAME_MAX: beyond PATH_MAX on Linux; on Windows far beyond
# MAX_PATH (260), within what wine reaches on Linux. Names in UTF-8 keep every character.
depth=25 && [ -z "$windows" ] || depth=12
deep=. && for i in $(seq $depth); do n=$(printf %0200d "$i") && mkdir "$n" && cd "$n" && deep=$deep/$n; done && cd "$work"
mkdir café 'a space' && for name in "$deep/t" café/日本語.nuv 'a space/Ünïcödé ✓.nuv'; do
    nz pack --password-file key.txt text.txt "$name" && nz unpack -f --password-file key.txt "$name" round.txt &&
        cmp -s round.txt text.txt && nz info "$name" | grep -qF "$name: compressed and encrypted" ||
        fail "round trip through '$name'"
done
[ -e café/日本語.nuv ] && [ -e 'a space/Ünïcödé ✓.nuv' ] || fail "names in UTF-8 changed on the way"
# The terminal: unpack asks for a missing password, pack --prompt asks twice; nothing is echoed, and
# packed data is not written to a terminal.
# wine draws its console with escape sequences (a space as a cursor move), and takes what is typed only
# once the program reads (the terminal echoes earlier keys): its output is read as plain text, on a
# terminal wide enough for every message, and it gets its answers a moment later.
delay=0 && [ -z "${NUVZ_EMULATOR:-}" ] || delay=0.5
on_terminal() { # ANSWERS ARGS...: nuvz on a new terminal, answering its prompts in turn
    python3 -c 'import fcntl, os, pty, re, struct, sys, termios, time
answers, delay, pid, fd, out, given = sys.argv[1].split(","), float(sys.argv[2]), *pty.fork(), b"", 0
if pid == 0:
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("4H", 50, 500, 0, 0))
    os.execvp(sys.argv[3], sys.argv[3:])
def plain(text):
    text = re.sub(rb"\x1b\[([0-9]*)C", lambda move: b" " * int(move[1] or 1), text)
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", text)
while True:
    try: chunk = os.read(fd, 4096)
    except OSError: break
    out += chunk
    if not chunk: break
    if given < min(len(re.findall(rb"Password[^:]*:", plain(out))), len(answers)):
        time.sleep(delay); os.write(fd, b"\x03" if answers[given] == "^C" else (answers[given] + "\r").encode()); given += 1
status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
echo = "echo " + ("on" if termios.tcgetattr(fd)[3] & termios.ECHO else "off")
print(plain(out).decode(errors="replace") + echo); sys.exit(status if status >= 0 else 128 - status)' "$1" $delay "${nuvz[@]}" "${@:2}" >out.txt
}
on_terminal secret unpack p.nuv asked.txt && cmp -s asked.txt text.txt && ! grep -q secret out.txt || fail "prompt: $(cat out.txt)"
on_terminal twice,twice pack --prompt text.txt q.nuv && nz unpack --password twice q.nuv q.txt || fail "pack --prompt"
on_terminal one,two pack --prompt text.txt new.nuv; [ $? -eq 2 ] && grep -q differ out.txt || fail "different passwords"
on_terminal "" pack text.txt -; [ $? -eq 2 ] && grep -q "not write packed data to a terminal" out.txt || fail "terminal"
on_terminal twice,twice pack --prompt --sealed $cheap text.txt q2.nuv && on_terminal twice unpack q2.nuv q2.txt &&
    cmp -s q2.txt text.txt || fail "a sealed file's password on the terminal"
# An existing OUT is refused before a password is asked; Ctrl-C at the prompt puts the echo back.
for args in "unpack p.nuv c.txt" "pack --prompt text.txt c.nuv"; do
    on_terminal secret,secret $args; [ $? -eq 1 ] && ! grep -q Password out.txt || fail "asked before refusing: $args"
done
on_terminal "^C" unpack p.nuv new.txt; [ $? -eq 130 ] && grep -q "echo on" out.txt || fail "Ctrl-C at the prompt: $(cat out.txt)"
# Files cross between this nuvz and NUVZ_PEER both ways, as files and through pipes.
if [ -n "$peer" ]; then
    for options in "" "--password secret" "--key-hex $k$k" "--password secret --encrypt-only" "--gzip --level 1" \
        "--sealed --password secret --argon2 1,8,1"; do
        keys=$(grep -o -- '--\(password\|key-hex\) [^ ]*' <<<"$options")
        "$peer" pack -f $options mixed.bin theirs && nz unpack -f $keys theirs mine && cmp -s mine mixed.bin &&
            nz pack -f $options mixed.bin ours && "$peer" unpack -f $keys ours back && cmp -s back mixed.bin &&
            "$peer" pack $options mixed.bin - | nz unpack $keys - - | cmp -s - mixed.bin &&
            nz pack $options mixed.bin - | "$peer" unpack $keys - - | cmp -s - mixed.bin || fail "exchange with '$options'"
    done
fi
# Past 4 GiB (NUVZ_LARGE=1, slow): sizes and counts are 64-bit everywhere.
if [ -n "${NUVZ_LARGE:-}" ]; then
    truncate -s 4200M large.bin && printf end >>large.bin && sum=$(md5sum <large.bin) && size=$(stat -c %s large.bin)
    nz pack --password secret large.bin large.nuv && [ "$(nz unpack --password secret large.nuv - | md5sum)" = "$sum" ] ||
        fail "round trip past 4 GiB"
    nz pack large.bin large.nuv && nz info large.nuv | grep -q "payload   $size bytes" || fail "info past 4 GiB"
    [ "$(nz md5 large.bin)" = "${sum%-}large.bin" ] || fail "md5 past 4 GiB"
    rm -f large.bin large.nuv
fi
for f in new.* *.nuvz-partial-* */*.nuvz-partial-* -; do [ ! -e "$f" ] || fail "a failed run left $f behind"; done
[ -e kept.nuv ] || fail "a failed run removed a file it did not create"
[ "$failures" -eq 0 ] && echo "all nuvz checks passed" || { echo "$failures check(s) failed" >&2; exit 1; }
