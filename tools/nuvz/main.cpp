// nuvz: packs, unpacks, describes and digests files with nuv_toolkit; a plain client of
// the library's public interface, one source file per command.
//
// Exit codes: 0 success, 1 a file could not be read or written, 2 usage error,
// 3 the data did not decode (wrong password or key, damaged, cut or altered file, refused
// sealed parameters, not a packed file),
// 128 + N ended by signal N (or the Windows console event that stands for it).
#include "nuvz.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char s_usage[] =
    "Usage:\n"
    "  nuvz pack [KEY] [-f] [--sealed [--argon2 T,M,P]] [--store] [--encrypt-only]\n"
    "            [--gzip] [--level N] [--threads N] IN [OUT]\n"
    "  nuvz unpack [KEY] [-f] IN [OUT]\n"
    "  nuvz info FILE...\n"
    "  nuvz md5 [--legacy] [FILE...]\n"
    "  nuvz --help\n"
    "\n"
    "IN '-' reads standard input, OUT '-' writes standard output (pack refuses a terminal).\n"
    "Without OUT, pack writes IN.nuv (IN.gz with --gzip) and unpack writes IN without its\n"
    ".nuv or .gz; standard input as IN needs OUT.\n"
    "\n"
    "OUT is written as OUT.nuvz-partial-XXXXXX in its directory and renamed to OUT once\n"
    "complete; a failure or an interrupt removes it, so OUT is never left half written.\n"
    "An existing OUT is kept unless --force is given; a device (/dev/null) or a pipe is\n"
    "written in place.\n"
    "  -f, --force        replace an existing OUT\n"
    "\n"
    "Commands:\n"
    "  pack    write IN into the packed file OUT: compressed (zlib), and encrypted with\n"
    "          AES-ECB when a key is given, or sealed with --sealed (see Kinds below)\n"
    "            --sealed         write the sealed kind (needs a password or a 32-byte key)\n"
    "            --argon2 T,M,P   (--sealed with a password) the cost of deriving the key:\n"
    "                             T passes, M KiB of memory, P lanes (default 3,65536,4)\n"
    "            --level N        deflate level 0 to 9 (default 6)\n"
    "            --store          the same as --level 0: stored, uncompressed deflate blocks\n"
    "            --encrypt-only   encrypt without compressing (needs a key)\n"
    "            --gzip           write a gzip member instead (cannot be encrypted)\n"
    "            --threads N      deflate on N threads, 1 to 64 (default: one per hardware\n"
    "                             thread); 1 writes one zlib stream, more write 512 KiB\n"
    "                             pieces, the same bytes for any N above 1\n"
    "  unpack  write the content of the packed file IN to OUT, of any kind; an encrypted or\n"
    "          sealed file needs the password or key it was packed with, asked on the\n"
    "          terminal when none is given and IN is a file\n"
    "  info    describe each FILE: kind, header bytes, sizes, for gzip the member's name and\n"
    "          trailer, for a sealed file its key derivation, cost and cipher; unencrypted\n"
    "          files are decoded to count and check them, the others need no key\n"
    "  md5     print the MD5 digest of each FILE (or of standard input for '-' or no FILE)\n"
    "          in md5sum's format; --legacy prints the pre-121 form (no leading zeros)\n"
    "\n"
    "KEY, one of:\n"
    "  --password-file F  the password is the first line of the file F\n"
    "  --prompt           (pack) ask for the password twice on the terminal, without echo\n"
    "  --password P       the password P; other users of the machine can see it in the\n"
    "                     process list, so prefer --password-file or the prompt\n"
    "  --key-hex HEX      a raw key of 16, 24 or 32 bytes in hex (32, 48 or 64 digits);\n"
    "                     --sealed takes 32 bytes\n"
    "\n"
    "Kinds: with a key, pack writes the compressed and encrypted kind (--encrypt-only: the\n"
    "encrypted kind), which every older reader of these files reads, but which is weak: the\n"
    "key is the unsalted MD5 digest of the password, equal blocks of data show as equal\n"
    "cipher blocks (AES-ECB), and nothing detects a change. Choose --sealed for data that\n"
    "must stay secret and unaltered: its key comes from the password through Argon2id with\n"
    "a random salt, slow to guess, or from a 32-byte key; AES-256-GCM seals it in chunks,\n"
    "and unpack refuses a file that was changed, cut or reordered. Only readers that know\n"
    "the sealed kind read it.\n"
    "\n"
    "Exit status: 0 success, 1 a file or pipe could not be read or written (or OUT exists),\n"
    "2 usage error (also an encrypted file without its key, or a bad password file), 3 the\n"
    "data did not decode (wrong password or key, damaged or cut file, not a packed file;\n"
    "for a sealed file: authentication failed, or parameters this nuvz does not read),\n"
    "128 + N ended by signal N: 130 SIGINT (Ctrl-C), 143 SIGTERM, 129 SIGHUP; on Windows\n"
    "130 Ctrl-C, 149 Ctrl-Break, 129 the console closed.\n";

const struct {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
} s_commands[] = {
    {"pack", nuvz::command_pack},
    {"unpack", nuvz::command_unpack},
    {"info", nuvz::command_info},
    {"md5", nuvz::command_md5},
};

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = nuvz::start_process(argc, argv);
    if (arguments.empty())
        return nuvz::usage_error("missing command");
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(s_usage, stdout);
        return nuvz::EXIT_OK;
    }
    const std::vector<std::string> args(arguments.begin() + 1, arguments.end());
    for (const auto& entry : s_commands)
        if (command == entry.name)
            return entry.run(args);
    return nuvz::usage_error("unknown command '" + command + "'");
}
