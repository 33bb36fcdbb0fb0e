// The sealed kind: round trips at the chunk edges, wrong secrets, every header and parameter
// bit, sampled bits of every chunk, cuts, reordered and foreign chunks, the limits on both
// sides, the whole-file functions, and an independent decoder in Python.
#include <nuv/nuv_zstream.h>

#include <gtest/gtest.h>

#include "test_support.h"

#include <cstring>
#include <iterator>
#include <set>
#include <thread>

namespace {

using namespace test_support;
using Bytes = std::string;
using ERROR = NUV_ZSTREAM_ERROR_ENUM;

const ERROR OK = NUV_ZSTREAM_OK, AUTH = NUV_ZSTREAM_AUTH_ERROR, FORMAT = NUV_ZSTREAM_SEAL_FORMAT_ERROR;
const size_t PREFIX = NUV_SEALED_PREFIX_LENGTH, CHUNK = NUV_SEALED_CHUNK_SIZE, TAG = 16;
const size_t SEALED_CHUNK = CHUNK + TAG;
const char PASSWORD[] = "correct horse";
const auto* const RAW_KEY = reinterpret_cast<const unsigned char*>("0123456789abcdef0123456789ABCDEF");

/// A password at the least cost, so that hundreds of reads stay quick.
NUV_SEAL_OPTIONS cheap(const char* password = PASSWORD, int level = -1)
{
    NUV_SEAL_OPTIONS options;
    options.password = password;
    options.passes = 1;
    options.memory_kib = 8;
    options.lanes = 1;
    options.level = level;
    return options;
}

/// A raw key: HKDF, no Argon2 at all.
NUV_SEAL_OPTIONS keyed(int level = -1)
{
    NUV_SEAL_OPTIONS options;
    options.key = RAW_KEY;
    options.level = level;
    return options;
}

/// Seals `data` into `path` (flushing once halfway when `flush_halfway`); the file's bytes.
Bytes seal(const std::string& path, const Bytes& data, const NUV_SEAL_OPTIONS& options,
           bool flush_halfway = false)
{
    NUV_ZOFSTREAM out;
    out.open(path.c_str(), options);
    EXPECT_TRUE(out.good());
    const size_t half = flush_halfway ? data.size() / 2 : data.size();
    out.write(data.data(), static_cast<std::streamsize>(half));
    if (flush_halfway)
        out.flush();
    out.write(data.data() + half, static_cast<std::streamsize>(data.size() - half));
    out.close();
    EXPECT_EQ(out.last_error(), OK);
    return read_file(path);
}

/// A file as a reader with `secret` sees it.
struct READ {
    Bytes data;
    ERROR error;
    bool verified;
    NUV_ZSTREAM_KIND kind;
};

READ unseal(const std::string& path, const void* secret, size_t length)
{
    NUV_ZIFSTREAM in;
    in.open(path.c_str(), std::ios_base::in | std::ios_base::binary,
            static_cast<const unsigned char*>(secret), static_cast<int>(length));
    Bytes data(std::istreambuf_iterator<char>(in), {});
    return {data, in.last_error(), in.verified_end(), in.kind()};
}

READ unseal(const std::string& path, const char* password = PASSWORD)
{
    return unseal(path, password, password ? std::strlen(password) : 0);
}

/// Whether a failed read handed out only what the chunks before chunk `bad` hold: a prefix of
/// `data` no longer than their zlib bytes (stored blocks never expand), and not much shorter.
void expect_stopped_before(const READ& read, const Bytes& data, size_t bad)
{
    EXPECT_EQ(read.error, AUTH);
    EXPECT_FALSE(read.verified);
    EXPECT_TRUE(read.data == data.substr(0, read.data.size()));
    EXPECT_LE(read.data.size() + 2, std::max<size_t>(bad * CHUNK, 2));
    EXPECT_GE(read.data.size() + 16 * (bad + 1), bad * CHUNK);
}

/// Random bytes in stored blocks: chunk k then holds about payload bytes [k * CHUNK, ...).
Bytes stored_file(const TEMP_DIR& dir, const Bytes& data, const char* name = "stored.nuv")
{
    return seal(dir.file(name), data, keyed(0));
}

size_t chunk_count(const Bytes& file)
{
    return (file.size() - PREFIX + SEALED_CHUNK - 1) / SEALED_CHUNK;
}

Bytes chunk(const Bytes& file, size_t k)
{
    return file.substr(PREFIX + k * SEALED_CHUNK, SEALED_CHUNK);
}

TEST(ZstreamSealed, RoundTripsAtTheChunkEdges)
{
    TEMP_DIR dir;
    // Stored blocks of random bytes whose zlib stream fills exactly one chunk, or one byte more.
    size_t one_chunk = 0, chunk_plus_one = 0;
    for (size_t n = CHUNK - 64; n < CHUNK && (!one_chunk || !chunk_plus_one); ++n) {
        const size_t size = stored_file(dir, make_data(n, false)).size();
        one_chunk = size == PREFIX + SEALED_CHUNK ? n : one_chunk;
        chunk_plus_one = size == PREFIX + SEALED_CHUNK + 1 + TAG ? n : chunk_plus_one;
    }
    ASSERT_NE(one_chunk, 0u);
    ASSERT_NE(chunk_plus_one, 0u);
    const struct {
        const char* name;
        Bytes data;
        NUV_SEAL_OPTIONS options;
        int threads;
        bool flush;
    } cases[] = {
        {"empty", "", cheap(), 0, false},
        {"one byte", "x", cheap(), 0, false},
        {"one byte, raw key", "x", keyed(), 0, false},
        {"one full chunk", make_data(one_chunk, false), keyed(0), 0, false},
        {"a chunk and a byte", make_data(chunk_plus_one, false), keyed(0), 0, false},
        {"3 MiB of text", make_data(3 << 20, true), cheap(), 0, true},
        {"3 MiB of random bytes", make_data(3 << 20, false), keyed(), 0, false},
        {"3 MiB of text, 3 threads", make_data(3 << 20, true), cheap(PASSWORD, 9), 3, true},
        {"3 MiB of random bytes, 3 threads", make_data(3 << 20, false), keyed(1), 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nuv_set_deflate_threads(c.threads);
        const Bytes file = seal(dir.file("f.nuv"), c.data, c.options, c.flush);
        nuv_set_deflate_threads(0);
        EXPECT_EQ(file.substr(0, 8), from_hex("ac5e010000000000"));
        const READ read =
            c.options.password ? unseal(dir.file("f.nuv")) : unseal(dir.file("f.nuv"), RAW_KEY, 32);
        EXPECT_EQ(read.data.size(), c.data.size());
        EXPECT_TRUE(read.data == c.data);
        EXPECT_EQ(read.error, OK);
        EXPECT_TRUE(read.verified);
        EXPECT_EQ(read.kind, NUV_ZSTREAM_KIND_SEALED);
    }
}

TEST(ZstreamSealed, WrongSecretsDeliverNothing)
{
    TEMP_DIR dir;
    const Bytes data = make_data(200000, true);
    seal(dir.file("password.nuv"), data, cheap());
    seal(dir.file("key.nuv"), data, keyed());
    const Bytes other_key(32, 'k');
    const struct {
        const char* file;
        Bytes secret;
        bool given;
        ERROR error;
    } cases[] = {
        {"password.nuv", "correct horse!", true, AUTH},
        {"password.nuv", "correct hors", true, AUTH},
        {"password.nuv", "", true, AUTH},
        {"password.nuv", Bytes(reinterpret_cast<const char*>(RAW_KEY), 32), true, AUTH},
        {"password.nuv", "", false, NUV_ZSTREAM_NO_KEY},
        {"key.nuv", other_key, true, AUTH},
        {"key.nuv", PASSWORD, true, AUTH},
        {"key.nuv", "", false, NUV_ZSTREAM_NO_KEY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " with '" + c.secret + "'");
        const READ read = unseal(dir.file(c.file), c.given ? c.secret.data() : nullptr, c.secret.size());
        EXPECT_EQ(read.data, "");
        EXPECT_EQ(read.error, c.error);
        EXPECT_FALSE(read.verified);
        EXPECT_EQ(read.kind, NUV_ZSTREAM_KIND_SEALED);
    }
}

TEST(ZstreamSealed, EveryBitOfTheHeaderAndParametersIsCovered)
{
    TEMP_DIR dir;
    const Bytes data = make_data(5000, true);
    const Bytes file = seal(dir.file("f.nuv"), data, cheap());
    std::set<ERROR> errors;
    for (size_t bit = 0; bit < PREFIX * 8; ++bit) {
        SCOPED_TRACE("bit " + std::to_string(bit));
        Bytes flipped = file;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << bit % 8));
        write_file(dir.file("flipped.nuv"), flipped);
        const READ read = unseal(dir.file("flipped.nuv"));
        EXPECT_FALSE(read.verified);
        if (bit < 64) { // no longer a container: the bytes as they are
            EXPECT_EQ(read.kind, NUV_ZSTREAM_KIND_PLAIN);
            EXPECT_TRUE(read.data == flipped);
            continue;
        }
        EXPECT_EQ(read.data, "");
        EXPECT_TRUE(read.error == AUTH || read.error == FORMAT) << read.error;
        errors.insert(read.error);
    }
    EXPECT_EQ(errors, (std::set<ERROR>{AUTH, FORMAT}));
}

TEST(ZstreamSealed, SampledBitsOfEveryChunkAreCovered)
{
    TEMP_DIR dir;
    const Bytes data = make_data(5 * CHUNK, false);
    const Bytes file = stored_file(dir, data);
    const size_t chunks = chunk_count(file);
    ASSERT_EQ(chunks, 6u);
    for (size_t k = 0; k < chunks; ++k) {
        const size_t start = PREFIX + k * SEALED_CHUNK, length = std::min(SEALED_CHUNK, file.size() - start);
        // The first and a middle byte of cipher text, its last, the tag's first and last.
        for (size_t at : {size_t(0), length / 2, length - TAG - 1, length - TAG, length - 1}) {
            SCOPED_TRACE("chunk " + std::to_string(k) + " byte " + std::to_string(at));
            Bytes flipped = file;
            flipped[start + at] = static_cast<char>(flipped[start + at] ^ (1 << (at + k) % 8));
            write_file(dir.file("flipped.nuv"), flipped);
            expect_stopped_before(unseal(dir.file("flipped.nuv"), RAW_KEY, 32), data, k);
        }
    }
}

TEST(ZstreamSealed, CutsAndAdditionsAreDetected)
{
    TEMP_DIR dir;
    const Bytes data = make_data(3 * CHUNK, false);
    const Bytes file = stored_file(dir, data);
    ASSERT_EQ(chunk_count(file), 4u);
    for (size_t k = 0; k < 4; ++k)
        for (size_t into : {size_t(0), size_t(1), CHUNK / 2, CHUNK + 8}) {
            const size_t cut = PREFIX + k * SEALED_CHUNK + into;
            if (cut >= file.size())
                continue;
            SCOPED_TRACE("cut at " + std::to_string(cut));
            write_file(dir.file("cut.nuv"), file.substr(0, cut));
            // Cut at a boundary, the chunk before it poses as the last one and fails.
            expect_stopped_before(unseal(dir.file("cut.nuv"), RAW_KEY, 32), data,
                                  into == 0 && k > 0 ? k - 1 : k);
        }
    // Anything after the last chunk turns it into a chunk that is not the last.
    for (const Bytes& tail : {Bytes(1, '\0'), chunk(file, 3), file}) {
        SCOPED_TRACE("appended " + std::to_string(tail.size()) + " bytes");
        write_file(dir.file("long.nuv"), file + tail);
        expect_stopped_before(unseal(dir.file("long.nuv"), RAW_KEY, 32), data, 3);
    }
    // A cut inside the parameters leaves no sealed container to read.
    for (size_t cut : {size_t(9), size_t(30), PREFIX - 1}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        write_file(dir.file("cut.nuv"), file.substr(0, cut));
        const READ read = unseal(dir.file("cut.nuv"), RAW_KEY, 32);
        EXPECT_EQ(read.error, FORMAT);
        EXPECT_EQ(read.data, "");
    }
}

TEST(ZstreamSealed, ReorderedRepeatedAndForeignChunksFail)
{
    TEMP_DIR dir;
    const Bytes data = make_data(3 * CHUNK, false);
    const Bytes file = stored_file(dir, data);
    // The same data and key again: a new salt and nonce prefix, so nothing carries over.
    const Bytes other = stored_file(dir, data, "other.nuv");
    ASSERT_NE(file.substr(0, PREFIX), other.substr(0, PREFIX));
    const Bytes head = file.substr(0, PREFIX), c0 = chunk(file, 0), c1 = chunk(file, 1), c2 = chunk(file, 2),
                c3 = chunk(file, 3);
    const struct {
        const char* name;
        Bytes file;
        size_t bad;
    } cases[] = {
        {"chunks 1 and 2 swapped", head + c0 + c2 + c1 + c3, 1},
        {"chunk 1 twice", head + c0 + c1 + c1 + c2 + c3, 2},
        {"chunk 1 dropped", head + c0 + c2 + c3, 1},
        {"the last chunk first", head + c3 + c1 + c2 + c0, 0},
        {"chunk 1 of the other file", head + c0 + chunk(other, 1) + c2 + c3, 1},
        {"the other file's chunks", head + other.substr(PREFIX), 0},
        {"the other file's prefix", other.substr(0, PREFIX) + file.substr(PREFIX), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir.file("mixed.nuv"), c.file);
        expect_stopped_before(unseal(dir.file("mixed.nuv"), RAW_KEY, 32), data, c.bad);
    }
}

TEST(ZstreamSealed, RepeatedBlocksShowNoPattern)
{
    TEMP_DIR dir;
    Bytes data;
    while (data.size() < (1u << 20))
        data += "sixteen bytes!!\n";
    // Stored blocks keep every repetition in the zlib stream, where ECB would show it.
    const Bytes file = seal(dir.file("f.nuv"), data, cheap(PASSWORD, 0));
    std::set<Bytes> blocks;
    for (size_t at = PREFIX; at + 16 <= file.size(); at += 16)
        blocks.insert(file.substr(at, 16));
    EXPECT_EQ(blocks.size(), (file.size() - PREFIX) / 16);
    // The encrypted kind of the same data, for contrast: one cipher block over and over.
    NUV_ZOFSTREAM ecb(dir.file("ecb.nuv").c_str(), std::ios_base::binary, false, RAW_KEY, 32);
    ecb << data;
    ecb.close();
    const Bytes ecb_file = read_file(dir.file("ecb.nuv"));
    std::set<Bytes> ecb_blocks;
    for (size_t at = 8; at + 16 <= ecb_file.size(); at += 16)
        ecb_blocks.insert(ecb_file.substr(at, 16));
    EXPECT_EQ(ecb_blocks.size(), 2u); // the repeated block and the padding
}

TEST(ZstreamSealed, WriterRefusesWhatItCannotSeal)
{
    TEMP_DIR dir;
    const auto with = [](uint32_t passes, uint32_t memory, uint32_t lanes) {
        NUV_SEAL_OPTIONS options = cheap();
        options.passes = passes, options.memory_kib = memory, options.lanes = lanes;
        return options;
    };
    const struct {
        const char* name;
        NUV_SEAL_OPTIONS options;
    } cases[] = {
        {"neither password nor key", NUV_SEAL_OPTIONS()},
        {"an empty password", cheap("")},
        {"no passes", with(0, 64, 1)},
        {"no lanes", with(1, 64, 0)},
        {"65 lanes", with(1, 65 * 8, 65)},
        {"less than 8 KiB per lane", with(1, 31, 4)},
        {"more than 1 GiB", with(1, (1u << 20) + 1, 1)},
        {"1025 passes", with(1025, 8, 1)},
    };
    NUV_ZOFSTREAM out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        out.open(dir.file("refused.nuv").c_str(), c.options);
        EXPECT_FALSE(out.good());
        EXPECT_EQ(out.last_error(), FORMAT);
        EXPECT_FALSE(out.is_open());
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(dir.file("refused.nuv"))));
        out.close();
    }
    // The same stream seals once it is given what it needs.
    out.open(dir.file("sealed.nuv").c_str(), with(2, 16, 2));
    out << "after the refusals";
    out.close();
    EXPECT_EQ(out.last_error(), OK);
    EXPECT_EQ(unseal(dir.file("sealed.nuv")).data, "after the refusals");
}

TEST(ZstreamSealed, ReaderRefusesParametersBeyondItsLimits)
{
    TEMP_DIR dir;
    const Bytes file = seal(dir.file("f.nuv"), "data", cheap());
    const Bytes keyed_file = seal(dir.file("k.nuv"), "data", keyed());
    const auto le32 = [](uint32_t v) { return Bytes{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    const struct {
        const char* name;
        const Bytes* file;
        size_t at;
        Bytes bytes;
    } cases[] = {
        {"version 2", &file, 8, "\x02"},
        {"key derivation 3", &file, 9, "\x03"},
        {"AEAD 2", &file, 10, "\x02"},
        {"byte 11 set", &file, 11, "\x01"},
        {"byte 51 set", &file, 51, "\x01"},
        {"no passes", &file, 12, le32(0)},
        {"1 GiB and 8 KiB", &file, 16, le32((1u << 20) + 8)},
        {"1025 passes", &file, 12, le32(1025)},
        {"no lanes", &file, 20, le32(0)},
        {"65 lanes", &file, 16, le32(65 * 8) + le32(65)},
        {"chunks of 1023 bytes", &file, 40, le32(1023)},
        {"chunks of 1 MiB and a byte", &file, 40, le32((1u << 20) + 1)},
        {"HKDF with a cost", &keyed_file, 12, le32(1)},
        {"Argon2id without a cost", &keyed_file, 9, "\x01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes changed = *c.file;
        changed.replace(c.at, c.bytes.size(), c.bytes);
        write_file(dir.file("changed.nuv"), changed);
        const READ read =
            c.file == &file ? unseal(dir.file("changed.nuv")) : unseal(dir.file("changed.nuv"), RAW_KEY, 32);
        EXPECT_EQ(read.error, FORMAT);
        EXPECT_EQ(read.data, "");
        EXPECT_EQ(read.kind, NUV_ZSTREAM_KIND_SEALED);
    }
}

TEST(ZstreamSealed, WholeFileFunctionsAndProbes)
{
    TEMP_DIR dir;
    const Bytes data = make_data(300000, true);
    write_file(dir.file("in.txt"), data);
    const std::string in = dir.file("in.txt"), sealed = dir.file("in.nuv"), out = dir.file("out.txt");
    ASSERT_TRUE(nuv_seal_file(in.c_str(), sealed.c_str(), cheap()));
    EXPECT_TRUE(nuv_is_file_compressed(sealed.c_str()));
    EXPECT_TRUE(nuv_is_file_encrypted(sealed.c_str()));
    NUV_ZIFSTREAM probe;
    EXPECT_TRUE(probe.is_encrypted(sealed.c_str()));
    EXPECT_EQ(probe.kind(), NUV_ZSTREAM_KIND_SEALED);
    EXPECT_EQ(probe.header_length(), int(PREFIX));

    ERROR error = NUV_ZSTREAM_UNKNOWN_ERROR;
    EXPECT_TRUE(nuv_unseal_file(sealed.c_str(), out.c_str(), cheap(), &error));
    EXPECT_EQ(error, OK);
    EXPECT_TRUE(read_file(out) == data);
    EXPECT_TRUE(
        nuv_decrypt_and_decompress_file(sealed.c_str(), dir.file("legacy.txt").c_str(), PASSWORD, true));
    EXPECT_TRUE(read_file(dir.file("legacy.txt")) == data);

    // Failures leave no output behind, and say why.
    nuv_encrypt_and_compress_file(in.c_str(), dir.file("seed.nuv").c_str(), PASSWORD, true, true);
    Bytes cut = read_file(sealed);
    write_file(dir.file("cut.nuv"), cut.substr(0, cut.size() - 1));
    const struct {
        std::string input;
        NUV_SEAL_OPTIONS secret;
        ERROR error;
    } failures[] = {
        {sealed, cheap("wrong"), AUTH},          {dir.file("cut.nuv"), cheap(), AUTH},
        {dir.file("seed.nuv"), cheap(), FORMAT}, {in, cheap(), FORMAT},
        {dir.file("missing.nuv"), cheap(), OK},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.input);
        EXPECT_FALSE(nuv_unseal_file(f.input.c_str(), dir.file("failed.txt").c_str(), f.secret, &error));
        EXPECT_EQ(error, f.error);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(dir.file("failed.txt"))));
    }
    EXPECT_FALSE(nuv_seal_file(dir.file("missing.txt").c_str(), dir.file("none.nuv").c_str(), cheap()));
    EXPECT_FALSE(nuv_seal_file(in.c_str(), dir.file("none.nuv").c_str(), NUV_SEAL_OPTIONS()));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(dir.file("none.nuv"))));
}

// A pipe cannot seek back: the parameters are read once, in order, after the header.
TEST(ZstreamSealed, ReadsFromAPipe)
{
    if (WINDOWS)
        GTEST_SKIP() << "no named pipes by path under wine: nuvz's tests feed standard input there";
    TEMP_DIR dir;
    const Bytes data = make_data(200000, true);
    const Bytes file = seal(dir.file("f.nuv"), data, cheap());
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(0, std::system(("mkfifo " + fifo).c_str()));
    std::thread writer([&] { write_file(fifo, file); });
    const READ read = unseal(fifo);
    writer.join();
    EXPECT_TRUE(read.data == data);
    EXPECT_EQ(read.error, OK);
    EXPECT_TRUE(read.verified);
}

// A decoder written from the header's description of the format alone, with Python's argon2
// and cryptography modules, reads what the library writes: at the default cost too.
TEST(ZstreamSealed, PythonDecoderReadsWhatTheLibraryWrote)
{
    if (WINDOWS)
        GTEST_SKIP() << "no Python on Windows: the Linux builds compare with it";
    TEMP_DIR dir;
    NUV_SEAL_OPTIONS default_cost;
    default_cost.password = PASSWORD;
    const struct {
        const char* name;
        Bytes data;
        NUV_SEAL_OPTIONS options;
        int threads;
    } cases[] = {
        {"empty, cheap password", "", cheap(), 0},
        {"text, default cost", make_data(400000, true), default_cost, 0},
        {"random bytes, raw key, 3 threads", make_data(300000, false), keyed(), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nuv_set_deflate_threads(c.threads);
        seal(dir.file("f.nuv"), c.data, c.options);
        nuv_set_deflate_threads(0);
        std::string secret = std::string("--password '") + PASSWORD + "'";
        if (!c.options.password) {
            secret = "--key ";
            for (int i = 0; i < 32; ++i)
                secret += "0123456789abcdef"[RAW_KEY[i] >> 4], secret += "0123456789abcdef"[RAW_KEY[i] & 15];
        }
        const std::string command =
            "/usr/bin/python3 " NUV_SEALED_DECODER " " + dir.file("f.nuv") + " " + secret;
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        Bytes decoded;
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            decoded.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0);
        EXPECT_EQ(decoded.size(), c.data.size());
        EXPECT_TRUE(decoded == c.data);
    }
}

} // namespace
