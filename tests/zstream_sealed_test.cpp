// The sealed kind: round trips at the chunk edges, wrong secrets, every header and parameter
// bit, damaged bodies, the limits on both sides, the whole-file functions, a pipe, and an
// independent decoder in Python.
#include <nuv/nuv_zstream.h>

#include <gtest/gtest.h>

#include "test_support.h"

#include <cstring>
#include <iterator>
#include <set>
#include <vector>
#include <thread>
#include <tuple>

namespace {

using namespace test_support;
using Bytes = std::string;
using ERROR = NUV_ZSTREAM_ERROR_ENUM;

const ERROR OK = NUV_ZSTREAM_OK, AUTH = NUV_ZSTREAM_AUTH_ERROR, FORMAT = NUV_ZSTREAM_SEAL_FORMAT_ERROR;
const size_t PREFIX = NUV_SEALED_PREFIX_LENGTH, CHUNK = NUV_SEALED_CHUNK_SIZE, TAG = 16;
const size_t SEALED_CHUNK = CHUNK + TAG;
const char PASSWORD[] = "correct horse";
const auto* const RAW_KEY = reinterpret_cast<const unsigned char*>("0123456789abcdef0123456789ABCDEF");

/// Sealing options: a password at the least cost, so that hundreds of reads stay quick, or
/// (with a null password) the raw key, which takes HKDF and no Argon2 at all.
NUV_SEAL_OPTIONS sealing(const char* password, int level = -1)
{
    NUV_SEAL_OPTIONS options;
    options.password = password;
    options.key = password ? nullptr : RAW_KEY;
    options.passes = 1;
    options.memory_kib = 8;
    options.lanes = 1;
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
    return seal(dir.file(name), data, sealing(nullptr, 0));
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
        {"empty", "", sealing(PASSWORD), 0, false},
        {"one byte", "x", sealing(PASSWORD), 0, false},
        {"one byte, raw key", "x", sealing(nullptr), 0, false},
        {"one full chunk", make_data(one_chunk, false), sealing(nullptr, 0), 0, false},
        {"a chunk and a byte", make_data(chunk_plus_one, false), sealing(nullptr, 0), 0, false},
        {"3 MiB of text", make_data(3 << 20, true), sealing(PASSWORD), 0, true},
        {"3 MiB of random bytes", make_data(3 << 20, false), sealing(nullptr), 0, false},
        {"3 MiB of text, 3 threads", make_data(3 << 20, true), sealing(PASSWORD, 9), 3, true},
        {"3 MiB of random bytes, 3 threads", make_data(3 << 20, false), sealing(nullptr, 1), 3, false},
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
    seal(dir.file("password.nuv"), data, sealing(PASSWORD));
    seal(dir.file("key.nuv"), data, sealing(nullptr));
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
    const Bytes file = seal(dir.file("f.nuv"), data, sealing(PASSWORD));
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
        // Version, algorithms and zero bytes are refused; salt and nonce prefix fail the tag;
        // a changed cost or chunk size does either.
        const size_t at = bit / 8;
        const bool refused = (at >= 8 && at < 12) || at == 51,
                   tag = (at >= 24 && at < 40) || (at >= 44 && at < 51);
        EXPECT_TRUE(refused ? read.error == FORMAT
                    : tag   ? read.error == AUTH
                            : read.error == AUTH || read.error == FORMAT)
            << read.error;
        errors.insert(read.error);
    }
    EXPECT_EQ(errors, (std::set<ERROR>{AUTH, FORMAT}));
}

// Every way of damaging the body of a four-chunk file, each with the chunk that must fail
// first: sampled bits of every chunk, cuts at and inside chunks, additions, reordered,
// repeated and foreign chunks.
TEST(ZstreamSealed, DamagedBodiesStopBeforeTheFirstBadChunk)
{
    TEMP_DIR dir;
    const Bytes data = make_data(3 * CHUNK, false);
    const Bytes file = stored_file(dir, data);
    // The same data and key again: a new salt and nonce prefix, so nothing carries over.
    const Bytes other = stored_file(dir, data, "other.nuv");
    ASSERT_EQ((file.size() - PREFIX) / SEALED_CHUNK, 3u);
    const Bytes head = file.substr(0, PREFIX), c0 = chunk(file, 0), c1 = chunk(file, 1), c2 = chunk(file, 2),
                c3 = chunk(file, 3);
    std::vector<std::pair<Bytes, size_t>> damaged = {
        {head + c0 + c2 + c1 + c3, 1},
        {head + c0 + c1 + c1 + c2 + c3, 2},
        {head + c0 + c2 + c3, 1},
        {head + c3 + c1 + c2 + c0, 0},
        {head + c0 + chunk(other, 1) + c2 + c3, 1},
        {head + other.substr(PREFIX), 0},
        {other.substr(0, PREFIX) + file.substr(PREFIX), 0},
        // Anything after the last chunk turns it into a chunk that is not the last.
        {file + '\0', 3},
        {file + c3, 3}};
    for (size_t k = 0; k < 4; ++k) {
        const size_t start = PREFIX + k * SEALED_CHUNK, length = std::min(SEALED_CHUNK, file.size() - start);
        // The first and a middle byte of cipher text, its last, the tag's first and last.
        for (size_t at : {size_t(0), length / 2, length - TAG - 1, length - TAG, length - 1}) {
            damaged.push_back({file, k});
            damaged.back().first[start + at] ^= static_cast<char>(1 << (at + k) % 8);
        }
        // Cut at a boundary, the chunk before it poses as the last one and fails.
        for (size_t into : {size_t(0), size_t(1), CHUNK / 2, CHUNK + 8})
            if (start + into < file.size())
                damaged.push_back({file.substr(0, start + into), into == 0 && k > 0 ? k - 1 : k});
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ", " + std::to_string(damaged[i].first.size()) + " bytes");
        write_file(dir.file("damaged.nuv"), damaged[i].first);
        expect_stopped_before(unseal(dir.file("damaged.nuv"), RAW_KEY, 32), data, damaged[i].second);
    }
    // A cut inside the parameters leaves no sealed container to read.
    for (size_t cut : {size_t(9), size_t(30), PREFIX - 1}) {
        write_file(dir.file("cut.nuv"), file.substr(0, cut));
        EXPECT_EQ(unseal(dir.file("cut.nuv"), RAW_KEY, 32).error, FORMAT) << cut;
    }
}

TEST(ZstreamSealed, RepeatedBlocksShowNoPattern)
{
    TEMP_DIR dir;
    Bytes data;
    while (data.size() < (1u << 20))
        data += "sixteen bytes!!\n";
    // Stored blocks keep every repetition in the zlib stream, where ECB would show it.
    const Bytes file = seal(dir.file("f.nuv"), data, sealing(PASSWORD, 0));
    const auto distinct_blocks = [](const Bytes& bytes, size_t from) {
        std::set<Bytes> blocks;
        for (size_t at = from; at + 16 <= bytes.size(); at += 16)
            blocks.insert(bytes.substr(at, 16));
        return blocks.size();
    };
    EXPECT_EQ(distinct_blocks(file, PREFIX), (file.size() - PREFIX) / 16);
    // The encrypted kind of the same data, for contrast: the repeated block and the padding.
    NUV_ZOFSTREAM ecb(dir.file("ecb.nuv").c_str(), std::ios_base::binary, false, RAW_KEY, 32);
    ecb << data;
    ecb.close();
    EXPECT_EQ(distinct_blocks(read_file(dir.file("ecb.nuv")), 8), 2u);
}

// Each cost out of bounds, refused by the writer (no file) and, written into a file's
// parameters, by the reader; then what only one side sees.
TEST(ZstreamSealed, LimitsOnBothSides)
{
    TEMP_DIR dir;
    const Bytes file = seal(dir.file("f.nuv"), "data", sealing(PASSWORD));
    const Bytes keyed_file = seal(dir.file("k.nuv"), "data", sealing(nullptr));
    const auto le32 = [](uint32_t v) { return Bytes{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    const auto reads = [&](const Bytes& changed, bool keyed) {
        write_file(dir.file("changed.nuv"), changed);
        const READ read =
            keyed ? unseal(dir.file("changed.nuv"), RAW_KEY, 32) : unseal(dir.file("changed.nuv"));
        return std::make_tuple(read.error, read.data, read.kind);
    };
    const std::tuple<ERROR, Bytes, NUV_ZSTREAM_KIND> refused{FORMAT, "", NUV_ZSTREAM_KIND_SEALED};
    const uint32_t costs[][3] = {{0, 64, 1}, {1, 64, 0},   {1, 65 * 8, 65},
                                 {1, 31, 4}, {1025, 8, 1}, {1, (1u << 20) + 8, 1}};
    NUV_ZOFSTREAM out;
    for (const auto& [passes, memory, lanes] : costs) {
        SCOPED_TRACE(testing::Message() << "t=" << passes << " m=" << memory << " p=" << lanes);
        NUV_SEAL_OPTIONS options = sealing(PASSWORD);
        options.passes = passes, options.memory_kib = memory, options.lanes = lanes;
        out.open(dir.file("refused.nuv").c_str(), options);
        EXPECT_FALSE(out.good());
        EXPECT_EQ(out.last_error(), FORMAT);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(dir.file("refused.nuv"))));
        out.close();
        EXPECT_EQ(reads(Bytes(file).replace(12, 12, le32(passes) + le32(memory) + le32(lanes)), false),
                  refused);
    }
    for (const NUV_SEAL_OPTIONS& options : {NUV_SEAL_OPTIONS(), sealing("")}) { // no secret, an empty one
        out.open(dir.file("refused.nuv").c_str(), options);
        EXPECT_EQ(out.last_error(), FORMAT);
        out.close();
    }
    EXPECT_EQ(reads(Bytes(file).replace(40, 4, le32(1023)), false), refused);
    EXPECT_EQ(reads(Bytes(file).replace(40, 4, le32((1u << 20) + 1)), false), refused);
    EXPECT_EQ(reads(Bytes(keyed_file).replace(12, 4, le32(1)), true), refused); // HKDF with a cost
    EXPECT_EQ(reads(Bytes(keyed_file).replace(9, 1, "\x01"), true), refused);   // Argon2id without one
    // The same writer seals once it is given what it needs.
    NUV_SEAL_OPTIONS options = sealing(PASSWORD);
    options.passes = 2, options.memory_kib = 16, options.lanes = 2;
    out.open(dir.file("sealed.nuv").c_str(), options);
    out << "after the refusals";
    out.close();
    EXPECT_EQ(out.last_error(), OK);
    EXPECT_EQ(unseal(dir.file("sealed.nuv")).data, "after the refusals");
}

TEST(ZstreamSealed, WholeFileFunctionsAndProbes)
{
    TEMP_DIR dir;
    const Bytes data = make_data(300000, true);
    write_file(dir.file("in.txt"), data);
    const std::string in = dir.file("in.txt"), sealed = dir.file("in.nuv"), out = dir.file("out.txt");
    ASSERT_TRUE(nuv_seal_file(in.c_str(), sealed.c_str(), sealing(PASSWORD)));
    EXPECT_TRUE(nuv_is_file_compressed(sealed.c_str()));
    EXPECT_TRUE(nuv_is_file_encrypted(sealed.c_str()));
    NUV_ZIFSTREAM probe;
    EXPECT_TRUE(probe.is_encrypted(sealed.c_str()));
    EXPECT_EQ(probe.kind(), NUV_ZSTREAM_KIND_SEALED);
    EXPECT_EQ(probe.header_length(), int(PREFIX));

    ERROR error = NUV_ZSTREAM_UNKNOWN_ERROR;
    EXPECT_TRUE(nuv_unseal_file(sealed.c_str(), out.c_str(), sealing(PASSWORD), &error));
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
        {sealed, sealing("wrong"), AUTH},
        {dir.file("cut.nuv"), sealing(PASSWORD), AUTH},
        {dir.file("seed.nuv"), sealing(PASSWORD), FORMAT},
        {in, sealing(PASSWORD), FORMAT},
        {dir.file("missing.nuv"), sealing(PASSWORD), OK},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.input);
        EXPECT_FALSE(nuv_unseal_file(f.input.c_str(), dir.file("failed.txt").c_str(), f.secret, &error));
        EXPECT_EQ(error, f.error);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(dir.file("failed.txt"))));
    }
    EXPECT_FALSE(
        nuv_seal_file(dir.file("missing.txt").c_str(), dir.file("none.nuv").c_str(), sealing(PASSWORD)));
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
    const Bytes file = seal(dir.file("f.nuv"), data, sealing(PASSWORD));
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
        {"empty, cheap password", "", sealing(PASSWORD), 0},
        {"text, default cost", make_data(400000, true), default_cost, 0},
        {"random bytes, raw key, 3 threads", make_data(300000, false), sealing(nullptr), 3},
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
