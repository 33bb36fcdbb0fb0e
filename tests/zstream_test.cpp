// Compressed and encrypted file streams: every container kind written and read back, with
// bodies checked by zlib, OpenSSL's AES-ECB and the system gzip; header bytes; gzip members
// made elsewhere; damaged, cut and wrong-key input; misuse that ends the process.
#include <nuv/nuv_zstream.h>

#include <host/host_services.h>

#include <gtest/gtest.h>

#include "test_support.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::TEMP_DIR;

namespace fs = std::filesystem;
using Bytes = std::string;

const int BIN_OUT = std::ios_base::out | std::ios_base::binary;
const int BIN_IN = std::ios_base::in | std::ios_base::binary;
const unsigned char KEY[32] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15,
                               0x88, 0x09, 0xcf, 0x4f, 0x3c, 0x76, 0x2e, 0x71, 0x60, 0xf0, 0x03,
                               0x1c, 0x2a, 0x44, 0x29, 0x71, 0x3d, 0xea, 0x7c, 0x93, 0x02};

enum Kind { PLAIN, COMPRESSED, ZIP_CRYPT, CRYPT, GZIP };
const Kind ALL_KINDS[] = {PLAIN, COMPRESSED, ZIP_CRYPT, CRYPT, GZIP};
const char* const KIND_NAMES[] = {"plain", "compressed", "zip_crypt", "crypt", "gzip"};

bool encrypted(Kind kind)
{
    return kind == ZIP_CRYPT || kind == CRYPT;
}

size_t header_size(Kind kind)
{
    return kind == PLAIN ? 0 : kind == GZIP ? 10 : 8;
}

Bytes read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes make_data(size_t size, bool compressible, unsigned seed = 7)
{
    static const char* const words[] = {"stream ", "buffer ", "deflate ", "cipher ",
                                        "block\n", "the ",    "of "};
    std::mt19937 rng(seed);
    Bytes data;
    data.reserve(size + 16);
    while (data.size() < size) {
        if (compressible)
            data += words[rng() % 7];
        else
            data += static_cast<char>(rng() & 0xFF);
    }
    data.resize(size);
    return data;
}

Bytes from_hex(std::initializer_list<int> bytes)
{
    Bytes out;
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

// Compares byte strings without printing megabytes on failure.
::testing::AssertionResult same_bytes(const Bytes& expected, const Bytes& actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    return ::testing::AssertionFailure() << "expected " << expected.size() << " bytes, got " << actual.size()
                                         << ", first difference at " << i;
}

// How the payload is handed to the stream.
enum Style { ONE_WRITE, MANY_WRITES, WITH_FLUSHES };

void open_writer(NUV_ZOFSTREAM& out, const fs::path& path, Kind kind, int key_length = 16, int level = -1)
{
    const bool compress = kind == COMPRESSED || kind == ZIP_CRYPT || kind == GZIP;
    out.open(path.c_str(), BIN_OUT, compress, encrypted(kind) ? KEY : nullptr, key_length, level,
             kind == GZIP);
}

void write_container(const fs::path& path, Kind kind, const Bytes& data, Style style = ONE_WRITE,
                     int key_length = 16)
{
    NUV_ZOFSTREAM out;
    open_writer(out, path, kind, key_length);
    ASSERT_TRUE(out.good());
    if (style == ONE_WRITE) {
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    } else {
        // Pieces of varying size, some single characters, so every drain boundary is hit.
        size_t pos = 0;
        for (size_t piece = 1; pos < data.size(); piece = piece * 3 % 70001 + 1) {
            const size_t n = std::min(piece, data.size() - pos);
            if (n == 1)
                out.put(data[pos]);
            else
                out.write(data.data() + pos, static_cast<std::streamsize>(n));
            pos += n;
            if (style == WITH_FLUSHES)
                out.flush();
        }
    }
    EXPECT_TRUE(out.good());
    EXPECT_EQ(NUV_ZSTREAM_OK, out.last_error());
    out.close();
}

// Reads `path` to its end through NUV_ZIFSTREAM in pieces of `piece` bytes.
Bytes read_container(const fs::path& path, const unsigned char* key = KEY, int key_length = 16,
                     NUV_ZSTREAM_ERROR_ENUM* error = nullptr, size_t piece = 10007)
{
    NUV_ZIFSTREAM in(path.c_str(), BIN_IN, key, key_length);
    Bytes out;
    std::vector<char> buffer(piece);
    while (in.read(buffer.data(), static_cast<std::streamsize>(piece)) || in.gcount() > 0)
        out.append(buffer.data(), static_cast<size_t>(in.gcount()));
    if (error)
        *error = in.last_error();
    return out;
}

// ---- independent oracles ----

Bytes zlib_inflate(const Bytes& body, int window_bits)
{
    z_stream zs{};
    EXPECT_EQ(Z_OK, inflateInit2(&zs, window_bits));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    zs.avail_in = static_cast<uInt>(body.size());
    Bytes out;
    char buffer[65536];
    int status = Z_OK;
    while (status == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof(buffer);
        status = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, sizeof(buffer) - zs.avail_out);
    }
    EXPECT_EQ(Z_STREAM_END, status);
    EXPECT_EQ(0u, zs.avail_in) << "bytes after the end of the zlib stream";
    inflateEnd(&zs);
    return out;
}

const EVP_CIPHER* openssl_ecb(int key_length)
{
    return key_length == 16 ? EVP_aes_128_ecb() : key_length == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
}

Bytes openssl_ecb_decrypt(const Bytes& cipher_text, int key_length = 16)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EXPECT_EQ(1, EVP_DecryptInit_ex(ctx, openssl_ecb(key_length), nullptr, KEY, nullptr));
    Bytes out(cipher_text.size() + 16, '\0');
    int n = 0, tail = 0;
    EXPECT_EQ(1, EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &n,
                                   reinterpret_cast<const unsigned char*>(cipher_text.data()),
                                   static_cast<int>(cipher_text.size())));
    EXPECT_EQ(1, EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[0]) + n, &tail))
        << "PKCS #7 padding rejected";
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

Bytes openssl_ecb_encrypt(const Bytes& plain, int key_length = 16)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, openssl_ecb(key_length), nullptr, KEY, nullptr));
    Bytes out(plain.size() + 32, '\0');
    int n = 0, tail = 0;
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &n,
                      reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[0]) + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

// Decodes a container file with the oracles alone.
Bytes oracle_decode(const fs::path& path, Kind kind, int key_length = 16)
{
    const Bytes file = read_file(path);
    const Bytes body = file.substr(header_size(kind));
    switch (kind) {
    case PLAIN:
        return file;
    case COMPRESSED:
        return zlib_inflate(body, 15);
    case ZIP_CRYPT:
        return zlib_inflate(openssl_ecb_decrypt(body, key_length), 15);
    case CRYPT:
        return openssl_ecb_decrypt(body, key_length);
    case GZIP: {
        const fs::path out = path.string() + ".gunzip";
        const std::string command = "gzip -dc < '" + path.string() + "' > '" + out.string() + "'";
        EXPECT_EQ(0, std::system(command.c_str())) << command;
        return read_file(out);
    }
    }
    return Bytes();
}

class ZstreamTest : public ::testing::Test {
protected:
    fs::path file(const std::string& name) const { return m_dir / name; }

    TEMP_DIR m_temp;
    const fs::path m_dir = m_temp.path();
};

// ---------------------------------------------------------------------------------------
// Round trips

TEST_F(ZstreamTest, EveryKindEverySizeRoundTripsAndMatchesOracles)
{
    const size_t sizes[] = {0, 1, 15, 16, 17, 32768, 32768 + 16, 524288, 524288 + 1, 2200000};
    for (Kind kind : ALL_KINDS) {
        for (bool compressible : {true, false}) {
            for (size_t size : sizes) {
                const Bytes data = make_data(size, compressible, static_cast<unsigned>(size));
                SCOPED_TRACE(std::string(KIND_NAMES[kind]) + " size " + std::to_string(size) +
                             (compressible ? " text" : " random"));
                const fs::path one = file("one");
                write_container(one, kind, data);
                EXPECT_TRUE(same_bytes(data, oracle_decode(one, kind)));
                EXPECT_TRUE(same_bytes(data, read_container(one)));
                if (size > 524289)
                    continue; // the styles below are covered by the smaller sizes
                const fs::path many = file("many"), flushed = file("flushed");
                write_container(many, kind, data, MANY_WRITES);
                write_container(flushed, kind, data, WITH_FLUSHES);
                // The division of the writes never changes the file.
                EXPECT_EQ(read_file(one), read_file(many));
                // Flushes leave a cipher body alone and add zlib sync points otherwise.
                if (kind == PLAIN || kind == CRYPT) {
                    EXPECT_EQ(read_file(one), read_file(flushed));
                }
                EXPECT_TRUE(same_bytes(data, oracle_decode(flushed, kind)));
                EXPECT_TRUE(same_bytes(data, read_container(flushed, KEY, 16, nullptr, 1 + size % 977)));
            }
        }
    }
}

TEST_F(ZstreamTest, KeySizes192And256RoundTrip)
{
    const Bytes data = make_data(70000, true);
    for (int key_length : {24, 32}) {
        for (Kind kind : {CRYPT, ZIP_CRYPT}) {
            write_container(file("k"), kind, data, ONE_WRITE, key_length);
            EXPECT_TRUE(same_bytes(data, oracle_decode(file("k"), kind, key_length)));
            EXPECT_TRUE(same_bytes(data, read_container(file("k"), KEY, key_length)));
            // The key length is part of the key: a 16-byte prefix does not read it.
            NUV_ZSTREAM_ERROR_ENUM error;
            EXPECT_NE(data, read_container(file("k"), KEY, 16, &error));
            EXPECT_NE(NUV_ZSTREAM_OK, error);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Exact bytes

TEST_F(ZstreamTest, EmptyContainersHaveExactBytes)
{
    write_container(file("c"), COMPRESSED, "");
    EXPECT_EQ(from_hex({0xAC, 0x0F, 0x01, 0, 0, 0, 0, 0, 0x78, 0x9C, 0x03, 0, 0, 0, 0, 0x01}),
              read_file(file("c")));

    write_container(file("g"), GZIP, "");
    EXPECT_EQ(from_hex({0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              read_file(file("g")));

    const Bytes pad_block = openssl_ecb_encrypt("");
    ASSERT_EQ(16u, pad_block.size());
    write_container(file("e"), CRYPT, "");
    EXPECT_EQ(from_hex({0xAE, 0x0F, 0x01, 0, 0, 0, 0, 0}) + pad_block, read_file(file("e")));

    write_container(file("ze"), ZIP_CRYPT, "");
    EXPECT_EQ(from_hex({0xAC, 0xEF, 0x01, 0, 0, 0, 0, 0}) +
                  openssl_ecb_encrypt(from_hex({0x78, 0x9C, 3, 0, 0, 0, 0, 1})),
              read_file(file("ze")));

    for (const char* name : {"c", "e", "ze", "g"}) {
        NUV_ZSTREAM_ERROR_ENUM error = NUV_ZSTREAM_UNKNOWN_ERROR;
        EXPECT_EQ("", read_container(file(name), KEY, 16, &error)) << name;
        EXPECT_EQ(NUV_ZSTREAM_OK, error) << name;
    }
}

TEST_F(ZstreamTest, CompressedAbcIsHeaderPlusZlibDefaultStream)
{
    {
        NUV_ZOFSTREAM out(file("abc").c_str(), BIN_OUT);
        out << "abc";
    }
    unsigned char expected[64];
    uLongf length = sizeof(expected);
    ASSERT_EQ(Z_OK,
              compress2(expected, &length, reinterpret_cast<const Bytef*>("abc"), 3, Z_DEFAULT_COMPRESSION));
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(NUV_ZSTREAM_ZIP_HEADER), 8) +
                  Bytes(reinterpret_cast<char*>(expected), length),
              read_file(file("abc")));
    EXPECT_EQ("abc", read_container(file("abc")));
}

TEST_F(ZstreamTest, GzipTrailerHoldsCrcAndSize)
{
    write_container(file("g"), GZIP, "abc");
    const Bytes bytes = read_file(file("g"));
    EXPECT_EQ(from_hex({0xC2, 0x41, 0x24, 0x35, 0x03, 0, 0, 0}), bytes.substr(bytes.size() - 8));

    // The reader takes the trailer after the deflate data once the member was read through.
    NUV_ZIFSTREAM in(file("g").c_str());
    EXPECT_TRUE(in.is_gzip());
    std::string text;
    in >> text;
    EXPECT_EQ("abc", text);
    EXPECT_EQ(0u, in.get_gzip_crc()); // not before close
    in.close();
    EXPECT_EQ(0x352441C2u, in.get_gzip_crc());
    EXPECT_EQ(3u, in.get_gzip_data_size());
}

TEST_F(ZstreamTest, CipherBodySizesFollowPadding)
{
    for (size_t size : {15, 16, 17, 31, 32}) {
        write_container(file("e"), CRYPT, make_data(size, true));
        EXPECT_EQ(8 + 16 * (size / 16 + 1), read_file(file("e")).size()) << size;
    }
}

TEST_F(ZstreamTest, EncryptingFlushWritesWholeBlocksOnly)
{
    NUV_ZOFSTREAM out;
    open_writer(out, file("e"), CRYPT);
    out << "0123456789abcdefghij"; // 20 bytes
    out.flush();
    EXPECT_EQ(8u + 16u, fs::file_size(file("e")));
    out.close();
    EXPECT_EQ(8u + 32u, fs::file_size(file("e")));
    EXPECT_EQ("0123456789abcdefghij", read_container(file("e")));
}

TEST_F(ZstreamTest, FlushMakesCompressedDataReadableBeforeClose)
{
    NUV_ZOFSTREAM out;
    open_writer(out, file("c"), COMPRESSED);
    out << "first line\n";
    out.flush();
    // A reader sees the flushed data although the zlib stream is not finished yet.
    NUV_ZSTREAM_ERROR_ENUM error;
    EXPECT_EQ("first line\n", read_container(file("c"), nullptr, 16, &error));
    EXPECT_EQ(NUV_ZSTREAM_OK, error);
    out.close();
}

TEST_F(ZstreamTest, ManyFlushesThenMoreThanAPutAreaOfCompressibleData)
{
    Bytes data;
    {
        NUV_ZOFSTREAM out;
        open_writer(out, file("zc"), ZIP_CRYPT);
        for (int i = 0; i < 5; ++i) {
            out << "line " << i << NUV_ZOFSTREAM::endl;
            data += "line " + std::to_string(i) + "\n";
            out.flush();
            out.flush();
        }
        const Bytes big(700000, 'z');
        out << big;
        data += big;
    }
    EXPECT_LT(fs::file_size(file("zc")), 32768u);
    EXPECT_TRUE(same_bytes(data, read_container(file("zc"))));
    EXPECT_TRUE(same_bytes(data, oracle_decode(file("zc"), ZIP_CRYPT)));
}

TEST_F(ZstreamTest, PieceOfEmptyBlocksDoesNotEndTheStream)
{
    // A zlib stream whose first 32 KiB hold only empty stored blocks (sync points with no
    // data) must still deliver what follows them.
    Bytes body = from_hex({0x78, 0x01});
    for (int i = 0; i < 10000; ++i)
        body += from_hex({0x00, 0x00, 0x00, 0xFF, 0xFF});
    body += from_hex({0x01, 0x05, 0x00, 0xFA, 0xFF}) + "hello"; // final stored block
    const uLong adler = adler32(1, reinterpret_cast<const Bytef*>("hello"), 5);
    body +=
        from_hex({int(adler >> 24), int((adler >> 16) & 0xFF), int((adler >> 8) & 0xFF), int(adler & 0xFF)});
    ASSERT_EQ("hello", zlib_inflate(body, 15));
    write_file(file("c"), Bytes(reinterpret_cast<const char*>(NUV_ZSTREAM_ZIP_HEADER), 8) + body);
    NUV_ZSTREAM_ERROR_ENUM error;
    EXPECT_EQ("hello", read_container(file("c"), nullptr, 16, &error));
    EXPECT_EQ(NUV_ZSTREAM_OK, error);
}

// ---------------------------------------------------------------------------------------
// Writer options

TEST_F(ZstreamTest, LevelsZeroTwelveAndDefault)
{
    const Bytes data = make_data(100000, true);
    NUV_ZOFSTREAM out;
    // Level 0 writes a readable zlib stream of stored blocks under the compressed header.
    for (Kind kind : {COMPRESSED, ZIP_CRYPT}) {
        open_writer(out, file("l0"), kind, 16, 0);
        out << data;
        out.close();
        EXPECT_GT(fs::file_size(file("l0")), data.size());
        EXPECT_TRUE(same_bytes(data, oracle_decode(file("l0"), kind)));
        EXPECT_TRUE(same_bytes(data, read_container(file("l0"))));
    }
    open_writer(out, file("l12"), COMPRESSED, 16, 12);
    out << data;
    out.close();
    open_writer(out, file("l9"), COMPRESSED, 16, 9);
    out << data;
    out.close();
    EXPECT_EQ(read_file(file("l9")), read_file(file("l12")));
    EXPECT_LT(fs::file_size(file("l9")), data.size() / 4);

    // Below -1 zlib refuses the level: nothing can be written and last_error() says why.
    open_writer(out, file("bad"), COMPRESSED, 16, -5);
    EXPECT_EQ(NUV_ZSTREAM_STREAM_ERROR, out.last_error());
    out << make_data(NUV_ZSTREAM_PLAIN_BUFSZ + 1, true);
    EXPECT_TRUE(out.bad());
}

TEST_F(ZstreamTest, PlainStreamHonoursModeAndContainersReplaceFiles)
{
    NUV_ZOFSTREAM out;
    for (int i = 0; i < 2; ++i) {
        out.open(file("p").c_str(), std::ios_base::out | std::ios_base::app, false, nullptr, 16, -1, false);
        out << "abc";
        out.close();
    }
    EXPECT_EQ("abcabc", read_file(file("p")));
    for (int i = 0; i < 2; ++i) {
        out.open(file("c").c_str(), std::ios_base::out | std::ios_base::app, true, nullptr, 16, -1, false);
        out << "abc";
        out.close();
    }
    EXPECT_EQ("abc", read_container(file("c")));
}

TEST_F(ZstreamTest, GzipWithoutCompressIsIgnored)
{
    NUV_ZOFSTREAM out;
    out.open(file("p").c_str(), BIN_OUT, false, nullptr, 16, -1, true);
    out << "xyz";
    out.close();
    EXPECT_EQ("xyz", read_file(file("p")));
    out.open(file("e").c_str(), BIN_OUT, false, KEY, 16, -1, true);
    out << "xyz";
    out.close();
    EXPECT_EQ(0,
              read_file(file("e")).compare(0, 8, reinterpret_cast<const char*>(NUV_ZSTREAM_CRYPT_HEADER), 8));
    EXPECT_EQ("xyz", read_container(file("e")));
}

TEST_F(ZstreamTest, KeyLengthIsReadOnlyWithAKey)
{
    NUV_ZOFSTREAM out;
    out.open(file("c").c_str(), BIN_OUT, true, nullptr, 20, -1, false);
    out << "ok";
    out.close();
    EXPECT_EQ("ok", read_container(file("c")));
}

TEST_F(ZstreamTest, DestroyingAnOpenStreamEqualsClose)
{
    const Bytes data = make_data(600000, true);
    for (Kind kind : ALL_KINDS) {
        {
            NUV_ZOFSTREAM out;
            open_writer(out, file("closed"), kind);
            out << data;
            out.close(true);
        }
        {
            NUV_ZOFSTREAM out;
            open_writer(out, file("destroyed"), kind);
            out << data;
        }
        EXPECT_EQ(read_file(file("closed")), read_file(file("destroyed"))) << KIND_NAMES[kind];
    }
}

TEST_F(ZstreamTest, WritingAfterCloseFails)
{
    for (Kind kind : {PLAIN, COMPRESSED, CRYPT}) {
        NUV_ZOFSTREAM out;
        open_writer(out, file("x"), kind);
        out << "data";
        out.close();
        EXPECT_FALSE(out.is_open());
        EXPECT_TRUE(out.good());
        out << "more";
        EXPECT_TRUE(out.bad()) << KIND_NAMES[kind];
        EXPECT_EQ(NUV_ZSTREAM_OK, out.last_error());
        EXPECT_EQ("data", read_container(file("x")));
    }
}

TEST_F(ZstreamTest, FlushingAClosedContainerStreamIsAnInternalError)
{
    for (Kind kind : {COMPRESSED, CRYPT}) {
        NUV_ZOFSTREAM out;
        open_writer(out, file("x"), kind);
        out.close();
        EXPECT_DEATH(out.flush(), "Trying to flush closed buffer") << KIND_NAMES[kind];
    }
}

TEST_F(ZstreamTest, EndlHonoursWidthAndDoesNotFlush)
{
    NUV_ZOFSTREAM out(file("p").c_str(), BIN_OUT, false, nullptr, 16);
    out.fill('.');
    out.width(3);
    out << NUV_ZOFSTREAM::endl;
    EXPECT_EQ(0, out.width());
    out << std::left;
    out.width(3);
    out << NUV_ZOFSTREAM::endl;
    out.close();
    EXPECT_EQ("..\n\n..", read_file(file("p")));

    // A compressed stream gets no flush point from endl, unlike std::endl.
    {
        NUV_ZOFSTREAM a(file("a").c_str(), BIN_OUT), b(file("b").c_str(), BIN_OUT),
            c(file("c").c_str(), BIN_OUT);
        a << "line" << NUV_ZOFSTREAM::endl << "next";
        b << "line\nnext";
        c << "line" << std::endl << "next";
    }
    EXPECT_EQ(read_file(file("b")), read_file(file("a")));
    EXPECT_NE(read_file(file("b")), read_file(file("c")));
}

TEST_F(ZstreamTest, UncreatableFileLeavesStreamFailedAndWritesNothing)
{
    const fs::path missing_dir = file("no/such/dir/out.z");
    for (Kind kind : ALL_KINDS) {
        NUV_ZOFSTREAM out;
        open_writer(out, missing_dir, kind);
        EXPECT_TRUE(out.fail()) << KIND_NAMES[kind];
        EXPECT_FALSE(out.is_open());
        out << "lost" << std::flush;
        EXPECT_TRUE(out.fail());
        EXPECT_EQ(NUV_ZSTREAM_OK, out.last_error());
        out.close();
    }
    EXPECT_FALSE(fs::exists(file("no")));
    // The same stream works again afterwards.
    NUV_ZOFSTREAM out;
    open_writer(out, missing_dir, COMPRESSED);
    open_writer(out, file("ok"), COMPRESSED);
    EXPECT_TRUE(out.good());
    out << "fine";
    out.close();
    EXPECT_EQ("fine", read_container(file("ok")));
}

TEST_F(ZstreamTest, WriterBuffersAreKeptByCloseAndReleasedByCloseTrue)
{
    NUV_ZOFSTREAM out;
    open_writer(out, file("a"), ZIP_CRYPT);
    out << "a";
    out.close(); // keeps 512 KiB + 2 x 32 KiB
    const uint64_t kept = memory_global_current().memory_in_use;
    open_writer(out, file("b"), ZIP_CRYPT);
    out << "b";
    out.close(true);
    const uint64_t released = memory_global_current().memory_in_use;
    EXPECT_GE(kept, released + NUV_ZSTREAM_PLAIN_BUFSZ + 2 * NUV_ZSTREAM_DEFAULT_BUFSZ);
    open_writer(out, file("c"), ZIP_CRYPT);
    out << "c";
    out.close();
    out.close(true); // releases the buffers; zlib's state was ended once, by the first close
    EXPECT_EQ(NUV_ZSTREAM_OK, out.last_error());
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(name, read_container(file(name)));
}

// ---------------------------------------------------------------------------------------
// Reader: recognition

TEST_F(ZstreamTest, PartialHeadersAreReadAsPlainFiles)
{
    const unsigned char* headers[] = {NUV_ZSTREAM_ZIP_HEADER, NUV_ZSTREAM_ZIP_CRYPT_HEADER,
                                      NUV_ZSTREAM_CRYPT_HEADER};
    for (const unsigned char* header : headers) {
        for (size_t n = 1; n <= 7; ++n) {
            const Bytes bytes(reinterpret_cast<const char*>(header), n);
            write_file(file("p"), bytes);
            EXPECT_EQ(bytes, read_container(file("p"))) << n;
        }
    }
    const Bytes almost = from_hex({0xAC, 0x0F, 0x01, 0, 0, 0, 0, 0x01}) + "tail";
    write_file(file("p"), almost);
    NUV_ZIFSTREAM in;
    EXPECT_FALSE(in.is_zstream(file("p").c_str()));
    EXPECT_EQ(almost, read_container(file("p")));
    for (const Bytes& bytes :
         {from_hex({0x1F}), from_hex({0x1F, 0x8B}), from_hex({0x1F, 0x8B, 0x09, 0x00})}) {
        write_file(file("p"), bytes);
        EXPECT_EQ(bytes, read_container(file("p")));
    }
}

TEST_F(ZstreamTest, PlainFileReadInCallersMode)
{
    write_file(file("p"), "one\ntwo\n");
    NUV_ZIFSTREAM in(file("p").c_str(), std::ios_base::in, KEY, 16);
    std::string first, second;
    in >> first >> second;
    EXPECT_EQ("one", first);
    EXPECT_EQ("two", second);
    EXPECT_EQ(NUV_ZSTREAM_OK, in.last_error());
    EXPECT_FALSE(in.is_gzip());
}

TEST_F(ZstreamTest, KeyForUnencryptedContainersIsIgnored)
{
    for (Kind kind : {COMPRESSED, GZIP, PLAIN}) {
        write_container(file("x"), kind, "payload");
        EXPECT_EQ("payload", read_container(file("x"), KEY, 16)) << KIND_NAMES[kind];
        EXPECT_EQ("payload", read_container(file("x"), KEY, 20)) << KIND_NAMES[kind];
    }
}

TEST_F(ZstreamTest, ProbesAnswerPerKind)
{
    NUV_ZIFSTREAM probe;
    for (Kind kind : ALL_KINDS) {
        write_container(file(KIND_NAMES[kind]), kind, "x");
        EXPECT_EQ(kind != PLAIN, probe.is_zstream(file(KIND_NAMES[kind]).c_str())) << KIND_NAMES[kind];
        EXPECT_EQ(encrypted(kind), probe.is_encrypted(file(KIND_NAMES[kind]).c_str())) << KIND_NAMES[kind];
        EXPECT_FALSE(probe.is_open());
    }
    EXPECT_FALSE(probe.is_zstream(file("missing").c_str()));
    EXPECT_FALSE(probe.is_encrypted(file("missing").c_str()));
    write_file(file("empty"), "");
    EXPECT_FALSE(probe.is_zstream(file("empty").c_str()));

    // While a file is open the probes answer for it, whatever name they get.
    NUV_ZIFSTREAM in(file("crypt").c_str(), BIN_IN, KEY, 16);
    EXPECT_TRUE(in.is_encrypted(file("plain").c_str()));
    EXPECT_TRUE(in.is_zstream(nullptr));
    char c = 0;
    EXPECT_TRUE(in.get(c));
    EXPECT_EQ('x', c);
}

TEST_F(ZstreamTest, GzipMembersFromOtherWritersAreRead)
{
    const Bytes data = make_data(300000, true);
    write_file(file("named.txt"), data);
    ASSERT_EQ(0, std::system(("gzip -kf '" + file("named.txt").string() + "'").c_str()));
    const Bytes system_gz = read_file(file("named.txt.gz"));
    ASSERT_TRUE(system_gz[3] & 8) << "gzip stored no file name";
    EXPECT_TRUE(same_bytes(data, read_container(file("named.txt.gz"))));

    // zlib's own gzip mode.
    z_stream zs{};
    ASSERT_EQ(Z_OK, deflateInit2(&zs, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY));
    Bytes gz(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(&gz[0]);
    zs.avail_out = static_cast<uInt>(gz.size());
    ASSERT_EQ(Z_STREAM_END, deflate(&zs, Z_FINISH));
    gz.resize(zs.total_out);
    deflateEnd(&zs);
    write_file(file("zlib.gz"), gz);
    NUV_ZIFSTREAM in(file("zlib.gz").c_str());
    Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(same_bytes(data, got));
    in.close();
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())),
              in.get_gzip_crc());
    EXPECT_EQ(data.size(), in.get_gzip_data_size());
}

// A gzip member with every optional header field, built by hand around a raw deflate body.
Bytes gzip_with_fields(const Bytes& data, int flags, size_t xlen)
{
    Bytes member = from_hex({0x1F, 0x8B, 0x08, flags, 1, 2, 3, 4, 0, 3});
    if (flags & 4) {
        member += from_hex({int(xlen & 0xFF), int(xlen >> 8)});
        member += Bytes(xlen, '\x1F'); // bytes that look like a header start on purpose
    }
    if (flags & 8)
        member += Bytes("file name.txt") + '\0';
    if (flags & 16)
        member += Bytes("a comment") + '\0';
    if (flags & 2) {
        const uLong crc =
            crc32(0, reinterpret_cast<const Bytef*>(member.data()), static_cast<uInt>(member.size()));
        member += from_hex({int(crc & 0xFF), int((crc >> 8) & 0xFF)});
    }
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes body(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(&body[0]);
    zs.avail_out = static_cast<uInt>(body.size());
    deflate(&zs, Z_FINISH);
    body.resize(zs.total_out);
    deflateEnd(&zs);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const uint32_t size = static_cast<uint32_t>(data.size());
    member += body;
    for (uint32_t word : {crc, size})
        for (int shift = 0; shift < 32; shift += 8)
            member += static_cast<char>((word >> shift) & 0xFF);
    return member;
}

TEST_F(ZstreamTest, HandMadeGzipHeadersAreSkipped)
{
    const Bytes data = make_data(50000, true);
    struct CASE {
        int flags;
        size_t xlen;
    } cases[] = {{4, 0},      {4, 0x8000},  {4, 0xFFFF}, {8, 0}, {16, 0}, {2, 0}, {4 | 8 | 16 | 2, 0x8001},
                 {8 | 16, 0}, {4 | 2, 0x10}};
    for (const CASE& c : cases) {
        const Bytes member = gzip_with_fields(data, c.flags, c.xlen);
        write_file(file("h.gz"), member);
        EXPECT_TRUE(same_bytes(data, oracle_decode(file("h.gz"), GZIP)));
        NUV_ZIFSTREAM in(file("h.gz").c_str());
        Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(data, got) << "flags " << c.flags << " xlen " << c.xlen;
        EXPECT_EQ(NUV_ZSTREAM_OK, in.last_error());
        in.close();
        EXPECT_EQ(data.size(), in.get_gzip_data_size());
    }
}

TEST_F(ZstreamTest, GzipTrailerInTheNextPieceIsFound)
{
    // One stored block filling exactly the first 32 KiB piece after the header, so the
    // trailer is still in the file when the deflate data ends.
    const Bytes data = make_data(NUV_ZSTREAM_DEFAULT_BUFSZ - 5, false);
    const size_t n = data.size();
    Bytes member = Bytes(reinterpret_cast<const char*>(NUV_ZSTREAM_GZIP_HEADER), 10) +
                   from_hex({0x01, int(n & 0xFF), int(n >> 8), int(~n & 0xFF), int((~n >> 8) & 0xFF)}) + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(n));
    for (uLong word : {crc, uLong(n)})
        for (int shift = 0; shift < 32; shift += 8)
            member += static_cast<char>((word >> shift) & 0xFF);
    write_file(file("s.gz"), member);
    ASSERT_TRUE(same_bytes(data, oracle_decode(file("s.gz"), GZIP)));

    NUV_ZIFSTREAM in(file("s.gz").c_str());
    Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(same_bytes(data, got));
    in.clear();
    EXPECT_EQ(EOF, in.get()); // reading on at the end consumes nothing more
    in.close();
    EXPECT_EQ(crc, in.get_gzip_crc());
    EXPECT_EQ(n, in.get_gzip_data_size());
}

TEST_F(ZstreamTest, GzipHeaderCutShortLeavesStreamFailed)
{
    const Bytes member = gzip_with_fields("data", 4 | 8 | 16 | 2, 40);
    const size_t fname_at = 10 + 2 + 40;
    for (size_t length : {size_t(3), size_t(5), size_t(10), size_t(11), size_t(30), fname_at + 4,
                          fname_at + 14 + 3, fname_at + 14 + 10 + 1}) {
        write_file(file("cut.gz"), member.substr(0, length));
        NUV_ZIFSTREAM in(file("cut.gz").c_str());
        EXPECT_TRUE(in.fail()) << length;
        EXPECT_TRUE(in.is_gzip());
        char c;
        EXPECT_FALSE(in.get(c));
        EXPECT_EQ(NUV_ZSTREAM_OK, in.last_error());
        in.close();
    }
}

// ---------------------------------------------------------------------------------------
// Reader: bad input

TEST_F(ZstreamTest, TruncatedContainersEndWithAPrefix)
{
    const Bytes data = make_data(90, false);
    for (Kind kind : {COMPRESSED, ZIP_CRYPT, CRYPT, GZIP}) {
        write_container(file("full"), kind, data);
        const Bytes full = read_file(file("full"));
        const size_t header = kind == GZIP ? 3 : 8;
        for (size_t length = 0; length <= full.size(); ++length) {
            SCOPED_TRACE(std::string(KIND_NAMES[kind]) + " cut at " + std::to_string(length));
            write_file(file("cut"), full.substr(0, length));
            NUV_ZSTREAM_ERROR_ENUM error;
            const Bytes got = read_container(file("cut"), KEY, 16, &error, 7);
            if (length < header) {
                EXPECT_EQ(full.substr(0, length), got); // plain
                EXPECT_EQ(NUV_ZSTREAM_OK, error);
                continue;
            }
            EXPECT_EQ(data.substr(0, got.size()), got);
            if (length == full.size() || (kind == GZIP && length >= full.size() - 8)) {
                EXPECT_TRUE(same_bytes(data, got));
                EXPECT_EQ(NUV_ZSTREAM_OK, error);
            } else if (kind == COMPRESSED || kind == GZIP) {
                EXPECT_EQ(NUV_ZSTREAM_OK, error); // cut-short zlib data is not an error
            } else if ((length - 8) % 16 != 0 || length == 8) {
                EXPECT_EQ(NUV_ZSTREAM_CRYPT_ERROR, error);
            }
        }
    }
}

TEST_F(ZstreamTest, FlippedBitsEndCleanly)
{
    const Bytes data = make_data(300, true);
    for (Kind kind : {COMPRESSED, ZIP_CRYPT, CRYPT, GZIP}) {
        write_container(file("full"), kind, data);
        const Bytes full = read_file(file("full"));
        for (size_t i = header_size(kind); i < full.size(); ++i) {
            Bytes damaged = full;
            damaged[i] = static_cast<char>(damaged[i] ^ (1 << (i % 8)));
            write_file(file("bad"), damaged);
            NUV_ZSTREAM_ERROR_ENUM error;
            const Bytes got = read_container(file("bad"), KEY, 16, &error);
            // Damaged deflate data may decode to more bytes than were written, never unboundedly.
            EXPECT_LE(got.size(), 1032 * full.size()) << KIND_NAMES[kind] << " byte " << i;
            if (encrypted(kind)) {
                // A changed cipher block never passes unnoticed as the original data.
                EXPECT_TRUE(error != NUV_ZSTREAM_OK || got != data) << KIND_NAMES[kind] << " byte " << i;
            }
            if (kind == CRYPT) {
                // ECB: only the damaged block changes; a damaged final block fails its padding.
                const size_t block = (i - 8) / 16 * 16;
                EXPECT_TRUE(same_bytes(data.substr(0, block), got.substr(0, block)));
            }
        }
    }
}

TEST_F(ZstreamTest, WrongKeyEndsWithAnError)
{
    unsigned char wrong[16];
    std::memcpy(wrong, KEY, 16);
    wrong[15] ^= 1;
    const Bytes data = make_data(100000, true);
    for (Kind kind : {CRYPT, ZIP_CRYPT}) {
        write_container(file("e"), kind, data);
        NUV_ZSTREAM_ERROR_ENUM error;
        const Bytes got = read_container(file("e"), wrong, 16, &error);
        EXPECT_NE(data, got);
        EXPECT_NE(NUV_ZSTREAM_OK, error) << KIND_NAMES[kind];
        if (kind == CRYPT) {
            EXPECT_EQ(NUV_ZSTREAM_CRYPT_ERROR, error);
            EXPECT_EQ(data.size() / 16 * 16, got.size()); // every block but the padded one
        }
    }
}

TEST_F(ZstreamTest, CipherBodiesNotAMultipleOf16)
{
    // Every whole block before the damage is delivered, then the data ends with a cipher error.
    const Bytes data = make_data(40000, false);
    for (Kind kind : {CRYPT, ZIP_CRYPT}) {
        write_container(file("e"), kind, data);
        const Bytes full = read_file(file("e"));
        const Bytes header = full.substr(0, 8);
        struct CASE {
            Bytes file;
            size_t delivered;
        } cases[] = {
            {header + full.substr(8, 5), 0},                                // 1 to 15 bytes only
            {full + "abc", full.size() - 8},                                // valid body plus a tail
            {full.substr(0, 8 + 32768 + 5), 32768},                         // second piece of 5 bytes
            {full.substr(0, 8 + 32768 + 16 + 7), 32768 + 16},               // a block and a tail
            {full.substr(0, full.size() - 1), (full.size() - 9) / 16 * 16}, // last block cut
            {header, 0},                                                    // no body at all
        };
        for (const CASE& c : cases) {
            write_file(file("bad"), c.file);
            NUV_ZSTREAM_ERROR_ENUM error;
            const Bytes got = read_container(file("bad"), KEY, 16, &error);
            EXPECT_EQ(NUV_ZSTREAM_CRYPT_ERROR, error) << KIND_NAMES[kind] << " " << c.file.size();
            EXPECT_TRUE(
                same_bytes(data.substr(0, std::min(got.size(), data.size())), got.substr(0, data.size())));
            if (kind == CRYPT) {
                EXPECT_EQ(c.delivered, got.size()) << c.file.size();
            }
        }
    }
}

TEST_F(ZstreamTest, EncryptedFileWithoutKeyDeliversNothing)
{
    for (Kind kind : {CRYPT, ZIP_CRYPT}) {
        write_container(file("e"), kind, "secret");
        NUV_ZIFSTREAM in(file("e").c_str());
        EXPECT_FALSE(in.is_open());
        EXPECT_TRUE(in.bad());
        char c;
        EXPECT_FALSE(in.get(c));
        EXPECT_EQ(NUV_ZSTREAM_NO_KEY, in.last_error());
        EXPECT_TRUE(in.is_encrypted(nullptr));
    }
}

TEST_F(ZstreamTest, MissingFileAndDirectoryEndAtOnce)
{
    NUV_ZIFSTREAM in(file("missing").c_str());
    EXPECT_TRUE(in.fail());
    EXPECT_FALSE(in.is_open());
    EXPECT_EQ(NUV_ZSTREAM_OK, in.last_error());
    char buffer[16];
    EXPECT_FALSE(in.read(buffer, sizeof(buffer)));
    EXPECT_EQ(0, in.gcount());

    fs::create_directory(file("dir"));
    NUV_ZIFSTREAM dir;
    dir.open(file("dir").c_str(), BIN_IN, nullptr, 16);
    EXPECT_FALSE(dir.is_zstream(nullptr));
    EXPECT_FALSE(dir.read(buffer, sizeof(buffer)));
    EXPECT_TRUE(dir.bad());
    EXPECT_EQ(0, dir.gcount());
    EXPECT_FALSE(dir.good());
    EXPECT_EQ(NUV_ZSTREAM_OK, dir.last_error());
}

TEST_F(ZstreamTest, DamagedCompressedDataReportsDataError)
{
    Bytes bytes =
        Bytes(reinterpret_cast<const char*>(NUV_ZSTREAM_ZIP_HEADER), 8) + from_hex({0x78, 0x9C, 0xFF, 0xFF});
    write_file(file("c"), bytes);
    NUV_ZSTREAM_ERROR_ENUM error;
    EXPECT_EQ("", read_container(file("c"), nullptr, 16, &error));
    EXPECT_EQ(NUV_ZSTREAM_DATA_ERROR, error);
}

// ---------------------------------------------------------------------------------------
// Reader: lifecycle

TEST_F(ZstreamTest, ReaderReusesBuffersAndKeepsDescribingTheClosedFile)
{
    write_container(file("g"), GZIP, "gz");
    write_container(file("e"), CRYPT, "enc");
    write_container(file("c"), COMPRESSED, "zip");
    NUV_ZIFSTREAM in(file("g").c_str());
    std::string text;
    in >> text;
    EXPECT_EQ("gz", text);
    in.close();
    EXPECT_FALSE(in.is_open());
    EXPECT_TRUE(in.is_gzip());
    EXPECT_EQ(NUV_ZSTREAM_OK, in.last_error());
    const uint64_t kept = memory_global_current().memory_in_use;

    in.open(file("e").c_str(), BIN_IN, KEY, 16);
    in >> text;
    EXPECT_EQ("enc", text);
    EXPECT_FALSE(in.is_gzip());
    in.close(true);
    const uint64_t released = memory_global_current().memory_in_use;
    EXPECT_GE(kept, released + NUV_ZSTREAM_PLAIN_BUFSZ + NUV_ZSTREAM_DEFAULT_BUFSZ);

    in.open(file("c").c_str(), BIN_IN, nullptr, 16);
    in >> text;
    EXPECT_EQ("zip", text);
    // A read past the end gives end of file, also after close.
    EXPECT_FALSE(in >> text);
    in.close();
    in.clear();
    char c;
    EXPECT_FALSE(in.get(c));
}

// ---------------------------------------------------------------------------------------
// Misuse ends the process

TEST_F(ZstreamTest, WriterMisuseIsAnInternalError)
{
    const std::string name = file("x").string();
    EXPECT_DEATH(NUV_ZOFSTREAM().open(nullptr, BIN_OUT), "NULL output stream filename");
    EXPECT_DEATH(NUV_ZOFSTREAM().open(name.c_str(), std::ios_base::in | std::ios_base::out),
                 "Input mode is illegal for output stream");
    EXPECT_DEATH(
        {
            NUV_ZOFSTREAM out(name.c_str(), BIN_OUT);
            out.open((name + "2").c_str(), BIN_OUT);
        },
        "Close the previously opened stream before reopening as .*/x2!");
    EXPECT_DEATH(NUV_ZOFSTREAM().open(name.c_str(), BIN_OUT, true, KEY, 20, -1, false),
                 "Bad key length, choose 16, 24, or 32");
    EXPECT_DEATH(NUV_ZOFSTREAM().open(name.c_str(), BIN_OUT, true, KEY, 16, -1, true),
                 "Gzip framing cannot be combined with a key");
}

TEST_F(ZstreamTest, ReaderMisuseIsAnInternalError)
{
    write_container(file("e"), CRYPT, "x");
    const std::string name = file("e").string();
    EXPECT_DEATH(NUV_ZIFSTREAM().open(nullptr, BIN_IN, nullptr, 16), "NULL input stream filename");
    EXPECT_DEATH(
        {
            NUV_ZIFSTREAM in(name.c_str(), BIN_IN, KEY, 16);
            in.open(name.c_str(), BIN_IN, KEY, 16);
        },
        "Close the previously opened stream before reopening as .*/e!");
    EXPECT_DEATH(NUV_ZIFSTREAM(name.c_str(), BIN_IN, KEY, 12), "Bad key length, choose 16, 24, or 32");
}

TEST_F(ZstreamTest, StreamBufferMisuseIsAnInternalError)
{
    std::ostringstream sink;
    std::istringstream source("x");
    EXPECT_DEATH(NUV_ZIP_STREAMBUF().flush(Z_SYNC_FLUSH), "Trying to flush closed buffer");
    EXPECT_DEATH(NUV_ZIP_STREAMBUF().open(nullptr, nullptr, 16, -1, 15), "Do not open to NULL ostream!");
    EXPECT_DEATH(
        {
            NUV_ZIP_STREAMBUF buf;
            buf.open(&sink, nullptr, 16, -1, 15);
            buf.open(&sink, nullptr, 16, -1, 15);
        },
        "!m_opened");
    EXPECT_DEATH(NUV_UNZIP_STREAMBUF().open(nullptr, nullptr, 16, true, 15),
                 "Tried to open streambuf with NULL istream");
    EXPECT_DEATH(
        {
            NUV_UNZIP_STREAMBUF buf;
            buf.open(&source, nullptr, 16, true, 15);
            buf.open(&source, nullptr, 16, true, 15);
        },
        "!m_opened");
}

TEST_F(ZstreamTest, FullDiskEndsAContainerButOnlyFailsAPlainFile)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const Bytes data = make_data(NUV_ZSTREAM_PLAIN_BUFSZ + 100, false);
    for (Kind kind : {COMPRESSED, CRYPT}) {
        EXPECT_DEATH(
            {
                NUV_ZOFSTREAM out;
                open_writer(out, "/dev/full", kind);
                out << data;
                out.close();
            },
            "File output stream not good anymore in flush")
            << KIND_NAMES[kind];
    }
    NUV_ZOFSTREAM out;
    open_writer(out, "/dev/full", PLAIN);
    out << data << std::flush;
    EXPECT_TRUE(out.bad());
    out.close();
}

} // namespace
