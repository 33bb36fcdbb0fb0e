// Writes the sealed seeds of the zstream_fuzz corpus into DIRECTORY with this build's library:
//   sealed_seeds DIRECTORY
// Reading seeds are zstream_fuzz's key byte followed by a sealed file: with a password of 16
// bytes, with the raw key, and with a 24-byte password over two chunks. Round-trip seeds are
// a mode byte, the piece and flush bytes and a text. Salt and nonce prefix are random, so
// every run writes other bytes. The Argon2id cost is the one a fuzz build always uses, and
// the files read alike in any build.
#include <nuv/nuv_zstream.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char* const KEY = "0123456789abcdef0123456789abcdef";
const std::string TEXT = "a sealed seed: one short line of text for the fuzzer\n";

bool write_bytes(const std::string& name, const std::string& bytes)
{
    std::ofstream file(name, std::ios_base::binary);
    file << bytes;
    return file.close(), !file.fail();
}

// Seals `text` with `seal` and writes `key_byte` followed by the sealed file as `name`.
bool write_sealed(const std::string& name, char key_byte, const NUV_SEAL_OPTIONS& seal,
                  const std::string& text)
{
    const std::string sealed_name = name + ".sealed";
    {
        NUV_ZOFSTREAM out;
        out.open(sealed_name.c_str(), seal);
        out << text;
        out.close();
        if (out.fail() || out.last_error() != NUV_ZSTREAM_OK)
            return false;
    }
    std::ifstream in(sealed_name, std::ios_base::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::remove(sealed_name.c_str());
    return write_bytes(name, key_byte + file);
}

NUV_SEAL_OPTIONS cheap(const char* password, const unsigned char* key, int level)
{
    NUV_SEAL_OPTIONS seal;
    seal.password = password;
    seal.key = key;
    seal.passes = 1;
    seal.memory_kib = 8;
    seal.lanes = 1;
    seal.level = level;
    return seal;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sealed_seeds DIRECTORY\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    const std::string password_16(KEY, 16), password_24(KEY, 24);
    const auto* raw_key = reinterpret_cast<const unsigned char*>(KEY);
    // Stored blocks of more than a chunk: the zlib stream fills one chunk and part of another.
    std::string long_text;
    while (long_text.size() <= size_t(NUV_SEALED_CHUNK_SIZE))
        long_text += TEXT;
    const bool written =
        write_sealed(dir + "sealed_password", 1, cheap(password_16.c_str(), nullptr, -1), TEXT) &&
        write_sealed(dir + "sealed_key", 3, cheap(nullptr, raw_key, -1), TEXT) &&
        write_sealed(dir + "sealed_password_two_chunks", 2, cheap(password_24.c_str(), nullptr, 0),
                     long_text) &&
        // Kind 6 (password of 16 bytes) at the default level; kind 7 (raw key) at level 1.
        write_bytes(dir + "roundtrip_sealed_password", std::string("\x98\x05\x03", 3) + TEXT) &&
        write_bytes(dir + "roundtrip_sealed_key", std::string("\x9e\x00\x00", 3) + TEXT);
    if (!written)
        std::fprintf(stderr, "sealed_seeds: could not write the seeds into %s\n", argv[1]);
    return written ? 0 : 1;
}
