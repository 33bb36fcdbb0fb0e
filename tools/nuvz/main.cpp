// nuvz: packs, unpacks, describes and digests files with nuv_toolkit.
//
// Exit codes: 0 success, 1 a file could not be read or written, 2 usage error,
// 3 the data did not decode (wrong password or key, damaged or cut file, not a packed file).
#include <nuv/nuv_aes.h>
#include <nuv/nuv_md5.h>
#include <nuv/nuv_zstream.h>

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

enum EXIT_CODE { EXIT_OK = 0, EXIT_FILE = 1, EXIT_USAGE = 2, EXIT_DECODE = 3 };

const char s_usage[] =
    "Usage:\n"
    "  nuvz pack [--password P | --key-hex HEX] [--store] [--encrypt-only] [--gzip] [--level N] IN OUT\n"
    "  nuvz unpack [--password P | --key-hex HEX] IN OUT\n"
    "  nuvz info FILE...\n"
    "  nuvz md5 [--legacy] [FILE...]\n"
    "  nuvz --help\n"
    "\n"
    "Commands:\n"
    "  pack    write IN into the packed file OUT: compressed (zlib), and encrypted with\n"
    "          AES-ECB when a password or key is given\n"
    "            --password P     the key is the MD5 digest of P (16 bytes)\n"
    "            --key-hex HEX    a raw key of 16, 24 or 32 bytes in hex (32, 48 or 64 digits)\n"
    "            --level N        deflate level 0 to 9 (default 6)\n"
    "            --store          the same as --level 0: stored, uncompressed deflate blocks\n"
    "            --encrypt-only   encrypt without compressing (needs a password or key)\n"
    "            --gzip           write a gzip member instead (cannot be encrypted)\n"
    "  unpack  write the content of the packed file IN to OUT; an encrypted file needs\n"
    "          the password or key it was packed with\n"
    "  info    describe each FILE: kind, header bytes, sizes, and for gzip the member's\n"
    "          name and trailer; unencrypted files are decoded to count and check them\n"
    "  md5     print the MD5 digest of each FILE (or of standard input for '-' or no FILE)\n"
    "          in md5sum's format; --legacy prints the pre-121 form (no leading zeros)\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read or written, 2 usage error (also an\n"
    "encrypted file without its password), 3 the data did not decode (wrong password or key,\n"
    "damaged or cut file, not a packed file).\n";

int usage_error(const std::string& text)
{
    std::fprintf(stderr, "nuvz: %s\nTry 'nuvz --help' for more information.\n", text.c_str());
    return EXIT_USAGE;
}

void file_error(const std::string& name, const std::string& text)
{
    std::fprintf(stderr, "nuvz: %s: %s\n", name.c_str(), text.c_str());
}

/// Why `name` cannot be read as a regular file, or an empty text when it can be.
std::string unreadable_reason(const std::string& name)
{
    struct stat info;
    if (::stat(name.c_str(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    if (::access(name.c_str(), R_OK) != 0)
        return std::strerror(errno);
    return std::string();
}

/// The output of pack or unpack. After a failure it is removed only when this run created
/// it (the name did not exist before) and it is a regular file: never a file the user
/// already had, a directory, a device or a pipe.
class OUTPUT_FILE {
public:
    explicit OUTPUT_FILE(const std::string& name)
        : m_name(name), m_existed(::lstat(name.c_str(), &m_before) == 0)
    {
    }
    /// Removes the file when this run created it; returns what happened to it, for the
    /// end of an error message.
    std::string discard() const
    {
        struct stat now;
        if (::lstat(m_name.c_str(), &now) != 0 || !S_ISREG(now.st_mode))
            return "";
        if (!m_existed)
            return std::remove(m_name.c_str()) == 0 ? "; the incomplete output was removed" : "";
        const bool touched = now.st_size != m_before.st_size ||
                             now.st_mtim.tv_sec != m_before.st_mtim.tv_sec ||
                             now.st_mtim.tv_nsec != m_before.st_mtim.tv_nsec;
        return touched ? "; " + m_name + " now holds incomplete data" : "";
    }
    /// Whether this run creates the file.
    bool created_here() const { return !m_existed; }
    /// Whether the name was a regular file before this run.
    bool was_regular() const { return m_existed && S_ISREG(m_before.st_mode); }

private:
    std::string m_name;
    struct stat m_before;
    bool m_existed;
};

// A packed file whose disk fills up ends the process from inside the library (its writing
// stream reports an internal error and aborts). While pack writes, this handler removes the
// output it created, says so and exits with EXIT_FILE.
const char* s_abort_output = nullptr; // removed by the handler; null for a file kept
std::string s_abort_message;          // composed before the handler is armed

extern "C" void on_abort_while_packing(int)
{
    if (s_abort_output)
        ::unlink(s_abort_output);
    const ssize_t written = ::write(STDERR_FILENO, s_abort_message.data(), s_abort_message.size());
    (void)written;
    ::_exit(EXIT_FILE);
}

void arm_abort_cleanup(const OUTPUT_FILE& output, const std::string& name)
{
    s_abort_output = output.created_here() ? name.c_str() : nullptr;
    s_abort_message = "nuvz: " + name + ": could not write the packed file" +
                      (output.created_here()  ? "; the incomplete output was removed"
                       : output.was_regular() ? "; " + name + " now holds incomplete data"
                                              : "") +
                      "\n";
    std::signal(SIGABRT, on_abort_while_packing);
}

/// Size of a regular file, 0 for anything else.
uint64_t file_size(const std::string& name)
{
    struct stat info;
    return ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? uint64_t(info.st_size) : 0;
}

/// A progress line on stderr for long jobs: silent unless stderr is a terminal and the input
/// is over 64 MB. With a known total it shows a percentage, else the amount done.
class PROGRESS {
public:
    PROGRESS(const char* verb, const std::string& name, uint64_t input_size, bool total_known)
        : m_verb(verb), m_name(name), m_total(total_known ? input_size : 0),
          m_enabled(input_size > (uint64_t(64) << 20) && ::isatty(STDERR_FILENO)),
          m_last(std::chrono::steady_clock::now())
    {
    }
    ~PROGRESS()
    {
        if (m_shown)
            std::fprintf(stderr, "\r\033[K");
    }
    PROGRESS(const PROGRESS&) = delete;
    PROGRESS& operator=(const PROGRESS&) = delete;
    /// Reports `done` bytes, at most four times a second.
    void update(uint64_t done)
    {
        if (!m_enabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(250))
            return;
        m_last = now;
        m_shown = true;
        if (m_total)
            std::fprintf(stderr, "\r\033[K%s %s: %3d%% (%llu of %llu MB)", m_verb, m_name.c_str(),
                         int(done * 100 / m_total), (unsigned long long)(done >> 20),
                         (unsigned long long)(m_total >> 20));
        else
            std::fprintf(stderr, "\r\033[K%s %s: %llu MB", m_verb, m_name.c_str(),
                         (unsigned long long)(done >> 20));
    }

private:
    const char* m_verb;
    std::string m_name;
    uint64_t m_total;
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last;
};

/// Command-line arguments split into flags, options with a value and positional arguments.
struct ARGS {
    std::set<std::string> flags;
    std::map<std::string, std::string> values;
    std::vector<std::string> positional;
};

/// Splits `args` by the flags and value options a command accepts ("--name value" or
/// "--name=value"; "--" ends the options; "-" is positional). Returns an error text, empty
/// on success.
std::string parse_args(const std::vector<std::string>& args, const std::set<std::string>& flag_names,
                       const std::set<std::string>& value_names, ARGS* out)
{
    bool options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            out->positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (flag_names.count(name) && equals == std::string::npos) {
            if (!out->flags.insert(name).second)
                return "option '" + name + "' given twice";
        } else if (value_names.count(name)) {
            std::string value;
            if (equals != std::string::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return "option '" + name + "' needs a value";
            if (!out->values.emplace(name, value).second)
                return "option '" + name + "' given twice";
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    return std::string();
}

/// md5sum's way of writing a name: backslash, newline and carriage return are escaped and
/// the line then starts with a backslash.
std::string md5sum_line(const std::string& digest, const std::string& name)
{
    std::string escaped;
    bool any = false;
    for (char c : name) {
        const char* replacement = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        any |= replacement != nullptr;
        escaped += replacement ? std::string(replacement) : std::string(1, c);
    }
    return (any ? "\\" : "") + digest + "  " + escaped + "\n";
}

/// Digests one file (or standard input for "-"); false with a message when it cannot be read.
bool digest_file(const std::string& name, NUV_MD5* md5)
{
    if (name == "-") {
        // NUV_MD5 closes the FILE it is given: hand it a duplicate of standard input.
        FILE* input = ::fdopen(::dup(STDIN_FILENO), "rb");
        if (!input) {
            file_error(name, std::strerror(errno));
            return false;
        }
        md5->update(input);
        return true;
    }
    const std::string reason = unreadable_reason(name);
    if (!reason.empty()) {
        file_error(name, reason);
        return false;
    }
    std::tenvik_ifstream input;
    input.open(name.c_str(), std::ios_base::binary);
    if (!input.is_open()) {
        file_error(name, std::strerror(errno));
        return false;
    }
    PROGRESS progress("md5", name, file_size(name), true);
    std::vector<char> buffer(1 << 20);
    uint64_t done = 0;
    while (input.good()) {
        input.read(buffer.data(), std::streamsize(buffer.size()));
        md5->update(buffer.data(), static_cast<unsigned int>(input.gcount()));
        done += uint64_t(input.gcount());
        progress.update(done);
    }
    if (input.bad()) {
        file_error(name, "read error");
        return false;
    }
    return true;
}

int command_md5(const std::vector<std::string>& args)
{
    ARGS parsed;
    const std::string error = parse_args(args, {"--legacy"}, {}, &parsed);
    if (!error.empty())
        return usage_error("md5: " + error);
    const bool legacy = parsed.flags.count("--legacy") != 0;
    std::vector<std::string> names = parsed.positional;
    if (names.empty())
        names.push_back("-");

    int status = EXIT_OK;
    for (const std::string& name : names) {
        NUV_MD5 md5;
        if (!digest_file(name, &md5)) {
            status = EXIT_FILE;
            continue;
        }
        md5.finalize();
        std::string digest;
        if (legacy)
            md5.hex_digest_pre_121(&digest);
        else
            md5.hex_digest(&digest);
        std::fputs(md5sum_line(digest, name).c_str(), stdout);
    }
    if (std::fflush(stdout) != 0) {
        file_error("standard output", std::strerror(errno));
        status = EXIT_FILE;
    }
    return status;
}

/// The AES key of pack and unpack: empty for none, else 16, 24 or 32 bytes.
using KEY = std::vector<unsigned char>;

/// Fills `key` from --password (its MD5 digest, as the whole-file functions derive it) or
/// --key-hex; returns an error text, empty on success.
std::string resolve_key(const ARGS& args, KEY* key)
{
    const auto password = args.values.find("--password");
    const auto hex = args.values.find("--key-hex");
    if (password != args.values.end() && hex != args.values.end())
        return "give either --password or --key-hex, not both";
    if (password != args.values.end()) {
        if (password->second.empty())
            return "the password is empty";
        key->resize(16);
        NUV_MD5(password->second.c_str()).raw_digest(key->data());
    } else if (hex != args.values.end()) {
        const std::string& text = hex->second;
        if (text.size() != 32 && text.size() != 48 && text.size() != 64)
            return "--key-hex needs 32, 48 or 64 hex digits (a 16, 24 or 32-byte key)";
        for (size_t i = 0; i < text.size(); i += 2) {
            const std::string pair = text.substr(i, 2);
            if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return "--key-hex: '" + text + "' is not hexadecimal";
            key->push_back(static_cast<unsigned char>(std::stoul(pair, nullptr, 16)));
        }
    }
    return std::string();
}

/// True when both names lead to the same existing file.
bool same_file(const std::string& a, const std::string& b)
{
    struct stat first, second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

/// Checks IN and OUT of pack and unpack; prints the problem and returns its exit code, or
/// EXIT_OK.
int check_files(const std::string& in, const std::string& out)
{
    const std::string reason = unreadable_reason(in);
    if (!reason.empty()) {
        file_error(in, reason);
        return EXIT_FILE;
    }
    if (same_file(in, out))
        return usage_error("'" + in + "' and '" + out + "' are the same file");
    return EXIT_OK;
}

const char* error_text(NUV_ZSTREAM_ERROR_ENUM error)
{
    switch (error) {
    case NUV_ZSTREAM_OK:
        return "no error";
    case NUV_ZSTREAM_STREAM_ERROR:
        return "zlib stream error";
    case NUV_ZSTREAM_DATA_ERROR:
        return "the compressed data is invalid";
    case NUV_ZSTREAM_MEM_ERROR:
        return "zlib ran out of memory";
    case NUV_ZSTREAM_BUF_ERROR:
        return "the compressed data ends too early";
    case NUV_ZSTREAM_VERSION_ERROR:
        return "zlib version mismatch";
    case NUV_ZSTREAM_NO_KEY:
        return "the file is encrypted and no key was given";
    case NUV_ZSTREAM_CRYPT_ERROR:
        return "the cipher text does not decipher (bad padding or length)";
    case NUV_ZSTREAM_UNKNOWN_ERROR:
        break;
    }
    return "unexpected zlib result";
}

/// Container kinds as the reading stream recognises them.
enum KIND { KIND_PLAIN, KIND_COMPRESSED, KIND_COMPRESSED_ENCRYPTED, KIND_ENCRYPTED, KIND_GZIP };

const char* const s_kind_names[] = {"plain file, not packed", "compressed", "compressed and encrypted",
                                    "encrypted", "gzip member"};

/// Reads up to `count` bytes at `offset` of a file (from its end when `offset` is negative).
std::vector<unsigned char> read_bytes(const std::string& name, int64_t offset, size_t count)
{
    std::vector<unsigned char> bytes(count);
    std::tenvik_ifstream file;
    file.open(name.c_str(), std::ios_base::binary);
    file.seekg(offset, offset < 0 ? std::ios_base::end : std::ios_base::beg);
    file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(count));
    bytes.resize(size_t(file.gcount()));
    return bytes;
}

/// The kind of a file: the library's probes, then the header bytes to tell the kinds apart.
KIND container_kind(const std::string& name)
{
    if (!nuv_is_file_compressed(name.c_str()))
        return KIND_PLAIN;
    const std::vector<unsigned char> head = read_bytes(name, 0, 8);
    if (head.size() == 8 && std::memcmp(head.data(), NUV_ZSTREAM_ZIP_HEADER, 8) == 0)
        return KIND_COMPRESSED;
    if (head.size() == 8 && std::memcmp(head.data(), NUV_ZSTREAM_ZIP_CRYPT_HEADER, 8) == 0)
        return KIND_COMPRESSED_ENCRYPTED;
    return nuv_is_file_encrypted(name.c_str()) ? KIND_ENCRYPTED : KIND_GZIP;
}

/// The Adler-32 that ends the zlib stream of a compressed container, from the file's last
/// bytes (deciphered with `key` for the encrypted kind). The reading stream ends a cut zlib
/// stream like a complete one, so comparing this with the data is what shows a cut file.
/// False when the file is too short or its last block does not decipher.
bool stored_adler32(const std::string& name, const std::vector<unsigned char>& key, uint32_t* adler)
{
    const uint64_t body = file_size(name) - 8;
    const size_t tail_length = key.empty() ? 4 : size_t(std::min<uint64_t>(body - body % 16, 32));
    if (body < 4 || tail_length < 4)
        return false;
    std::vector<unsigned char> tail = read_bytes(name, -int64_t(tail_length), tail_length);
    if (tail.size() != tail_length)
        return false;
    if (!key.empty()) {
        const NUV_AES::KEY_LENGTH length = key.size() == 16   ? NUV_AES::KEY_128
                                           : key.size() == 24 ? NUV_AES::KEY_192
                                                              : NUV_AES::KEY_256;
        NUV_AES aes;
        aes.init(NUV_AES::ECB, NUV_AES::DECRYPT, key.data(), length, nullptr);
        const int plain = aes.pad_decrypt(tail.data(), int(tail.size()), tail.data());
        if (plain < 4)
            return false;
        tail.resize(size_t(plain));
    }
    const unsigned char* p = tail.data() + tail.size() - 4;
    *adler = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    return true;
}

/// Whether the file's first gzip member ends where the file ends. The reading stream
/// decodes the first member only, so this inflates the member once more to find its end.
bool gzip_member_fills_file(const std::string& name)
{
    std::tenvik_ifstream file;
    file.open(name.c_str(), std::ios_base::binary);
    z_stream zip = {};
    if (!file.is_open() || ::inflateInit2(&zip, 16 + MAX_WBITS) != Z_OK)
        return false;
    std::vector<char> in(1 << 16), out(1 << 16);
    int status = Z_OK;
    while (status == Z_OK) {
        if (zip.avail_in == 0) {
            file.read(in.data(), std::streamsize(in.size()));
            zip.next_in = reinterpret_cast<Bytef*>(in.data());
            zip.avail_in = uInt(file.gcount());
            if (zip.avail_in == 0)
                break;
        }
        zip.next_out = reinterpret_cast<Bytef*>(out.data());
        zip.avail_out = uInt(out.size());
        status = ::inflate(&zip, Z_NO_FLUSH);
    }
    const bool ends_here = status == Z_STREAM_END && zip.avail_in == 0 && file.peek() == EOF;
    ::inflateEnd(&zip);
    return ends_here;
}

/// Check values of decoded data.
struct CHECKSUMS {
    uint64_t size = 0;
    uLong crc = ::crc32(0, nullptr, 0);
    uLong adler = ::adler32(0, nullptr, 0);
};

/// Why the decoded data of a container of `kind` is incomplete or wrong, or an empty text
/// when its end checks out: the closed stream's last_error(), then the gzip trailer or the
/// zlib stream's Adler-32 against the data, and that a gzip file holds just one member.
/// `key` serves the compressed-and-encrypted kind only (the reading stream ignores a key
/// given for an unencrypted file).
std::string decode_problem(const std::string& name, KIND kind, const std::vector<unsigned char>& key,
                           NUV_ZIFSTREAM& input, const CHECKSUMS& sums)
{
    const NUV_ZSTREAM_ERROR_ENUM error = input.last_error();
    if (error != NUV_ZSTREAM_OK)
        return error_text(error);
    if (kind == KIND_GZIP) {
        if (input.get_gzip_crc() != sums.crc || input.get_gzip_data_size() != uint32_t(sums.size))
            return "the gzip trailer does not match the data (damaged or cut file)";
        if (!gzip_member_fills_file(name))
            return "the file goes on after the first gzip member (several members or trailing data are "
                   "not supported)";
    }
    const std::vector<unsigned char> no_key;
    uint32_t adler = 0;
    if ((kind == KIND_COMPRESSED || kind == KIND_COMPRESSED_ENCRYPTED) &&
        (!stored_adler32(name, kind == KIND_COMPRESSED_ENCRYPTED ? key : no_key, &adler) ||
         adler != sums.adler))
        return "the data ends early or its Adler-32 does not match (damaged or cut file)";
    return std::string();
}

/// Copies `input` to `output` (null: nowhere) in 1 MiB pieces with a progress line, summing
/// up what passed in `*sums` (size, CRC-32, Adler-32). False on a stream reporting badbit.
bool copy_with_progress(std::istream& input, std::ostream* output, PROGRESS& progress, CHECKSUMS* sums)
{
    std::vector<char> buffer(1 << 20);
    while (input.good() && (!output || output->good())) {
        input.read(buffer.data(), std::streamsize(buffer.size()));
        const std::streamsize count = input.gcount();
        if (output)
            output->write(buffer.data(), count);
        const Bytef* bytes = reinterpret_cast<const Bytef*>(buffer.data());
        sums->crc = ::crc32(sums->crc, bytes, uInt(count));
        sums->adler = ::adler32(sums->adler, bytes, uInt(count));
        sums->size += uint64_t(count);
        progress.update(sums->size);
    }
    return !input.bad() && !(output && output->bad());
}

/// Packs `in` into `out` through NUV_ZOFSTREAM, which unlike the whole-file function takes
/// every key length, a deflate level and gzip framing, and lets the copy show progress.
/// With the default level and a 16-byte key or none it writes the same file as
/// nuv_encrypt_and_compress_file.
bool pack_file(const std::string& in, const std::string& out, const KEY& key, bool compress, int level,
               bool gzip, PROGRESS& progress)
{
    std::tenvik_ifstream input;
    input.open(in.c_str(), std::ios_base::binary);
    if (!input.is_open())
        return false;
    NUV_ZOFSTREAM output;
    output.open(out.c_str(), std::ios_base::binary, compress, key.empty() ? nullptr : key.data(),
                int(key.size()), level, gzip);
    if (!output.good())
        return false;
    CHECKSUMS sums;
    bool ok = copy_with_progress(input, &output, progress, &sums);
    output.close(false);
    return ok && !output.bad() && output.last_error() == NUV_ZSTREAM_OK;
}

int command_pack(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error = parse_args(args, {"--store", "--encrypt-only", "--gzip"},
                                   {"--password", "--key-hex", "--level"}, &parsed);
    if (error.empty() && parsed.positional.size() != 2)
        error = "needs IN and OUT";
    KEY key;
    if (error.empty())
        error = resolve_key(parsed, &key);
    const bool store = parsed.flags.count("--store") != 0;
    const bool encrypt_only = parsed.flags.count("--encrypt-only") != 0;
    const bool gzip = parsed.flags.count("--gzip") != 0;
    int level = Z_DEFAULT_COMPRESSION;
    const auto level_text = parsed.values.find("--level");
    if (level_text != parsed.values.end()) {
        const std::string& text = level_text->second;
        if (text.size() != 1 || text[0] < '0' || text[0] > '9')
            error = "--level needs a number from 0 to 9";
        else
            level = text[0] - '0';
    }
    if (store && level_text != parsed.values.end() && level != 0)
        error = "--store and --level " + level_text->second + " contradict each other";
    if (store)
        level = 0;
    if (encrypt_only && key.empty())
        error = "--encrypt-only needs --password or --key-hex";
    if (encrypt_only && (store || gzip || level_text != parsed.values.end()))
        error = "--encrypt-only does not compress: drop --store, --gzip and --level";
    if (gzip && !key.empty())
        error = "a gzip member cannot be encrypted: drop --gzip or the password/key";
    if (!error.empty())
        return usage_error("pack: " + error);

    const std::string& in = parsed.positional[0];
    const std::string& out = parsed.positional[1];
    const int status = check_files(in, out);
    if (status != EXIT_OK)
        return status;

    const OUTPUT_FILE output(out);
    arm_abort_cleanup(output, out);
    PROGRESS progress("packing", in, file_size(in), true);
    const bool ok = pack_file(in, out, key, !encrypt_only, level, gzip, progress);
    std::signal(SIGABRT, SIG_DFL);
    if (!ok) {
        const int saved = errno;
        file_error(out, std::string("could not write the packed file") +
                            (saved ? ": " + std::string(std::strerror(saved)) : "") + output.discard());
        return EXIT_FILE;
    }
    return EXIT_OK;
}

int command_unpack(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error = parse_args(args, {}, {"--password", "--key-hex"}, &parsed);
    if (error.empty() && parsed.positional.size() != 2)
        error = "needs IN and OUT";
    KEY key;
    if (error.empty())
        error = resolve_key(parsed, &key);
    if (!error.empty())
        return usage_error("unpack: " + error);
    const std::string& in = parsed.positional[0];
    const std::string& out = parsed.positional[1];
    const int status = check_files(in, out);
    if (status != EXIT_OK)
        return status;

    const KIND kind = container_kind(in);
    if (kind == KIND_PLAIN) {
        file_error(in, "not a packed file (no container header); nothing to unpack");
        return EXIT_DECODE;
    }
    NUV_ZIFSTREAM input;
    input.open(in.c_str(), std::ios_base::binary, key.empty() ? nullptr : key.data(),
               key.empty() ? 16 : int(key.size()));
    if (input.last_error() == NUV_ZSTREAM_NO_KEY) {
        file_error(in, "the file is encrypted: give the --password or --key-hex it was packed with");
        return EXIT_USAGE;
    }
    if (!input.is_open()) {
        file_error(in, std::strerror(errno ? errno : EIO));
        return EXIT_FILE;
    }
    const OUTPUT_FILE output_file(out);
    std::tenvik_ofstream output;
    output.open(out.c_str(), std::ios_base::binary);
    if (!output.is_open()) {
        file_error(out, std::strerror(errno ? errno : EIO));
        return EXIT_FILE;
    }

    PROGRESS progress("unpacking", in, file_size(in), false);
    CHECKSUMS sums;
    copy_with_progress(input, &output, progress, &sums);
    const bool read_failed = input.bad();
    input.close();
    output.close(); // a failed write or close leaves failbit
    if (output.fail() || read_failed) {
        file_error(read_failed ? in : out,
                   std::string(read_failed ? "read error" : "write error") + output_file.discard());
        return EXIT_FILE;
    }
    const std::string problem = decode_problem(in, kind, key, input, sums);
    if (!problem.empty()) {
        file_error(in, "the data did not decode: " + problem + "; wrong password or key, or a damaged file" +
                           output_file.discard());
        return EXIT_DECODE;
    }
    return EXIT_OK;
}

/// The optional fields of a gzip header: its length and the member's name.
struct GZIP_HEADER {
    size_t length = 0;
    std::string name;
    bool complete = false;
};

GZIP_HEADER parse_gzip_header(const std::vector<unsigned char>& bytes)
{
    GZIP_HEADER header;
    if (bytes.size() < 10)
        return header;
    const unsigned flags = bytes[3];
    size_t at = 10;
    if (flags & 4) {
        if (at + 2 > bytes.size())
            return header;
        at += 2 + (bytes[at] | (size_t(bytes[at + 1]) << 8));
    }
    for (unsigned field : {8u, 16u}) {
        if (!(flags & field))
            continue;
        const size_t start = at;
        while (at < bytes.size() && bytes[at] != 0)
            ++at;
        if (at >= bytes.size())
            return header;
        if (field == 8)
            header.name.assign(bytes.begin() + std::ptrdiff_t(start), bytes.begin() + std::ptrdiff_t(at));
        ++at;
    }
    if (flags & 2)
        at += 2;
    header.length = at;
    header.complete = at <= bytes.size();
    return header;
}

uint32_t little_endian_32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

std::string hex_bytes(const unsigned char* bytes, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? " %02x" : "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

/// Prints the description of one file; returns its exit code.
int describe(const std::string& name)
{
    const std::string reason = unreadable_reason(name);
    if (!reason.empty()) {
        file_error(name, reason);
        return EXIT_FILE;
    }
    const uint64_t size = file_size(name);
    const KIND kind = container_kind(name);
    std::printf("%s: %s\n", name.c_str(), s_kind_names[kind]);
    if (kind == KIND_PLAIN) {
        std::printf("  size      %llu bytes\n", (unsigned long long)size);
        return EXIT_OK;
    }
    const std::vector<unsigned char> head = read_bytes(name, 0, 65536 + 1024);
    GZIP_HEADER gzip_header;
    size_t header_length = 8;
    if (kind == KIND_GZIP) {
        gzip_header = parse_gzip_header(head);
        header_length = gzip_header.complete ? gzip_header.length : head.size();
    }
    const uint64_t trailer_length = kind == KIND_GZIP ? 8 : 0;
    const uint64_t body = size > header_length + trailer_length ? size - header_length - trailer_length : 0;
    std::printf("  header    %s%s\n", hex_bytes(head.data(), std::min<size_t>(header_length, 10)).c_str(),
                header_length > 10 ? " ..." : "");
    std::printf("  size      %llu bytes: %zu header, %llu body%s\n", (unsigned long long)size, header_length,
                (unsigned long long)body, trailer_length ? ", 8 trailer" : "");
    if (kind == KIND_GZIP) {
        const std::vector<unsigned char> tail = read_bytes(name, -8, 8);
        std::printf("  name      %s\n", gzip_header.name.empty() ? "(none)" : gzip_header.name.c_str());
        if (size >= 18 && tail.size() == 8)
            std::printf("  trailer   CRC-32 %08x, size %u\n", little_endian_32(tail.data()),
                        little_endian_32(tail.data() + 4));
    }
    if (kind == KIND_COMPRESSED_ENCRYPTED || kind == KIND_ENCRYPTED) {
        std::printf("  payload   unknown without the key (%llu cipher blocks)\n",
                    (unsigned long long)(body / 16));
        return EXIT_OK;
    }
    // Unencrypted kinds are decoded to count and check the payload.
    NUV_ZIFSTREAM input(name.c_str());
    PROGRESS progress("reading", name, size, false);
    CHECKSUMS sums;
    copy_with_progress(input, nullptr, progress, &sums);
    input.close();
    std::printf("  payload   %llu bytes", (unsigned long long)sums.size);
    if (sums.size)
        std::printf(" (packed to %.1f%%)", 100.0 * double(size) / double(sums.size));
    std::printf("\n");
    const std::string problem = decode_problem(name, kind, std::vector<unsigned char>(), input, sums);
    std::printf("  check     %s\n", problem.empty() ? "ok" : ("DAMAGED: " + problem).c_str());
    return problem.empty() ? EXIT_OK : EXIT_DECODE;
}

int command_info(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error = parse_args(args, {}, {}, &parsed);
    if (error.empty() && parsed.positional.empty())
        error = "needs at least one FILE";
    if (!error.empty())
        return usage_error("info: " + error);
    int status = EXIT_OK;
    for (const std::string& name : parsed.positional) {
        const int one = describe(name);
        if (one > status)
            status = one;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage_error("missing command");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(s_usage, stdout);
        return EXIT_OK;
    }
    if (command == "pack")
        return command_pack(args);
    if (command == "unpack")
        return command_unpack(args);
    if (command == "info")
        return command_info(args);
    if (command == "md5")
        return command_md5(args);
    return usage_error("unknown command '" + command + "'");
}
