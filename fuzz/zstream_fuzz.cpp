// The first input byte chooses the mode. Bit 7 clear: bits 0-1 choose the key (none, or a 16-,
// 24- or 32-byte key, which a sealed file takes as its password or raw key) and NUV_ZIFSTREAM
// reads the rest of the input as a file to its end: no crash, no hang, a defined
// last_error(). Bit 7 set: NUV_ZOFSTREAM writes the rest as the container kind of bits 2-4
// (0 plain, 1 compressed, 2 both, 3 encrypted, 4-5 gzip, 6 sealed with a password, 7 sealed
// with the raw key), in pieces and with flushes chosen by the next two bytes, and
// NUV_ZIFSTREAM must read it back unchanged, its end verified. The fuzz build of the library
// derives every sealed file's key at one cheap Argon2id cost, the one written here.
// With NUV_FUZZ_DIFFERENTIAL=1 in the environment, every file is read through both inflate
// engines (ISA-L and zlib), which must deliver the same bytes, error and end.
#include <nuv/nuv_zstream.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <unistd.h>

namespace {

// One temporary file per fuzzing process, rewritten for every input.
const std::string& temp_file()
{
    static const std::string name = [] {
        char path[] = "/tmp/nuv_zstream_fuzz_XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0 || close(fd) != 0)
            abort();
        return std::string(path);
    }();
    return name;
}

const unsigned char* const KEY = reinterpret_cast<const unsigned char*>("0123456789abcdef0123456789abcdef");

// The kinds a round trip writes, from bits 2-4 of its first byte; 5 is gzip as well.
enum ROUND_TRIP_KIND { PLAIN, COMPRESSED, BOTH, ENCRYPTED, GZIP, SEALED_PASSWORD = 6, SEALED_KEY = 7 };

// Opens `out` on the temporary file as `kind`, with the first `key_length` bytes of KEY as
// key or password (the raw key is all of KEY).
void open_writer(NUV_ZOFSTREAM& out, int kind, int key_length, int level)
{
    if (kind == SEALED_PASSWORD || kind == SEALED_KEY) {
        const std::string password(reinterpret_cast<const char*>(KEY), size_t(key_length));
        NUV_SEAL_OPTIONS seal;
        seal.password = kind == SEALED_PASSWORD ? password.c_str() : nullptr;
        seal.key = kind == SEALED_KEY ? KEY : nullptr;
        seal.passes = 1;
        seal.memory_kib = 8;
        seal.lanes = 1;
        seal.level = level;
        out.open(temp_file().c_str(), seal);
        return;
    }
    const bool compress = kind == COMPRESSED || kind == BOTH || kind >= GZIP,
               crypt = kind == BOTH || kind == ENCRYPTED;
    out.open(temp_file().c_str(), std::ios_base::binary, compress, crypt ? KEY : nullptr, key_length, level,
             kind >= GZIP);
}

int round_trip(const uint8_t* data, size_t size)
{
    const int kind = (data[0] >> 2) & 7;
    const int key_length = kind == SEALED_KEY ? 32 : 16 + (8 * ((data[0] >> 5) & 3)) % 24; // 16, 24, 32, 16
    const size_t piece = size > 1 ? 1 + data[1] * 97 : 4096, flush_every = size > 2 ? data[2] % 8 : 0;
    const size_t length = size - std::min<size_t>(size, 3);
    const uint8_t* payload = data + size - length;
    {
        NUV_ZOFSTREAM out;
        open_writer(out, kind, key_length, (data[0] & 2) ? 1 : -1);
        for (size_t pos = 0, count = 0; pos < length; pos += piece) {
            out.write(reinterpret_cast<const char*>(payload + pos),
                      std::streamsize(std::min(piece, length - pos)));
            if (flush_every && ++count % flush_every == 0)
                out.flush();
        }
        if (!out.good() || out.last_error() != NUV_ZSTREAM_OK)
            abort();
    }
    NUV_ZIFSTREAM in;
    // A plain file that begins with a container header is read as that container, by design.
    if (kind == PLAIN && in.is_zstream(temp_file().c_str()))
        return 0;
    in.open(temp_file().c_str(), std::ios_base::in | std::ios_base::binary, KEY, key_length);
    std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (back.size() != length || std::memcmp(back.data(), payload, length) != 0 ||
        in.last_error() != NUV_ZSTREAM_OK || in.verified_end() != (kind != PLAIN))
        abort();
    return 0;
}

// What a reader delivers: the bytes, last_error(), verified_end(), kind, header length.
using READ = std::tuple<std::string, NUV_ZSTREAM_ERROR_ENUM, bool, NUV_ZSTREAM_KIND, int>;

// Reads the temporary file of `size` bytes through `engine` with the key `mode` chooses.
READ read_file(uint8_t mode, size_t size, NUV_INFLATE_ENGINE engine)
{
    const int key_length = 8 + 8 * (mode & 3); // 8 for no key
    NUV_ZIFSTREAM in;
    in.set_inflate_engine(engine);
    in.open(temp_file().c_str(), std::ios_base::in | std::ios_base::binary, key_length > 8 ? KEY : nullptr,
            key_length > 8 ? key_length : 16);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const NUV_ZSTREAM_ERROR_ENUM error = in.last_error();
    const bool sealed_error = error == NUV_ZSTREAM_AUTH_ERROR || error == NUV_ZSTREAM_SEAL_FORMAT_ERROR;
    if (error < NUV_ZSTREAM_OK || error > NUV_ZSTREAM_SEAL_FORMAT_ERROR ||
        (sealed_error && in.kind() != NUV_ZSTREAM_KIND_SEALED))
        abort();
    // A plain file delivers exactly its bytes and never verifies; a verified end is error-free.
    if ((in.kind() == NUV_ZSTREAM_KIND_PLAIN && (bytes.size() != size || in.verified_end())) ||
        (in.verified_end() && error != NUV_ZSTREAM_OK))
        abort();
    return {bytes, error, in.verified_end(), in.kind(), in.header_length()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 0x80)
        return round_trip(data, size);
    FILE* file = std::fopen(temp_file().c_str(), "wb");
    if (!file || (size > 1 && std::fwrite(data + 1, 1, size - 1, file) != size - 1))
        abort();
    std::fclose(file);
    static const bool s_differential = std::getenv("NUV_FUZZ_DIFFERENTIAL") != nullptr;
    const READ fastest = read_file(data[0], size - 1, NUV_INFLATE_FASTEST);
    if (s_differential && read_file(data[0], size - 1, NUV_INFLATE_ZLIB) != fastest)
        abort();
    return 0;
}
