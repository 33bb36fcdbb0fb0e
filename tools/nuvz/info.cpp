// nuvz info: the kind, header, sizes and check of each file.
#include "nuvz.h"

#include <nuv/nuv_zstream.h>

#include <algorithm>
#include <cstdio>
#include <streambuf>

namespace nuvz {
namespace {

const char* const s_kind_names[] = {
    "plain file, not packed", "compressed", "compressed and encrypted", "encrypted", "gzip member", "sealed"};

/// An output stream that only counts, for decoding a payload to check it.
class DISCARD : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

/// `bytes` as hex pairs, separated by `separator`.
std::string in_hex(const std::string& bytes, const char* separator)
{
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[i]));
        text += (i ? separator : "") + std::string(pair);
    }
    return text;
}

/// Offsets of the fields of a sealed file's first NUV_SEALED_PREFIX_LENGTH bytes (the
/// layout is in nuv_zstream.h).
enum SEALED_FIELD {
    AT_VERSION = 8,
    AT_KDF = 9,
    AT_AEAD = 10,
    AT_PASSES = 12,
    AT_MEMORY = 16,
    AT_LANES = 20,
    AT_SALT = 24,
    AT_CHUNK_SIZE = 40
};
/// Bytes of the salt, and of the authentication tag after each chunk.
const size_t SEALED_SALT_LENGTH = 16;
const uint64_t SEALED_TAG_LENGTH = 16;

/// The byte at `offset` of `bytes`.
unsigned byte_at(const std::string& bytes, size_t offset)
{
    return static_cast<unsigned char>(bytes[offset]);
}

/// The little-endian 32-bit number at `offset` of `bytes`.
uint32_t load_le32(const std::string& bytes, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 4; i-- > 0;)
        value = value << 8 | byte_at(bytes, offset + i);
    return value;
}

/// `kib` KiB, in MiB when it is a whole number of them.
std::string memory_text(uint32_t kib)
{
    std::string text;
    string_printf(&text, kib % 1024 ? "%u KiB" : "%u MiB", kib % 1024 ? kib : kib / 1024);
    return text;
}

/// Prints the parameters of a sealed file from `prefix`, its first NUV_SEALED_PREFIX_LENGTH
/// bytes, and how many chunks its `body` bytes hold; returns the exit code. None of them is
/// secret: they are what a reader needs besides the password or key. `error` is the
/// reader's answer to the file opened without a key: NUV_ZSTREAM_NO_KEY when it could read
/// the file with one.
int print_sealed(const std::string& prefix, uint64_t body, NUV_ZSTREAM_ERROR_ENUM error)
{
    if (prefix.size() < size_t(NUV_SEALED_PREFIX_LENGTH)) {
        std::printf("  check     DAMAGED: the file ends inside its parameters\n");
        return EXIT_DECODE;
    }
    const unsigned kdf = byte_at(prefix, AT_KDF);
    std::printf("  format    version %u\n", byte_at(prefix, AT_VERSION));
    if (kdf == 1)
        std::printf("  key       Argon2id of a password: t=%u passes, m=%s, p=%u lanes\n",
                    load_le32(prefix, AT_PASSES), memory_text(load_le32(prefix, AT_MEMORY)).c_str(),
                    load_le32(prefix, AT_LANES));
    else if (kdf == 2)
        std::printf("  key       HKDF-SHA-256 of a 32-byte key\n");
    else
        std::printf("  key       unknown derivation %u\n", kdf);
    std::printf("  salt      %s\n", in_hex(prefix.substr(AT_SALT, SEALED_SALT_LENGTH), "").c_str());
    const uint32_t chunk = load_le32(prefix, AT_CHUNK_SIZE);
    const std::string aead = byte_at(prefix, AT_AEAD) == 1 ? "AES-256-GCM" : "unknown cipher";
    std::printf("  cipher    %s, chunks of %u bytes of zlib stream\n", aead.c_str(), chunk);
    if (error != NUV_ZSTREAM_NO_KEY) {
        std::printf("  check     REFUSED: a version, algorithm or cost this library does not read\n");
        return EXIT_DECODE;
    }
    const uint64_t sealed_chunk = chunk + SEALED_TAG_LENGTH;
    std::printf("  payload   unknown without the key (%llu chunks)\n",
                (unsigned long long)((body + sealed_chunk - 1) / sealed_chunk));
    return EXIT_OK;
}

/// Prints the header, size and (gzip) name lines of a container.
void print_layout(const std::string& name, NUV_ZIFSTREAM& input, uint64_t size)
{
    const bool sealed = input.kind() == NUV_ZSTREAM_KIND_SEALED;
    const uint64_t header =
        sealed ? std::min<uint64_t>(size, NUV_SEALED_PREFIX_LENGTH) : input.header_length();
    const uint64_t trailer = input.kind() == NUV_ZSTREAM_KIND_GZIP ? 8 : 0;
    const uint64_t body = size > header + trailer ? size - header - trailer : 0;
    const std::string head = read_head(name, size_t(std::min<uint64_t>(header, 10)));
    std::printf("  header    %s%s\n", in_hex(head, " ").c_str(), header > 10 ? " ..." : "");
    std::printf("  size      %llu bytes: %llu header, %llu body%s\n", (unsigned long long)size,
                (unsigned long long)header, (unsigned long long)body, trailer ? ", 8 trailer" : "");
    if (input.kind() == NUV_ZSTREAM_KIND_GZIP)
        std::printf("  name      %s\n", input.gzip_name().empty() ? "(none)" : input.gzip_name().c_str());
    if (input.last_error() == NUV_ZSTREAM_NO_KEY && !sealed)
        std::printf("  payload   unknown without the key (%llu cipher blocks)\n",
                    (unsigned long long)(body / 16));
}

/// Decodes an unencrypted container to count and check its payload; returns the exit code.
int print_check(const std::string& name, NUV_ZIFSTREAM& input, uint64_t size)
{
    DISCARD discard;
    std::ostream sink(&discard);
    PROGRESS progress("reading", name, size, false);
    uint64_t payload = 0;
    nuv_copy_stream(input, sink, [&](uint64_t done) {
        payload = done;
        progress.update(done);
    });
    input.close();
    std::printf("  payload   %llu bytes", (unsigned long long)payload);
    if (payload)
        std::printf(" (packed to %.1f%%)", 100.0 * double(size) / double(payload));
    std::printf("\n");
    const bool ok = input.last_error() == NUV_ZSTREAM_OK && input.verified_end();
    if (ok && input.is_gzip())
        std::printf("  trailer   CRC-32 %08lx, size %lu\n", input.get_gzip_crc(), input.get_gzip_data_size());
    const char* problem = input.last_error() != NUV_ZSTREAM_OK
                              ? nuv_zstream_error_text(input.last_error())
                              : "the end does not check out (cut or damaged file, "
                                "or data after the end)";
    std::printf("  check     %s%s\n", ok ? "ok" : "DAMAGED: ", ok ? "" : problem);
    return ok ? EXIT_OK : EXIT_DECODE;
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
    NUV_ZIFSTREAM input;
    input.open(name.c_str(), std::ios_base::binary, nullptr, NUV_PASSWORD_KEY_LENGTH);
    std::printf("%s: %s\n", name.c_str(), s_kind_names[input.kind()]);
    if (input.kind() == NUV_ZSTREAM_KIND_PLAIN) {
        std::printf("  size      %llu bytes\n", (unsigned long long)size);
        return EXIT_OK;
    }
    print_layout(name, input, size);
    if (input.kind() == NUV_ZSTREAM_KIND_SEALED) {
        const uint64_t body = size > NUV_SEALED_PREFIX_LENGTH ? size - NUV_SEALED_PREFIX_LENGTH : 0;
        return print_sealed(read_head(name, NUV_SEALED_PREFIX_LENGTH), body, input.last_error());
    }
    return input.last_error() == NUV_ZSTREAM_NO_KEY ? EXIT_OK : print_check(name, input, size);
}

} // namespace

int command_info(const std::vector<std::string>& args)
{
    ARGS parsed;
    std::string error = parse_args(args, {}, {}, &parsed);
    if (error.empty() && parsed.positional.empty())
        error = "needs at least one FILE";
    if (!error.empty())
        return usage_error("info: " + error);
    int status = EXIT_OK;
    for (const std::string& name : parsed.positional)
        status = std::max(status, describe(name));
    return status;
}

} // namespace nuvz
