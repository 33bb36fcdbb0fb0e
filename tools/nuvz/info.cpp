// nuvz info: the kind, header, sizes and check of each file.
#include "nuvz.h"

#include <nuv/nuv_zstream.h>

#include <algorithm>
#include <cstdio>
#include <streambuf>

namespace nuvz {
namespace {

const char* const s_kind_names[] = {"plain file, not packed", "compressed", "compressed and encrypted",
                                    "encrypted", "gzip member"};

/// An output stream that only counts, for decoding a payload to check it.
class DISCARD : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

/// The first `count` bytes of a file as hex pairs.
std::string head_in_hex(const std::string& name, size_t count)
{
    std::tenvik_ifstream file;
    file.open(name.c_str(), std::ios_base::binary);
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        const int byte = file.get();
        if (byte == std::char_traits<char>::eof())
            break;
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? " %02x" : "%02x", byte);
        text += pair;
    }
    return text;
}

/// Prints the header, size and (gzip) name lines of a container.
void print_layout(const std::string& name, NUV_ZIFSTREAM& input, uint64_t size)
{
    const uint64_t header = uint64_t(input.header_length());
    const uint64_t trailer = input.kind() == NUV_ZSTREAM_KIND_GZIP ? 8 : 0;
    const uint64_t body = size > header + trailer ? size - header - trailer : 0;
    std::printf("  header    %s%s\n", head_in_hex(name, std::min<uint64_t>(header, 10)).c_str(),
                header > 10 ? " ..." : "");
    std::printf("  size      %llu bytes: %llu header, %llu body%s\n", (unsigned long long)size,
                (unsigned long long)header, (unsigned long long)body, trailer ? ", 8 trailer" : "");
    if (input.kind() == NUV_ZSTREAM_KIND_GZIP)
        std::printf("  name      %s\n", input.gzip_name().empty() ? "(none)" : input.gzip_name().c_str());
    if (input.last_error() == NUV_ZSTREAM_NO_KEY)
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
