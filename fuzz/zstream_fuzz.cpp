// Feeds arbitrary bytes as a file to NUV_ZIFSTREAM and reads it to the end.
// The first input byte chooses the mode. Bit 7 clear: bits 0-1 choose the key (none, or a
// 16-, 24- or 32-byte key) and the rest of the input is the file; the stream must end (no
// crash, no hang) and report a defined last_error(). Bit 7 set: the rest is a payload that
// NUV_ZOFSTREAM writes as the container kind of bits 2-4, in pieces and with flushes chosen
// by the next two bytes, and NUV_ZIFSTREAM must read back unchanged.
#include <nuv/nuv_zstream.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

// One temporary file per fuzzing process, rewritten for every input.
const std::string& temp_file()
{
    static const std::string name = [] {
        char path[] = "/tmp/nuv_zstream_fuzz_XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0)
            abort();
        close(fd);
        return std::string(path);
    }();
    return name;
}

const unsigned char KEY[32] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a,
                               0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15,
                               0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};

// Writes the payload as one container kind and checks that it reads back unchanged.
void round_trip(const uint8_t* data, size_t size)
{
    const int kind = (data[0] >> 2) & 7; // 0 plain, 1 compressed, 2 both, 3 encrypted, 4+ gzip
    static const int key_lengths[4] = {16, 24, 32, 16};
    const int key_length = key_lengths[(data[0] >> 5) & 3];
    const bool compress = kind == 1 || kind == 2 || kind >= 4;
    const bool crypt = kind == 2 || kind == 3;
    const size_t piece = size > 1 ? 1 + data[1] * 97 : 4096;
    const size_t flush_every = size > 2 ? data[2] % 8 : 0;
    const size_t skip = std::min<size_t>(size, 3);
    const uint8_t* payload = data + skip;
    const size_t length = size - skip;
    {
        NUV_ZOFSTREAM out;
        out.open(temp_file().c_str(), std::ios_base::binary, compress, crypt ? KEY : nullptr, key_length,
                 (data[0] & 2) ? 1 : -1, kind >= 4);
        size_t count = 0;
        for (size_t pos = 0; pos < length; pos += piece) {
            out.write(reinterpret_cast<const char*>(payload + pos),
                      static_cast<std::streamsize>(std::min(piece, length - pos)));
            if (flush_every && ++count % flush_every == 0)
                out.flush();
        }
        if (!out.good() || out.last_error() != NUV_ZSTREAM_OK)
            abort();
    }
    NUV_ZIFSTREAM in;
    // A plain file that begins with a container header is read as that container, by design.
    if (kind == 0 && in.is_zstream(temp_file().c_str()))
        return;
    in.open(temp_file().c_str(), std::ios_base::in | std::ios_base::binary, KEY, key_length);
    std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (back.size() != length || std::memcmp(back.data(), payload, length) != 0 ||
        in.last_error() != NUV_ZSTREAM_OK)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 0x80) {
        round_trip(data, size);
        return 0;
    }
    static const int key_lengths[4] = {0, 16, 24, 32};
    const int key_length = key_lengths[data[0] & 3];

    FILE* file = std::fopen(temp_file().c_str(), "wb");
    if (!file)
        abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, file) != size - 1)
        abort();
    std::fclose(file);

    NUV_ZIFSTREAM in(temp_file().c_str(), std::ios_base::in | std::ios_base::binary,
                     key_length ? KEY : nullptr, key_length ? key_length : 16);
    char buffer[4096];
    size_t total = 0;
    while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0)
        total += static_cast<size_t>(in.gcount());
    const NUV_ZSTREAM_ERROR_ENUM error = in.last_error();
    if (error < NUV_ZSTREAM_OK || error > NUV_ZSTREAM_UNKNOWN_ERROR || error == 8)
        abort();
    in.close();
    // Plain and gzip bodies can never deliver more than a fixed multiple of their size;
    // a runaway reader shows up here rather than as a timeout.
    if (!in.is_gzip() && !in.is_zstream(nullptr) && total != size - 1)
        abort();
    in.is_zstream(temp_file().c_str());
    in.is_encrypted(temp_file().c_str());
    return 0;
}
